; The lumo installer, in two parts the user picks on the components page:
;  - "Plugin for Winamp": lumo.dll into the player's Plugins folder and lumolink.dll beside the
;    player's program, where the plugin's load by bare name finds it; the COM port goes into the
;    sections of all three modes in lumo.ini.
;  - "Lumo Listen": lumolisten.exe with a lumolink.dll of its own in $PROGRAMFILES32\lumo, a Start
;    menu shortcut, and lumolisten.ini beside it, whose port is the default for every user of
;    the machine (what a user picks from its icon goes into that user's %APPDATA%).
; Both are chosen where the player is found; elsewhere Lumo Listen alone is offered. Built by
; scripts/package:
;   makensis -DVERSION=<version> -DDIST=<folder with the shipped files> -DOUTFILE=<setup.exe> lumo.nsi
;
; Scripted installs: /S [/COM=N] [/PLUGIN=0|1] [/LISTEN=0|1] [/STARTUP=0|1] [/NETWORK=0|1]
;                    [/D=<player folder>]
;   /PLUGIN=0 and /LISTEN=0 leave a part out. The plugin is installed where the player is found;
;   /PLUGIN=1 or /D= ask for it outright. /STARTUP=1 starts Lumo Listen whenever anyone logs on
;   to the PC, /STARTUP=0 no longer; without it, an upgrade keeps what was chosen before.
;   /NETWORK=1 lets other lighting programs light the cube through Lumo Listen (E1.31, DDP) for
;   every user who has not chosen otherwise, /NETWORK=0 not; without it, an upgrade keeps it.
; Exit codes:
;   0 installed, 1 cancelled, 3 the plugin was asked for (or is all there is to install) and the
;   folder holds no winamp.exe, 4 the player is running, 5 a file could not be written
;   (everything put back as it was), 6 /COM= is not a port, 7 /PLUGIN=, /LISTEN=, /STARTUP=
;   or /NETWORK= is not 0 or 1, or nothing is left to install.
; The uninstaller (/S): 0 removed, 1 cancelled, 4 the player is running.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VERSION | DIST | OUTFILE
  !error "VERSION, DIST and OUTFILE must be defined"
!endif

!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include WinVer.nsh

!define PRODUCT "lumo"
!define PUBLISHER "the lumo developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\lumo"
!define UNINSTALLER "uninstall-lumo.exe"
!define PLAYER_WINDOW "Winamp v1.x" ; the class of the player's main window

!define EXIT_NO_PLAYER 3
!define EXIT_PLAYER_RUNNING 4
!define EXIT_WRITE_FAILED 5
!define EXIT_BAD_PORT 6
!define EXIT_BAD_OPTION 7

!define SETTINGS "$INSTDIR\Plugins\lumo.ini"
!define LISTEN_DIR "$PROGRAMFILES32\lumo"
!define LISTEN_SETTINGS "${LISTEN_DIR}\lumolisten.ini"
!define LISTEN_SHORTCUT "$SMPROGRAMS\Lumo Listen.lnk"
!define OLD_SHORTCUT "$PLUGINSDIR\Lumo Listen.lnk"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Lumo Listen"

Name "${PRODUCT} ${VERSION}"
Caption "${PRODUCT} ${VERSION} Setup"
BrandingText "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup (LED cube visualisation for Winamp, and Lumo Listen)"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

Var Port        ; the number to write as the port; empty: leave the settings files alone
Var PortGiven   ; 1 when /COM= named the port
Var PortList
Var PluginSwitch  ; /PLUGIN=, /LISTEN=, /STARTUP=, /NETWORK=: "0", "1", or "" when not given
Var ListenSwitch
Var StartupSwitch
Var NetworkSwitch
Var PluginText    ; what the components page says of the plugin
Var ListenText
Var PluginFolder   ; the player's folder when the plugin is installed, after this install
Var ListenerFolder ; ${LISTEN_DIR} when Lumo Listen is installed, after this install
Var UninstallText

!define MUI_ABORTWARNING
!define MUI_CUSTOMFUNCTION_ABORT CancelSetup
!define MUI_COMPONENTSPAGE_TEXT_TOP "Both parts light the cube on the COM port you choose next."
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE ComponentsLeave
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_HEADER_TEXT "Winamp's folder"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the folder Winamp is installed in."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup installs lumo into Winamp: lumo.dll into its Plugins folder and lumolink.dll beside winamp.exe.$\r$\n$\r$\nChoose the folder Winamp is installed in, the one that holds winamp.exe."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Winamp folder"
!define MUI_PAGE_CUSTOMFUNCTION_PRE DirectoryPre
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
Page custom PortPage PortPageLeave
!define MUI_FINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "lumo is installed"
; The text fits the parts installed: FinishShow writes it.
!define MUI_FINISHPAGE_TEXT " "
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start Lumo Listen now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartListenerAsUser
; The second box is MUI's "show readme" one, put to another use.
!define MUI_FINISHPAGE_SHOWREADME
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Start Lumo Listen when anyone logs on to this PC"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION StartAtEveryLogon
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishShow
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE FinishLeave
!insertmacro MUI_PAGE_FINISH

; Which parts go, and what stays: un.onInit knows.
!define MUI_UNCONFIRMPAGE_TEXT_TOP "$UninstallText"
!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_UNFINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

!include "place.nsh"

Section "Plugin for Winamp" SEC_PLUGIN
  Call WaitForPlayerClosed
  ${IfNot} ${FileExists} "$INSTDIR\winamp.exe"
    SetErrorLevel ${EXIT_NO_PLAYER}
    Abort "$INSTDIR does not hold winamp.exe."
  ${EndIf}
  SetOverwrite try
  CreateDirectory "$INSTDIR\Plugins"
  !insertmacro PLACE "$INSTDIR\Plugins" "lumo.dll" $PlacedPlugin
  !insertmacro PLACE "$INSTDIR" "lumolink.dll" $PlacedLibrary
  Call WritePort
  StrCpy $PluginFolder $INSTDIR
SectionEnd

Section "Lumo Listen" SEC_LISTEN
  Call PrepareListenerFolder
  SetOverwrite try
  !insertmacro PLACE "${LISTEN_DIR}" "lumolisten.exe" $PlacedListener
  !insertmacro PLACE "${LISTEN_DIR}" "lumolink.dll" $PlacedListenLibrary
  Call WriteListenerPort
  Call WriteListenerNetwork
  Call CreateListenerShortcut
  StrCpy $ListenerFolder "${LISTEN_DIR}"
SectionEnd

; What both parts share, once both have been put in place.
Section "-Register"
  Call RecallParts
  ${If} ${Silent}
    Call StartupAsAsked
  ${EndIf}
  Call PlaceUninstaller
  Call Register
  ${If} $PlacedPlugin == 1
    Call GrantSettings
  ${EndIf}
  Call DropOldCopies
  ; A silent upgrade has no finish page to start it again from.
  ${If} ${Silent}
    Call StartStoppedListener
  ${EndIf}
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SEC_PLUGIN} $PluginText
  !insertmacro MUI_DESCRIPTION_TEXT ${SEC_LISTEN} $ListenText
