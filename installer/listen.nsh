; Lumo Listen: its files in ${LISTEN_DIR}, the port every user of the machine starts with, its
; Start menu shortcut, starting it at logon and now, and stopping it before its files change.

!define LISTENER_WINDOW "LumoListenTray" ; the class of its hidden window
!define LISTENER_STOP_MS 10000
!define SYNCHRONIZE 0x00100000

Var ListenerStopped ; 1 when this install stopped a running Lumo Listen
Var NetworkBox      ; the finish page's "Let other programs light the cube"

; A running Lumo Listen is stopped before its files are replaced.
Function PrepareListenerFolder
  Call StopListener
  ${IfNot} ${FileExists} "${LISTEN_DIR}\*.*"
    StrCpy $CreatedListenDir 1
    ClearErrors
    CreateDirectory "${LISTEN_DIR}"
    ${If} ${Errors}
      StrCpy $FailedFile "${LISTEN_DIR}"
      Call RollBack
    ${EndIf}
  ${EndIf}
FunctionEnd

; A running Lumo Listen holds its program, its lumolink.dll and the cube's port. Asked to close
; as Windows' taskkill and the end of a session ask it, it darkens the cube, sends the stop
; byte and lets the port go; its process ending says it is done. Each one found is waited for
; within a limit: one that hangs is left, and files it holds are replaced or removed as far as
; Windows allows.
!macro STOP_LISTENER un
Function ${un}StopListener
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $3 0
  ${Do}
    FindWindow $0 "${LISTENER_WINDOW}"
    ${If} $0 == 0
    ${OrIf} $0 == $3 ; the one already waited for, hung
      ${Break}
    ${EndIf}
    StrCpy $3 $0
    DetailPrint "Stopping Lumo Listen"
    !if "${un}" == ""
      StrCpy $ListenerStopped 1
    !endif
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i 0 r1)'
    System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p.r2'
    System::Call 'user32::PostMessageW(p r0, i ${WM_CLOSE}, p 0, p 0)'
    ${If} $2 <> 0
      System::Call 'kernel32::WaitForSingleObject(p r2, i ${LISTENER_STOP_MS})'
      System::Call 'kernel32::CloseHandle(p r2)'
    ${Else}
      ; No handle to wait on: its window going is the next best sign.
      StrCpy $1 0
      ${Do}
        System::Call 'user32::IsWindow(p r0) i.r2'
        ${If} $2 == 0
        ${OrIf} $1 >= ${LISTENER_STOP_MS}
          ${Break}
        ${EndIf}
        Sleep 100
        IntOp $1 $1 + 100
      ${Loop}
    ${EndIf}
  ${Loop}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro STOP_LISTENER ""
!insertmacro STOP_LISTENER "un."

; lumolisten.ini beside the program holds the port every user of the machine starts with until
; they pick one from its icon (their choice goes into their own %APPDATA%\lumo). The port chosen
; here; without one (a silent install without /COM=), the file is kept as it is, or made with
; the port the plugin already uses. Whatever else the file holds is kept.
Function WriteListenerPort
  StrCpy $R0 $Port
  ${If} $R0 == ""
    ${If} ${FileExists} "${LISTEN_SETTINGS}"
      Return
    ${EndIf}
    ReadINIStr $R1 "${SETTINGS}" "Star" "COMPort"
    Push $R1
    Call ParsePort
    Pop $R0
    ${If} $R0 == ""
      Return ; it starts on COM1, as it would with the file
    ${EndIf}
  ${EndIf}
  !insertmacro KEEP_SETTINGS "${LISTEN_SETTINGS}" $ListenSettings
  ClearErrors
  WriteINIStr "${LISTEN_SETTINGS}" "lumolisten" "Port" $R0
  ${If} ${Errors}
    StrCpy $FailedFile "${LISTEN_SETTINGS}"
    Call RollBack
  ${EndIf}
  FlushINI "${LISTEN_SETTINGS}"
FunctionEnd

; Whether other lighting programs may light the cube through Lumo Listen, for every user who has
; not chosen for themselves: /NETWORK=1 or 0 writes it with the port, kept with the file should
; the install fail; the finish page's box writes it once the install is done.
Function WriteListenerNetwork
  ${If} $NetworkSwitch == ""
    Return
  ${EndIf}
  ${If} $ListenSettings == ""
    !insertmacro KEEP_SETTINGS "${LISTEN_SETTINGS}" $ListenSettings
  ${EndIf}
  ClearErrors
  ${If} $NetworkSwitch == "1"
    WriteINIStr "${LISTEN_SETTINGS}" "lumolisten" "Network" "on"
  ${Else}
    WriteINIStr "${LISTEN_SETTINGS}" "lumolisten" "Network" "off"
  ${EndIf}
  ${If} ${Errors}
    StrCpy $FailedFile "${LISTEN_SETTINGS}"
    Call RollBack
  ${EndIf}
  FlushINI "${LISTEN_SETTINGS}"
FunctionEnd

; An earlier shortcut is kept aside outside the Start menu, where a copy would show as an entry.
Function CreateListenerShortcut
  InitPluginsDir
  !insertmacro KEEP_COPY "${LISTEN_SHORTCUT}" "${OLD_SHORTCUT}" $ListenShortcut
  ClearErrors
  CreateShortcut "${LISTEN_SHORTCUT}" "${LISTEN_DIR}\lumolisten.exe" "" "" "" SW_SHOWNORMAL "" "Lights the LED cube from whatever this PC plays"
  ${If} ${Errors}
    StrCpy $FailedFile "${LISTEN_SHORTCUT}"
    Call RollBack
  ${EndIf}
