; The cube's COM port, one for both parts: the page that picks it.

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

; Pushes the port lumo already uses on this PC, or "" when none: the plugin's (lumo.ini's Star
; section) or Lumo Listen's default (lumolisten.ini), that of a part being installed first.
Function KnownPort
  Push $0
  Push $1
  ReadINIStr $0 "${SETTINGS}" "Star" "COMPort"
  ReadINIStr $1 "${LISTEN_SETTINGS}" "lumolisten" "Port"
  ${IfNot} ${SectionIsSelected} ${SEC_PLUGIN}
    ; Lumo Listen's first: it is the part being installed.
    Push $0
    StrCpy $0 $1
    Pop $1
  ${EndIf}
  Push $0
  Call ParsePort
  Pop $0
  ${If} $0 == ""
    Push $1
    Call ParsePort
    Pop $0
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd

Function PortPage
  ; The port already in use, or COM1; /COM= takes precedence.
  ${If} $PortGiven != 1
    Call KnownPort
    Pop $Port
    ${If} $Port == ""
      StrCpy $Port 1
    ${EndIf}
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Cube port" "Choose the COM port the LED cube is connected to."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 30u "lumo drives the cube on one COM port in all three modes (Star, Levels and NewStar). The ports on this computer, USB adapters first:"
  Pop $0
  ; Wide enough for a device's name beside the port.
  ${NSD_CreateDropList} 0 34u 68% 120u ""
  Pop $PortList
  Call FillPortList
  ${NSD_CreateButton} 71% 33u 29% 15u "&Light the cube"
  Pop $LightButton
  ${NSD_OnClick} $LightButton LightButtonClick
  ${NSD_CreateLabel} 0 54u 100% 24u "Connect the cube and press Light the cube: every LED of a cube on the port chosen lights up for two seconds."
  Pop $LightStatus
  ${If} ${SectionIsSelected} ${SEC_PLUGIN}
  ${AndIf} ${SectionIsSelected} ${SEC_LISTEN}
    StrCpy $1 "Setup writes the port into lumo.ini in the Plugins folder, keeping everything else in that file, and into lumolisten.ini beside Lumo Listen as the port every user of this PC starts with."
  ${ElseIf} ${SectionIsSelected} ${SEC_PLUGIN}
    StrCpy $1 "Setup writes the port into lumo.ini in the Plugins folder and keeps everything else in that file."
  ${Else}
    StrCpy $1 "Setup writes the port into lumolisten.ini beside Lumo Listen: the port every user of this PC starts with, until they pick another from its icon."
  ${EndIf}
  ${NSD_CreateLabel} 0 82u 100% 30u $1
  Pop $0
  ; Next ends a test of the cube in PortPageLeave, cancelling in CancelSetup.
  ${NSD_OnBack} EndLightTest
  nsDialogs::Show
FunctionEnd

!define DEVICE_TREE "SYSTEM\CurrentControlSet\Enum"
!define PORT_DEVICES "$PLUGINSDIR\port-devices.ini"