!insertmacro MUI_FUNCTION_DESCRIPTION_END

!include "player.nsh"
!include "light.nsh"
!include "port.nsh"
!include "listen.nsh"

; Reads /NAME=0 or /NAME=1 from the command line ($R0) into VAR, "" when it is not there; any
; other value stops setup before it has looked at anything.
!macro READ_SWITCH NAME VAR
  ClearErrors
  ${GetOptions} $R0 "${NAME}" ${VAR}
  ${If} ${Errors}
    StrCpy ${VAR} ""
  ${ElseIf} ${VAR} != "0"
  ${AndIf} ${VAR} != "1"
    MessageBox MB_OK|MB_ICONSTOP "${NAME}${VAR} is not an option of this setup: use ${NAME}0 or ${NAME}1." /SD IDOK
    SetErrorLevel ${EXIT_BAD_OPTION}
    Quit
  ${EndIf}
!macroend

Function .onInit
  ; The Start menu and the logon entry are the machine's, as the program folder is.
  SetShellVarContext all
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/COM=" $R1
  ${IfNot} ${Errors}
    Push $R1
    Call ParsePort
    Pop $R2
    ${If} $R2 == ""
      MessageBox MB_OK|MB_ICONSTOP "/COM=$R1 does not name a COM port: use a number from 1 to 255, for example /COM=5." /SD IDOK
      SetErrorLevel ${EXIT_BAD_PORT}
      Quit
    ${EndIf}
    StrCpy $Port $R2
    StrCpy $PortGiven 1
  ${EndIf}
  !insertmacro READ_SWITCH "/PLUGIN=" $PluginSwitch
  !insertmacro READ_SWITCH "/LISTEN=" $ListenSwitch
  !insertmacro READ_SWITCH "/STARTUP=" $StartupSwitch
  !insertmacro READ_SWITCH "/NETWORK=" $NetworkSwitch
  ${If} $PluginSwitch == "0"
  ${AndIf} $ListenSwitch == "0"
    MessageBox MB_OK|MB_ICONSTOP "/PLUGIN=0 and /LISTEN=0 leave nothing to install." /SD IDOK
    SetErrorLevel ${EXIT_BAD_OPTION}
    Quit
  ${EndIf}
  ; /D= sets the folder before this runs: a folder named outright is where the plugin is wanted.
  ${If} $INSTDIR == ""
    Call FindPlayer
  ${ElseIf} $PluginSwitch == ""
    StrCpy $PluginSwitch "1"
  ${EndIf}
  Call ChooseParts
