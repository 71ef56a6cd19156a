; The lumo installer. lumo.dll goes into the player's Plugins folder and lumolink.dll beside the
; player's program, where the plugin's load by bare name finds it; one COM port is written into
; the sections of all three modes in lumo.ini. Built by scripts/package:
;   makensis -DVERSION=1.2.0 -DDIST=<folder with the DLLs> -DOUTFILE=<setup.exe> lumo.nsi
;
; Exit codes, for scripted installs (/S [/COM=N] [/D=<player folder>]):
;   0 installed, 1 cancelled, 3 the folder holds no winamp.exe, 4 the player is running,
;   5 a file could not be written (everything put back as it was), 6 /COM= is not a port.
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

!define PRODUCT "lumo"
!define PUBLISHER "the lumo developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\lumo"
!define UNINSTALLER "uninstall-lumo.exe"
!define PLAYER_WINDOW "Winamp v1.x" ; the class of the player's main window

!define EXIT_NO_PLAYER 3
!define EXIT_PLAYER_RUNNING 4
!define EXIT_WRITE_FAILED 5
!define EXIT_BAD_PORT 6

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
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup (LED cube visualisation for Winamp)"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

Var Port        ; the number to write as COMPort; empty: leave lumo.ini alone
Var PortGiven   ; 1 when /COM= named the port
Var PortList
Var PlacedPlugin
Var PlacedLibrary
Var FailedFile
Var CreatedSettings

!define MUI_ABORTWARNING
!define MUI_CUSTOMFUNCTION_ABORT CancelSetup
!define MUI_PAGE_HEADER_TEXT "Winamp's folder"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the folder Winamp is installed in."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup installs lumo into Winamp: lumo.dll into its Plugins folder and lumolink.dll beside winamp.exe.$\r$\n$\r$\nChoose the folder Winamp is installed in, the one that holds winamp.exe."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Winamp folder"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
Page custom PortPage PortPageLeave
!define MUI_FINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "lumo is installed"
!define MUI_FINISHPAGE_TEXT "Connect the cube, start Winamp and pick $\"LED-Lumo 5 - Visualization$\" in its visualisation preferences.$\r$\n$\r$\nThe COM port is kept in lumo.ini in the Plugins folder; run this setup again to change it."
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_UNFINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

!include "player.nsh"
!include "light.nsh"
!include "port.nsh"
!include "place.nsh"

Function .onInit
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
  ; /D= sets the folder before this runs; otherwise look for the player.
  ${If} $INSTDIR == ""
    Call FindPlayer
  ${EndIf}
  ${If} ${Silent}
    ${IfNot} ${FileExists} "$INSTDIR\winamp.exe"
      SetErrorLevel ${EXIT_NO_PLAYER}
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

; The user has confirmed cancelling: a test of the cube still running ends first.
Function CancelSetup
  Call EndLightTest
FunctionEnd

Section "lumo"
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
  ClearErrors
  WriteUninstaller "$INSTDIR\Plugins\${UNINSTALLER}"
  ${If} ${Errors}
    StrCpy $FailedFile "$INSTDIR\Plugins\${UNINSTALLER}"
    Call RollBack
  ${EndIf}
  Call Register
  Call GrantSettings
  Call DropOldCopies
SectionEnd

Section "Uninstall"
  Call un.WaitForPlayerClosed
  ; The uninstaller lies in the Plugins folder; the player's folder is the one above it.
  ${GetParent} "$INSTDIR" $0
  Delete "$INSTDIR\lumo.dll"
  Delete "$0\lumolink.dll"
  Delete "$INSTDIR\${UNINSTALLER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; lumo.ini stays: it holds the user's settings.
SectionEnd