; Windows records each device it has seen under Enum\<enumerator>\<device id>\<instance>: its
; FriendlyName ("USB-SERIAL CH340 (COM3)") and, for a port, "Device Parameters\PortName". The
; tree holds every device the machine has ever had, so it is walked once per page show, not
; once per port; each port's device name (without the " (COMn)" Windows appends) and whether
; it is a USB adapter (FTDI's driver has an enumerator of its own) go into PORT_DEVICES, one
; section per port.
Function RecordPortDevices
  InitPluginsDir
  Delete "${PORT_DEVICES}"
  StrCpy $R0 0
  ${Do}
    EnumRegKey $R1 HKLM "${DEVICE_TREE}" $R0
    ${If} $R1 == ""
      ${Break}
    ${EndIf}
    StrCpy $R2 0
    ${Do}
      EnumRegKey $R3 HKLM "${DEVICE_TREE}\$R1" $R2
      ${If} $R3 == ""
        ${Break}
      ${EndIf}
      StrCpy $R4 0
      ${Do}
        EnumRegKey $R5 HKLM "${DEVICE_TREE}\$R1\$R3" $R4
        ${If} $R5 == ""
          ${Break}
        ${EndIf}
        StrCpy $R5 "${DEVICE_TREE}\$R1\$R3\$R5"
        ReadRegStr $R6 HKLM "$R5\Device Parameters" "PortName"
        ${If} $R6 != ""
          Call RecordPortDevice
        ${EndIf}
        IntOp $R4 $R4 + 1
      ${Loop}
      IntOp $R2 $R2 + 1
    ${Loop}
    IntOp $R0 $R0 + 1
  ${Loop}
FunctionEnd

; $R1 the enumerator, $R5 the instance's key, $R6 its port.
Function RecordPortDevice
  ReadRegStr $R7 HKLM "$R5" "FriendlyName"
  StrCpy $R8 " ($R6)"
  StrLen $R9 $R8
  StrCpy $R8 $R7 "" -$R9
  ${If} $R8 == " ($R6)"
    StrCpy $R7 $R7 -$R9
  ${EndIf}
  WriteINIStr "${PORT_DEVICES}" $R6 "Name" $R7
  ${If} $R1 == "USB"
  ${OrIf} $R1 == "FTDIBUS"
    WriteINIStr "${PORT_DEVICES}" $R6 "USB" 1
  ${EndIf}
FunctionEnd

; The ports Windows lists, USB adapters first and otherwise in Windows' order, and the current
; one even when its device is not plugged in now; the current one selected. Each shows with its
; device's name where Windows recorded one: "COM3 - USB-SERIAL CH340".
Function FillPortList
  Call RecordPortDevices
  StrCpy $5 -1 ; the list's index of the current port
  ${ForEach} $6 1 0 - 1 ; 1: the USB adapters, 0: the others
    StrCpy $1 0
    ${Do}
      EnumRegValue $2 HKLM "HARDWARE\DEVICEMAP\SERIALCOMM" $1
      ${If} $2 == ""
        ${Break}
      ${EndIf}
      ReadRegStr $4 HKLM "HARDWARE\DEVICEMAP\SERIALCOMM" $2
      ReadINIStr $7 "${PORT_DEVICES}" $4 "USB"
      IntOp $7 $7 + 0
      ${If} $7 == $6
        Call AddPort
      ${EndIf}
      IntOp $1 $1 + 1
    ${Loop}
  ${Next}
  ${If} $5 == -1
    StrCpy $4 "COM$Port"
    Call AddPort
  ${EndIf}
  SendMessage $PortList ${CB_SETCURSEL} $5 0
FunctionEnd

; $4 the port ("COM3"): adds it to the list, with its device's name where there is one.
Function AddPort
  ReadINIStr $7 "${PORT_DEVICES}" $4 "Name"
  ${If} $7 == ""
    StrCpy $7 $4
  ${Else}
    StrCpy $7 "$4 - $7"
  ${EndIf}
  SendMessage $PortList ${CB_ADDSTRING} 0 "STR:$7" $7
  ${If} $4 == "COM$Port"
    StrCpy $5 $7
  ${EndIf}
FunctionEnd

; Pushes the number of the port selected in the list, or "" when none is.
Function SelectedPort
  Push $0
  Push $1
  Push $2
  ${NSD_GetText} $PortList $0
  ; "COM3 - USB-SERIAL CH340": the port is the first word.
  StrCpy $1 0
  ${Do}
    StrCpy $2 $0 1 $1
    ${If} $2 == ""
    ${OrIf} $2 == " "
      ${ExitDo}
    ${EndIf}
    IntOp $1 $1 + 1
  ${Loop}
  StrCpy $0 $0 $1
  Pop $2
  Pop $1
  Exch $0
  Call ParsePort
FunctionEnd

Function PortPageLeave
  Call EndLightTest
  Call SelectedPort
  Pop $Port
FunctionEnd
