; Putting the files in place so that an install that fails half way leaves everything as it
; was: an old copy is kept aside as <name>.lumo-old until the whole install has succeeded, and
; each step records what it changed, for RollBack to undo.

Var FailedFile
Var PlacedPlugin        ; 1 once the file is this install's (its old copy, if any, set aside)
Var PlacedLibrary
Var PlacedListener
Var PlacedListenLibrary
Var PlacedUninstaller
Var UninstallFolder     ; where this install's uninstaller goes
Var PluginSettings      ; lumo.ini, lumolisten.ini, the shortcut: "kept" (a copy set aside)
Var ListenSettings      ; or "created"
Var ListenShortcut
Var CreatedListenDir
Var StartupChanged      ; 1 once the logon entry was written or removed; OldStartup held it
Var OldStartup
Var CreatedRegistration

; Moves an old DIR\NAME aside; sets $FailedFile when it cannot.
!macro SET_ASIDE DIR NAME
  Delete "${DIR}\${NAME}.lumo-old"
  ${GetFileAttributes} "${DIR}\${NAME}" "DIRECTORY" $R9
  ${If} $R9 == 1
    StrCpy $FailedFile "${DIR}\${NAME}" ; a folder of that name: no file can go there
  ${ElseIf} ${FileExists} "${DIR}\${NAME}"
    ClearErrors
    Rename "${DIR}\${NAME}" "${DIR}\${NAME}.lumo-old"
    ${If} ${Errors}
      StrCpy $FailedFile "${DIR}\${NAME}"
    ${EndIf}
  ${EndIf}
!macroend

; File and WriteUninstaller may skip a target they cannot write without a word: the new copy
; must be there. Sets $FailedFile when it is not.
!macro CHECK_WRITTEN FILE
  StrCpy $R8 0
  FileOpen $R9 "${FILE}" r
  ${If} $R9 != ""
    FileSeek $R9 0 END $R8
    FileClose $R9
  ${EndIf}
  ${If} $R8 <= 0
    StrCpy $FailedFile "${FILE}"
  ${EndIf}
!macroend

; Puts NAME from the package into DIR. FLAG becomes 1 once whatever lies at DIR\NAME is this
; install's to remove. (IfErrors, and so ${Errors}, clears the flag it tests: each flag is
; tested once, right after its call.)
!macro PLACE DIR NAME FLAG
  !insertmacro SET_ASIDE "${DIR}" "${NAME}"
  ${If} $FailedFile == ""
    StrCpy ${FLAG} 1
    File "/oname=${DIR}\${NAME}" "${DIST}\${NAME}"
    !insertmacro CHECK_WRITTEN "${DIR}\${NAME}"
  ${EndIf}
  ${If} $FailedFile != ""
    Call RollBack
  ${EndIf}
!macroend

!macro PUT_BACK DIR NAME FLAG
  ${If} ${FLAG} == 1
    Delete "${DIR}\${NAME}"
    ${If} ${FileExists} "${DIR}\${NAME}.lumo-old"
      Rename "${DIR}\${NAME}.lumo-old" "${DIR}\${NAME}"
    ${EndIf}
  ${EndIf}
!macroend

; Before a file is changed in place: a copy of it at ASIDE, or a note that this install
; creates it.
!macro KEEP_COPY FILE ASIDE STATE
  Delete "${ASIDE}"
  ${GetFileAttributes} "${FILE}" "DIRECTORY" $R9
  ${If} $R9 == 1
    StrCpy $FailedFile "${FILE}"
    Call RollBack
  ${ElseIf} ${FileExists} "${FILE}"
    ClearErrors
    CopyFiles /SILENT "${FILE}" "${ASIDE}"
    ${If} ${Errors}
      StrCpy $FailedFile "${FILE}"
      Call RollBack
    ${EndIf}
    StrCpy ${STATE} "kept"
  ${Else}
    StrCpy ${STATE} "created"
  ${EndIf}
!macroend

!macro PUT_COPY_BACK FILE ASIDE STATE
  ${If} ${STATE} == "kept"
    Delete "${FILE}"
    ClearErrors
    Rename "${ASIDE}" "${FILE}"
    ${If} ${Errors} ; from another drive
      CopyFiles /SILENT "${ASIDE}" "${FILE}"
    ${EndIf}
  ${ElseIf} ${STATE} == "created"
    Delete "${FILE}"
  ${EndIf}
!macroend