FunctionEnd

; /STARTUP=1 or 0 for a silent install; without it the entry stays as an earlier install left it.
Function StartupAsAsked
  ${If} $StartupSwitch == ""
  ${OrIf} $ListenerFolder == ""
    Return
  ${EndIf}
  ReadRegStr $OldStartup HKLM "${RUN_KEY}" "${RUN_VALUE}"
  StrCpy $StartupChanged 1
  ${If} $StartupSwitch == "1"
    ClearErrors
    WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$ListenerFolder\lumolisten.exe"'
    ${If} ${Errors}
      StrCpy $FailedFile "HKLM\${RUN_KEY}"
      Call RollBack
    ${EndIf}
  ${Else}
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
FunctionEnd

; Setup runs as an administrator, and whatever it starts itself runs as one too: a tray program
; so started would sit in the user's session with the administrator's rights, and read and save
; the administrator's settings rather than the user's. The shell runs as the user who is logged
; on: handed the program, it starts it as that user, unelevated.
Function StartListenerAsUser
  Exec '"$WINDIR\explorer.exe" "${LISTEN_DIR}\lumolisten.exe"'
FunctionEnd

Function StartStoppedListener
  ${If} $ListenerStopped == 1
  ${AndIf} ${FileExists} "${LISTEN_DIR}\lumolisten.exe"
    StrCpy $ListenerStopped 0
    Call StartListenerAsUser
  ${EndIf}
FunctionEnd

Function StartAtEveryLogon
  WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"${LISTEN_DIR}\lumolisten.exe"'
FunctionEnd

; The finish page speaks of the parts installed; its boxes are Lumo Listen's, for an install
; that put it in place. The logon box shows what the machine does now, unless /STARTUP= says.
Function FinishShow
  StrCpy $R0 "Connect the cube."
  ${If} $PlacedPlugin == 1
    StrCpy $R0 "$R0 In Winamp, pick $\"LED-Lumo 5 - Visualization$\" in the visualisation preferences."
  ${EndIf}
  ${If} $PlacedListener == 1
    StrCpy $R0 "$R0 Lumo Listen lights it from whatever this PC plays; its icon sits beside the clock."
  ${EndIf}
  StrCpy $R0 "$R0$\r$\n$\r$\nRun this setup again to change the cube's port."
  ${NSD_SetText} $mui.FinishPage.Text $R0
  ${If} $PlacedListener != 1
    ${NSD_Uncheck} $mui.FinishPage.Run
    ${NSD_Uncheck} $mui.FinishPage.ShowReadme
    ShowWindow $mui.FinishPage.Run ${SW_HIDE}
    ShowWindow $mui.FinishPage.ShowReadme ${SW_HIDE}
    Return
  ${EndIf}
  ${If} $StartupSwitch == ""
    ReadRegStr $R1 HKLM "${RUN_KEY}" "${RUN_VALUE}"
    ${If} $R1 != ""
      ${NSD_Check} $mui.FinishPage.ShowReadme
    ${EndIf}
  ${ElseIf} $StartupSwitch == "1"
    ${NSD_Check} $mui.FinishPage.ShowReadme
  ${EndIf}
  ; Off unless ticked: a listener that opens ports to the network is the user's choice. It shows
  ; what the machine does now, unless /NETWORK= says.
  ${NSD_CreateCheckbox} 120u 150u 195u 10u "Let other programs light the cube (E1.31, DDP)"
  Pop $NetworkBox
  SetCtlColors $NetworkBox "${MUI_TEXTCOLOR}" "${MUI_BGCOLOR}"
  ${If} $NetworkSwitch == ""
    ReadINIStr $R1 "${LISTEN_SETTINGS}" "lumolisten" "Network"
    ${If} $R1 == "on"
      ${NSD_Check} $NetworkBox
    ${EndIf}
  ${ElseIf} $NetworkSwitch == "1"
    ${NSD_Check} $NetworkBox
  ${EndIf}
FunctionEnd

; A box cleared takes the logon entry away; a box ticked has StartAtEveryLogon write it. The
; network box is written as it stands, before Lumo Listen is started, which reads it.
Function FinishLeave
  ${If} $PlacedListener == 1
    ${NSD_GetState} $mui.FinishPage.ShowReadme $R0
    ${If} $R0 != ${BST_CHECKED}
      DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    ${EndIf}
    ${NSD_GetState} $NetworkBox $R0
    ${If} $R0 == ${BST_CHECKED}
      WriteINIStr "${LISTEN_SETTINGS}" "lumolisten" "Network" "on"
    ${Else}
      WriteINIStr "${LISTEN_SETTINGS}" "lumolisten" "Network" "off"
    ${EndIf}
    FlushINI "${LISTEN_SETTINGS}"
  ${EndIf}
FunctionEnd

Function un.RemoveListener
  Call un.StopListener
  ; Files another user's Lumo Listen still holds go when Windows next starts.
  Delete /REBOOTOK "$ListenerFolder\lumolisten.exe"
  Delete /REBOOTOK "$ListenerFolder\lumolink.dll"
  ; The defaults file is setup's own; what each user chose lies in their %APPDATA% and stays.
  Delete "$ListenerFolder\lumolisten.ini"
  Delete "${LISTEN_SHORTCUT}"
  DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ; Its menu's "Start with Windows" writes the user's own entry: this user's goes when it starts
  ; this copy. Other users' are out of reach; Windows passes over a program that is gone.
  ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $0 == '"$ListenerFolder\lumolisten.exe"'
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
FunctionEnd
