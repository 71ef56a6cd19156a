; Putting the files in place so that an install that fails half way leaves everything as it
; was: an old copy is kept aside as <name>.lumo-old until the whole install has succeeded.

; Puts NAME from the package into DIR; sets FLAG to 1 once the new copy is there. (IfErrors,
; and so ${Errors}, clears the flag it tests: each flag is tested once, right after its call.)
!macro PLACE DIR NAME FLAG
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
  ${If} $FailedFile == ""
    File "/oname=${DIR}\${NAME}" "${DIST}\${NAME}"
    ; File may skip a target it cannot write without a word: the new copy must be there.
    StrCpy $R8 0
    FileOpen $R9 "${DIR}\${NAME}" r
    ${If} $R9 != ""
      FileSeek $R9 0 END $R8
      FileClose $R9
    ${EndIf}
    ${If} $R8 <= 0
      StrCpy $FailedFile "${DIR}\${NAME}"
    ${EndIf}
  ${EndIf}
  ${If} $FailedFile != ""
    Call RollBack
  ${EndIf}
  StrCpy ${FLAG} 1
!macroend

!macro PUT_BACK DIR NAME FLAG
  ${If} ${FLAG} == 1
    Delete "${DIR}\${NAME}"
  ${EndIf}
  ${If} ${FileExists} "${DIR}\${NAME}.lumo-old"
    Rename "${DIR}\${NAME}.lumo-old" "${DIR}\${NAME}"
  ${EndIf}
!macroend

; Undoes what the install has done so far, says what failed, and stops.
Function RollBack
  Delete "$INSTDIR\Plugins\${UNINSTALLER}"
  ${If} ${FileExists} "${SETTINGS}.lumo-old"
    Delete "${SETTINGS}"
    Rename "${SETTINGS}.lumo-old" "${SETTINGS}"
  ${ElseIf} $CreatedSettings == 1
    Delete "${SETTINGS}"
  ${EndIf}
  !insertmacro PUT_BACK "$INSTDIR" "lumolink.dll" $PlacedLibrary
  !insertmacro PUT_BACK "$INSTDIR\Plugins" "lumo.dll" $PlacedPlugin
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  SetErrorLevel ${EXIT_WRITE_FAILED}
  MessageBox MB_OK|MB_ICONSTOP "Setup could not write $FailedFile.$\r$\nNothing was installed." /SD IDOK
  Abort
FunctionEnd

; Writes the port into the sections of all three modes, keeping the rest of the file. A silent
; install without /COM= keeps the port already set, and creates an empty file where there is
; none, so that there is a file for GrantSettings to open to the machine's users.
Function WritePort
  ; One left by an install that was stopped short must never be taken for this one's.
  Delete "${SETTINGS}.lumo-old"
  ${If} $Port == ""
    ${IfNot} ${FileExists} "${SETTINGS}"
      StrCpy $CreatedSettings 1
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
  ${If} ${FileExists} "${SETTINGS}"
    ClearErrors
    CopyFiles /SILENT "${SETTINGS}" "${SETTINGS}.lumo-old"
    ${If} ${Errors}
      StrCpy $FailedFile "${SETTINGS}"
      Call RollBack
    ${EndIf}
  ${Else}
    StrCpy $CreatedSettings 1
  ${EndIf}
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

; Windows' list of installed programs.
Function Register
  ClearErrors
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} (LED cube visualisation for Winamp)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
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
Function GrantSettings
  DetailPrint "Letting the machine's users change ${SETTINGS}"
  nsExec::Exec '"$SYSDIR\icacls.exe" "${SETTINGS}" /grant *S-1-5-32-545:(M)'
  Pop $R9 ; the exit code, or "error" when it could not run: either way the install goes on
FunctionEnd

Function DropOldCopies
  Delete "$INSTDIR\Plugins\lumo.dll.lumo-old"
  Delete "$INSTDIR\lumolink.dll.lumo-old"
  Delete "${SETTINGS}.lumo-old"
FunctionEnd