!macro KEEP_SETTINGS FILE STATE
  !insertmacro KEEP_COPY "${FILE}" "${FILE}.lumo-old" ${STATE}
!macroend

!macro PUT_SETTINGS_BACK FILE STATE
  !insertmacro PUT_COPY_BACK "${FILE}" "${FILE}.lumo-old" ${STATE}
!macroend

; Undoes what the install has done so far, in the reverse order, says what failed, and stops.
Function RollBack
  ${If} $CreatedRegistration == 1
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
  ${If} $StartupChanged == 1
    ${If} $OldStartup == ""
      DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    ${Else}
      WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" $OldStartup
    ${EndIf}
  ${EndIf}
  ${If} $UninstallFolder != ""
    !insertmacro PUT_BACK "$UninstallFolder" "${UNINSTALLER}" $PlacedUninstaller
  ${EndIf}
  !insertmacro PUT_COPY_BACK "${LISTEN_SHORTCUT}" "${OLD_SHORTCUT}" $ListenShortcut
  !insertmacro PUT_SETTINGS_BACK "${LISTEN_SETTINGS}" $ListenSettings
  !insertmacro PUT_BACK "${LISTEN_DIR}" "lumolink.dll" $PlacedListenLibrary
  !insertmacro PUT_BACK "${LISTEN_DIR}" "lumolisten.exe" $PlacedListener
  ${If} $CreatedListenDir == 1
    RMDir "${LISTEN_DIR}"
  ${EndIf}
  !insertmacro PUT_SETTINGS_BACK "${SETTINGS}" $PluginSettings
  !insertmacro PUT_BACK "$INSTDIR" "lumolink.dll" $PlacedLibrary
  !insertmacro PUT_BACK "$INSTDIR\Plugins" "lumo.dll" $PlacedPlugin
  SetErrorLevel ${EXIT_WRITE_FAILED}
  MessageBox MB_OK|MB_ICONSTOP "Setup could not write $FailedFile.$\r$\nNothing was installed." /SD IDOK
  ; A Lumo Listen this install stopped runs again, from its own files put back.
  Call StartStoppedListener
  Abort
FunctionEnd

; Writes the port into the sections of all three modes, keeping the rest of the file. A silent
; install without /COM= keeps the port already set, and creates an empty file where there is
; none, so that there is a file for GrantSettings to open to the machine's users.
Function WritePort
  ${If} $Port == ""
    ${IfNot} ${FileExists} "${SETTINGS}"
      ; One left by an install that was stopped short must never be taken for this one's.
      Delete "${SETTINGS}.lumo-old"
      StrCpy $PluginSettings "created"
      ClearErrors
      FileOpen $R9 "${SETTINGS}" w
      ${If} ${Errors}
        StrCpy $FailedFile "${SETTINGS}"
        Call RollBack
      ${EndIf}
      FileClose $R9
    ${EndIf}
    Return
  ${EndIf}
  !insertmacro KEEP_SETTINGS "${SETTINGS}" $PluginSettings
  ClearErrors
  WriteINIStr "${SETTINGS}" "Star" "COMPort" $Port
  WriteINIStr "${SETTINGS}" "Levels" "COMPort" $Port
  WriteINIStr "${SETTINGS}" "NewStar" "COMPort" $Port
  ${If} ${Errors}
    StrCpy $FailedFile "${SETTINGS}"
    Call RollBack
  ${EndIf}
  ; The profile functions may keep the file in a cache; a flush reports no error to act on.
  FlushINI "${SETTINGS}"
FunctionEnd

; A part installed before and left out this time stays installed: the uninstaller written now
; must remove it too. (An install of the plugin alone registered the player's folder as its
; install location.)
Function RecallParts
  ${If} $PluginFolder == ""
    ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "PluginFolder"
    ${If} $R0 == ""
      ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${EndIf}
    ${If} $R0 != ""
    ${AndIf} ${FileExists} "$R0\Plugins\lumo.dll"
      StrCpy $PluginFolder $R0
    ${EndIf}
  ${EndIf}
  ${If} $ListenerFolder == ""
    ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "ListenerFolder"
    ${If} $R0 != ""
    ${AndIf} ${FileExists} "$R0\lumolisten.exe"
      StrCpy $ListenerFolder $R0
    ${EndIf}
  ${EndIf}
FunctionEnd

