; The cube's COM port: the page that picks it, and writing it into every mode's section.

!define SETTINGS "$INSTDIR\Plugins\lumo.ini"

; Pops "5", "COM5" or "com5"; pushes the port number, or "" when it is not one from 1 to 255.
Function ParsePort
  Exch $0
  Push $1
  StrCpy $1 $0 3
  ${If} $1 == "COM"
    StrCpy $0 $0 "" 3
  ${EndIf}
  IntOp $1 $0 + 0
  ${If} "$1" != "$0"
  ${OrIf} $1 < 1
  ${OrIf} $1 > 255
    StrCpy $1 ""
  ${EndIf}
  StrCpy $0 $1
  Pop $1
  Exch $0
FunctionEnd

Function PortPage
  ; The port already in use (the Star section's), or COM1; /COM= takes precedence.
  ${If} $PortGiven != 1
    ReadINIStr $0 "${SETTINGS}" "Star" "COMPort"
    IntOp $Port $0 + 0
    ${If} $Port < 1
      StrCpy $Port 1
    ${EndIf}
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Cube port" "Choose the COM port the LED cube is connected to."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 30u "lumo drives the cube on one COM port in all three modes (Star, Levels and NewStar). The ports on this computer:"
  Pop $0
  ${NSD_CreateDropList} 0 34u 80u 120u ""
  Pop $PortList
  Call FillPortList
  ${NSD_CB_SelectString} $PortList "COM$Port"
  ${NSD_CreateLabel} 0 56u 100% 40u "Setup writes the port into lumo.ini in the Plugins folder and keeps everything else in that file."
  Pop $0
  nsDialogs::Show
FunctionEnd

; The ports Windows lists, and the current one even when its device is not plugged in now.
Function FillPortList
  StrCpy $1 0
  StrCpy $3 0
  ${Do}
    EnumRegValue $2 HKLM "HARDWARE\DEVICEMAP\SERIALCOMM" $1
    ${If} $2 == ""
      ${Break}
    ${EndIf}
    ReadRegStr $4 HKLM "HARDWARE\DEVICEMAP\SERIALCOMM" $2
    ${NSD_CB_AddString} $PortList $4
    ${If} $4 == "COM$Port"
      StrCpy $3 1
    ${EndIf}
    IntOp $1 $1 + 1
  ${Loop}
  ${If} $3 == 0
    ${NSD_CB_AddString} $PortList "COM$Port"
  ${EndIf}
FunctionEnd

Function PortPageLeave
  ${NSD_GetText} $PortList $0
  Push $0
  Call ParsePort
  Pop $Port
FunctionEnd
