; Finding the player's folder and making sure the player is not running.

; Sets $INSTDIR to the first of these that holds winamp.exe: the player's own registry entry,
; its uninstall entry, $PROGRAMFILES\Winamp. When none does, the first one that names a folder,
; for the user to confirm or change on the directory page.
Function FindPlayer
  StrCpy $R5 ""
  ReadRegStr $R3 HKCU "Software\Winamp" ""
  Call ConsiderFolder
  ReadRegStr $R3 HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp" "UninstallString"
  ${If} $R3 == ""
    ReadRegStr $R3 HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp" "UninstallString"
  ${EndIf}
  ${If} $R3 != ""
    ; "C:\Program Files\Winamp\UninstWA.exe": the folder of the program it names.
    StrCpy $R4 $R3 1
    ${If} $R4 == '"'
      StrCpy $R3 $R3 "" 1
      StrCpy $R4 $R3 "" -1
      ${If} $R4 == '"'
        StrCpy $R3 $R3 -1
      ${EndIf}
    ${EndIf}
    ${GetParent} $R3 $R3
  ${EndIf}
  Call ConsiderFolder
  StrCpy $R3 "$PROGRAMFILES\Winamp"
  Call ConsiderFolder
  ${If} $INSTDIR == ""
    StrCpy $INSTDIR $R5
  ${EndIf}
FunctionEnd

; $R3: a candidate folder. Takes it when it holds the player; remembers the first one in $R5.
Function ConsiderFolder
  ${If} $R3 == ""
  ${OrIf} $INSTDIR != ""
    Return
  ${EndIf}
  ${If} $R5 == ""
    StrCpy $R5 $R3
  ${EndIf}
  ${If} ${FileExists} "$R3\winamp.exe"
    StrCpy $INSTDIR $R3
  ${EndIf}
FunctionEnd

; The player's folder matters to the plugin alone.
Function DirectoryPre
  ${IfNot} ${SectionIsSelected} ${SEC_PLUGIN}
    Abort
  ${EndIf}
FunctionEnd

Function DirectoryLeave
  ${IfNot} ${FileExists} "$INSTDIR\winamp.exe"
    MessageBox MB_OK|MB_ICONEXCLAMATION "$INSTDIR does not hold Winamp's program, winamp.exe.$\r$\n$\r$\nChoose the folder Winamp is installed in."
    Abort
  ${EndIf}
  Call WaitForPlayerClosed
FunctionEnd

; A running player holds lumo.dll and lumolink.dll open: the user closes it, or setup stops.
!macro WAIT_FOR_PLAYER_CLOSED un
Function ${un}WaitForPlayerClosed
  ${Do}
    FindWindow $R0 "${PLAYER_WINDOW}"
    ${If} $R0 == 0
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Winamp is running. Please close it first, then click Retry." /SD IDCANCEL IDRETRY +2
    ${Break}
  ${Loop}
  ; On the directory page this keeps the user there; during the install it stops it.
  SetErrorLevel ${EXIT_PLAYER_RUNNING}
  Abort
FunctionEnd
!macroend
!insertmacro WAIT_FOR_PLAYER_CLOSED ""
!insertmacro WAIT_FOR_PLAYER_CLOSED "un."