FunctionEnd

; What the components page offers and what it has chosen to begin with; for a silent install,
; what is installed.
Function ChooseParts
  StrCpy $PluginText "lumo.dll into Winamp's Plugins folder and lumolink.dll beside winamp.exe. Pick $\"LED-Lumo 5 - Visualization$\" in Winamp's visualisation preferences."
  StrCpy $ListenText "Lights the cube from whatever this PC plays, in any program, from an icon beside the clock. Goes into Program Files, with a Start menu shortcut."
  ${If} $PluginSwitch == "0"
    !insertmacro UnselectSection ${SEC_PLUGIN}
  ${ElseIfNot} ${FileExists} "$INSTDIR\winamp.exe"
    ${If} $PluginSwitch == "1"
      ; Asked for outright: the folder page shows, and refuses a folder without the player.
      ${If} ${Silent}
        SetErrorLevel ${EXIT_NO_PLAYER}
        Quit
      ${EndIf}
    ${Else}
      !insertmacro UnselectSection ${SEC_PLUGIN}
      !insertmacro SetSectionFlag ${SEC_PLUGIN} ${SF_RO}
      SectionSetText ${SEC_PLUGIN} "Plugin (no Winamp found)"
      StrCpy $PluginText "Winamp is not installed on this PC. To install the plugin into a Winamp that setup does not find, run setup with /D=<Winamp's folder>."
    ${EndIf}
  ${EndIf}
  ; It listens through Windows' audio sessions, which came with Windows Vista.
  ${IfNot} ${AtLeastWinVista}
    !insertmacro UnselectSection ${SEC_LISTEN}
    !insertmacro SetSectionFlag ${SEC_LISTEN} ${SF_RO}
    StrCpy $ListenText "Lumo Listen needs Windows Vista or later."
  ${ElseIf} $ListenSwitch == "0"
    !insertmacro UnselectSection ${SEC_LISTEN}
  ${EndIf}
  ${If} ${Silent}
  ${AndIfNot} ${SectionIsSelected} ${SEC_PLUGIN}
  ${AndIfNot} ${SectionIsSelected} ${SEC_LISTEN}
    ${IfNot} ${FileExists} "$INSTDIR\winamp.exe"
      SetErrorLevel ${EXIT_NO_PLAYER}
    ${Else}
      SetErrorLevel ${EXIT_BAD_OPTION}
    ${EndIf}
    Quit
  ${EndIf}
FunctionEnd

Function ComponentsLeave
  ${IfNot} ${SectionIsSelected} ${SEC_PLUGIN}
  ${AndIfNot} ${SectionIsSelected} ${SEC_LISTEN}
    MessageBox MB_OK|MB_ICONEXCLAMATION "Choose a part to install."
    Abort
  ${EndIf}
FunctionEnd

; The user has confirmed cancelling: a test of the cube still running ends first.
Function CancelSetup
  Call EndLightTest
FunctionEnd

Function un.onInit
  SetShellVarContext all
  ReadRegStr $PluginFolder HKLM "${UNINSTALL_KEY}" "PluginFolder"
  ReadRegStr $ListenerFolder HKLM "${UNINSTALL_KEY}" "ListenerFolder"
  ; Without its registration, the uninstaller's own folder says which part it came with.
  ${If} $PluginFolder == ""
  ${AndIf} $ListenerFolder == ""
    ${If} ${FileExists} "$INSTDIR\lumo.dll"
      ${GetParent} "$INSTDIR" $PluginFolder
    ${ElseIf} ${FileExists} "$INSTDIR\lumolisten.exe"
      StrCpy $ListenerFolder $INSTDIR
    ${EndIf}
  ${EndIf}
  ${If} $ListenerFolder != ""
    StrCpy $UninstallText "Lumo Listen will be removed from the folder below"
    ${If} $PluginFolder != ""
      StrCpy $UninstallText "$UninstallText, and the plugin from $PluginFolder"
    ${EndIf}
  ${Else}
    StrCpy $UninstallText "The plugin will be removed from $PluginFolder"
  ${EndIf}
  StrCpy $UninstallText "$UninstallText. Everybody's settings are kept. Click Uninstall to go ahead."
FunctionEnd

Section "Uninstall"
  ${If} $PluginFolder != ""
    Call un.WaitForPlayerClosed
  ${EndIf}
  ${If} $ListenerFolder != ""
    Call un.RemoveListener
  ${EndIf}
  ${If} $PluginFolder != ""
    Delete "$PluginFolder\Plugins\lumo.dll"
    Delete "$PluginFolder\lumolink.dll"
    ; lumo.ini stays: it holds the user's settings.
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
  ${If} $ListenerFolder != ""
    RMDir "$ListenerFolder"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