; One uninstaller for whatever is installed: beside Lumo Listen when it is, otherwise in the
; Plugins folder, where installs of the plugin alone have always put it.
Function PlaceUninstaller
  ${If} $ListenerFolder != ""
    StrCpy $UninstallFolder $ListenerFolder
  ${Else}
    StrCpy $UninstallFolder "$PluginFolder\Plugins"
  ${EndIf}
  !insertmacro SET_ASIDE "$UninstallFolder" "${UNINSTALLER}"
  ${If} $FailedFile == ""
    StrCpy $PlacedUninstaller 1
    ClearErrors
    WriteUninstaller "$UninstallFolder\${UNINSTALLER}"
    ${If} ${Errors}
      StrCpy $FailedFile "$UninstallFolder\${UNINSTALLER}"
    ${Else}
      !insertmacro CHECK_WRITTEN "$UninstallFolder\${UNINSTALLER}"
    ${EndIf}
  ${EndIf}
  ${If} $FailedFile != ""
    Call RollBack
  ${EndIf}
FunctionEnd

; Windows' list of installed programs: one entry for the product, whichever parts it has. A
; registration that fails half way over an older one leaves that one's values partly updated:
; writing the old ones back would fail as the new ones did.
Function Register
  ClearErrors
  ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "UninstallString"
  ${If} ${Errors}
    StrCpy $CreatedRegistration 1
  ${EndIf}
  ${If} $PluginFolder == ""
    StrCpy $R0 "${PRODUCT} (Lumo Listen: the LED cube lit by what this PC plays)"
    StrCpy $R1 $ListenerFolder
  ${ElseIf} $ListenerFolder == ""
    StrCpy $R0 "${PRODUCT} (LED cube visualisation for Winamp)"
    StrCpy $R1 $PluginFolder
  ${Else}
    StrCpy $R0 "${PRODUCT} (LED cube visualisation for Winamp, and Lumo Listen)"
    StrCpy $R1 $ListenerFolder
  ${EndIf}
  ClearErrors
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" $R0
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" $R1
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$UninstallFolder\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$UninstallFolder\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; Where the uninstaller finds each part.
  ${If} $PluginFolder != ""
    WriteRegStr HKLM "${UNINSTALL_KEY}" "PluginFolder" $PluginFolder
  ${EndIf}
  ${If} $ListenerFolder != ""
    WriteRegStr HKLM "${UNINSTALL_KEY}" "ListenerFolder" $ListenerFolder
  ${EndIf}
  ${If} ${Errors}
    StrCpy $FailedFile "HKLM\${UNINSTALL_KEY}"
    Call RollBack
  ${EndIf}
FunctionEnd

; The player runs as a standard user, who may not write into Program Files: its writes of
; lumo.ini would be refused or, for a player Windows virtualises, go to a copy in the user's
; VirtualStore that later reads prefer over the port this setup writes. So the machine's users
; may change the file: the Users group, by its SID, because its name differs with Windows'
; language. icacls (from Windows Vista on, where this matters) says plainly what it asks of
; Windows; without it, or when the grant fails, the file is as it always was and the install
; goes on. It runs once nothing can fail, so a rolled-back install has changed no permissions.
; (lumolisten.ini needs no grant: a user's own choices go into their %APPDATA%.)
Function GrantSettings
  DetailPrint "Letting the machine's users change ${SETTINGS}"
  nsExec::Exec '"$SYSDIR\icacls.exe" "${SETTINGS}" /grant *S-1-5-32-545:(M)'
  Pop $R9 ; the exit code, or "error" when it could not run: either way the install goes on
FunctionEnd

Function DropOldCopies
  Delete "$INSTDIR\Plugins\lumo.dll.lumo-old"
  Delete "$INSTDIR\lumolink.dll.lumo-old"
  Delete "${SETTINGS}.lumo-old"
  Delete "${LISTEN_DIR}\lumolisten.exe.lumo-old"
  Delete "${LISTEN_DIR}\lumolink.dll.lumo-old"
  Delete "${LISTEN_SETTINGS}.lumo-old"
  Delete "$UninstallFolder\${UNINSTALLER}.lumo-old"
  ; An install of the plugin alone left its uninstaller in Plugins; the one beside Lumo Listen
  ; now removes both parts.
  ${If} $UninstallFolder == $ListenerFolder
  ${AndIf} $PluginFolder != ""
    Delete "$PluginFolder\Plugins\${UNINSTALLER}"
  ${EndIf}
FunctionEnd
