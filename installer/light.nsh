; "Light the cube" on the port page: the port chosen is opened through the very lumolink.dll
; this setup installs, taken from its own files into $PLUGINSDIR (nothing is written to the
; player's folder before the install), every LED is lit for two seconds, then the cube goes dark
; and the port is closed. A timer ends it, so the page stays responsive meanwhile, and every way
; off the page ends it first: the setup never leaves the port open.

!define LIGHT_MS 2000
!define CUBE_START_BYTE 0x4C
!define CUBE_STOP_BYTE 0x4E
!define LEVEL_ALL_LIT 127 ; setLevel's frame for it lights all 125 LEDs
!define LEVEL_DARK 0      ; and this one none
!define LIGHT_LIBRARY "$PLUGINSDIR\lumolink.dll"

Var LightButton
Var LightStatus
Var LightLibrary ; lumolink.dll's module while its port is open; empty otherwise
Var LightOpen    ; its exports, all __cdecl
Var LightClose
Var LightSendChar
Var LightSetLevel
Var LightPort    ; "COM5", for the texts

; Pops the button. Ends a test still running, then starts one on the port chosen now.
Function LightButtonClick
  Pop $R0
  Call EndLightTest
  Call SelectedPort
  Pop $R0
  ${If} $R0 == ""
    Return
  ${EndIf}
  StrCpy $LightPort "COM$R0"
  ${IfNot} ${FileExists} "${LIGHT_LIBRARY}"
    File "/oname=${LIGHT_LIBRARY}" "${DIST}\lumolink.dll"
  ${EndIf}
  System::Call 'kernel32::LoadLibraryW(w "${LIGHT_LIBRARY}") p.r1'
  ${If} $1 == 0
    ${NSD_SetText} $LightStatus "Cannot load lumolink.dll"
    Return
  ${EndIf}
  StrCpy $LightLibrary $1
  System::Call 'kernel32::GetProcAddress(p $LightLibrary, m "Open") p.r1'
  StrCpy $LightOpen $1
  System::Call 'kernel32::GetProcAddress(p $LightLibrary, m "Close") p.r1'
  StrCpy $LightClose $1
  System::Call 'kernel32::GetProcAddress(p $LightLibrary, m "sendChar") p.r1'
  StrCpy $LightSendChar $1
  System::Call 'kernel32::GetProcAddress(p $LightLibrary, m "setLevel") p.r1'
  StrCpy $LightSetLevel $1

  ; ?e: the thread's last error right after Open, which says why a port did not open.
  System::Call "::$LightOpen(i R0) i.r1 ?ce"
  Pop $2
  ${If} $1 == 0
    ; Until Close the library would keep trying the port.
    System::Call "::$LightClose() ?c"
    Call FreeLightLibrary
    Push $2
    Call OpenFailureText
    Pop $2
    ${NSD_SetText} $LightStatus $2
    Return
  ${EndIf}
  System::Call "::$LightSendChar(i ${CUBE_START_BYTE}) ?c"
  System::Call "::$LightSetLevel(i ${LEVEL_ALL_LIT}) ?c"
  ${NSD_SetText} $LightStatus "The whole cube on $LightPort should be lit now, for two seconds."
  ${NSD_CreateTimer} LightTimer ${LIGHT_MS}
FunctionEnd

Function LightTimer
  Call EndLightTest
  ${NSD_SetText} $LightStatus "If every LED lit up, $LightPort is the cube's port; if not, try another one."
FunctionEnd

; The cube dark, the stop byte, the port closed; nothing when no test runs.
Function EndLightTest
  ${If} $LightLibrary == ""
    Return
  ${EndIf}
  ${NSD_KillTimer} LightTimer
  System::Call "::$LightSetLevel(i ${LEVEL_DARK}) ?c"
  System::Call "::$LightSendChar(i ${CUBE_STOP_BYTE}) ?c"
  System::Call "::$LightClose() ?c"
  Call FreeLightLibrary
FunctionEnd

; Let go, so that $PLUGINSDIR can be removed when setup ends.
Function FreeLightLibrary
  System::Call 'kernel32::FreeLibrary(p $LightLibrary)'
  StrCpy $LightLibrary ""
FunctionEnd

; Pops the last error of an Open that failed; pushes the plugin's own words for it
; (plugin/binding.cpp), so that the user reads here what the player would say.
Function OpenFailureText
  Exch $0
  ${Select} $0
    ${Case2} 2 3 ; no device of that name
      StrCpy $0 "Cannot open $LightPort: there is no such port"
    ${Case2} 5 32 ; held by another program, as Windows and as Wine say it
      StrCpy $0 "Cannot open $LightPort: another program is using it"
    ${Case} 50 ; opened, but refused 19200 baud 8N1
      StrCpy $0 "Cannot open $LightPort: it is not a serial port the cube can use"
    ${CaseElse}
      StrCpy $0 "Cannot open $LightPort (error $0)"
  ${EndSelect}
  Exch $0
FunctionEnd
