; The Marbleleaf setup program: lays the product down under Program Files and
; drives install.exe through its verbs. Built by the windows preset
; (setup/CMakeLists.txt), or by hand:
;   makensis -DLAYOUT=<layout folder> -DOUTFILE=<setup.exe> -DVERSION=4.2.0.2093 marbleleaf.nsi
; LAYOUT holds app/ (install.exe and the product files) and mbltray.exe: the
; installer starts the tray companion from the parent of its own folder.
;
; Command line (besides NSIS's own /S and /D=<folder>, which must come last):
;   /S                 silent: no window, no question; the exit code tells the outcome
;   /DEFAULTPRINTER    make the product printer the default printer without asking
;   /UNINSTALL         remove the installed product (the way to uninstall with an exit code:
;                      uninstall.exe returns at once, leaving a copy of itself to do the work)
; Exit codes, as the Windows Installer's: 0 done, 3010 done once Windows restarts,
; 1603 failed or not started (also when Windows must restart before setup can run).

Unicode true
Target amd64-unicode  ; a 64-bit product: no WOW64 redirection of its folders or registry
RequestExecutionLevel admin
ManifestDPIAware true

!ifndef LAYOUT
  !error "define LAYOUT: the installation layout (app/ and mbltray.exe)"
!endif
!ifndef OUTFILE
  !define OUTFILE "marbleleaf-setup.exe"
!endif
!ifndef VERSION
  !define VERSION "0.0.0.0"
!endif

!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define PRODUCT "Marbleleaf"
!define PUBLISHER "Orvanel Software KFT"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Marbleleaf"
!define EXIT_DONE 0
!define EXIT_RESTART 3010
!define EXIT_FAILED 1603

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show
AllowSkipFiles off
SetOverwrite on

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var offerDefault  ; 1 when onInit answered 102: the default printer is another one, or none
Var wantDefault   ; 1 with /DEFAULTPRINTER

; Runs install.exe <verb> (WINDOW 1: with the setup window, when there is one,
; as the owner of its log dialog). Leaves the exit code in $0, or "" when
; install.exe could not be started.
!macro RUN_INSTALLER EXE VERB WINDOW
  StrCpy $0 ""
  ClearErrors
  ${If} ${WINDOW} == 1
  ${AndIf} $HWNDPARENT <> 0
    ExecWait '"${EXE}" ${VERB} $HWNDPARENT' $0
  ${Else}
    ExecWait '"${EXE}" ${VERB}' $0
  ${EndIf}
  ${If} ${Errors}
    StrCpy $0 ""
  ${EndIf}
  DetailPrint "install.exe ${VERB}: $0"
!macroend

; The status line of an installation that stopped (only Cancel is left to press).
!define STOPPED "${PRODUCT} was not installed completely."

!macro FAIL TEXT
  MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
  SetErrorLevel ${EXIT_FAILED}
!macroend

; Administrator rights on 64-bit Windows, in the 64-bit registry view; else ends with 1603.
!macro CHECK_MACHINE
  SetRegView 64
  ${IfNot} ${RunningX64}
    !insertmacro FAIL "${PRODUCT} needs 64-bit Windows."
    Quit
  ${EndIf}
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    !insertmacro FAIL "Setup needs administrator rights: run it as an administrator."
    Quit
  ${EndIf}
!macroend

; An installation that cannot finish stops before anything is copied, as install.exe refuses
; before it removes anything (the removal stays possible): Windows on ARM64, which runs this
; x64 setup emulated while its spooler loads no x64 driver or monitor (IsNativeARM64 asks
; IsWow64Process2), and Windows protected print mode turned on by policy, which allows no
; third-party printer driver. Ends with 1603, silently when silent.
!macro CHECK_INSTALLABLE
  ${If} ${IsNativeARM64}
    !insertmacro FAIL "${PRODUCT} cannot be installed: Windows runs on ARM64 here, and the ${PRODUCT} printer driver and port monitor are for x64 Windows only. Nothing was changed."
    Quit
  ${EndIf}
  ClearErrors
  ReadRegDWORD $0 HKLM "Software\Policies\Microsoft\Windows NT\Printers\WPP" "WindowsProtectedPrintGroupPolicyState"
  ${IfNot} ${Errors}
  ${AndIf} $0 = 1
    !insertmacro FAIL "${PRODUCT} cannot be installed: Windows protected print mode is on, set by policy, and allows no third-party printer driver. Nothing was changed. Ask your administrator about the policy $\"Configure Windows protected print$\"."
    Quit
  ${EndIf}
!macroend

; Removes the product installed in $INSTDIR: install.exe un, then the files and
; the Add or Remove Programs entry. Pushes the exit code. When install.exe could
; not be started or its run failed, everything stays, so that the removal can be
; run again (after a repair by the setup when install.exe is missing).
!macro REMOVE_PRODUCT UN
Function ${UN}RemoveProduct
  SetOutPath "$TEMP"  ; a current directory inside the product's folders keeps them
  !insertmacro RUN_INSTALLER "$INSTDIR\app\install.exe" "un" 1
  ${If} $0 == ""
    !insertmacro FAIL "Setup could not start $INSTDIR\app\install.exe: nothing was removed. Run the ${PRODUCT} setup again to repair the installation, then remove it."
    Push ${EXIT_FAILED}
    Return
  ${ElseIf} $0 == 100
    !insertmacro FAIL "The removal of ${PRODUCT} is incomplete; its log was shown. The product's files stay, so that the removal can be run again."
    Push ${EXIT_FAILED}
    Return
  ${ElseIf} $0 == 101
    SetRebootFlag true
  ${ElseIf} $0 != 2
    !insertmacro FAIL "install.exe ended with the unexpected code $0: nothing more was removed."
    Push ${EXIT_FAILED}
    Return
  ${EndIf}
  ; The product's own names only: nothing else the folders may hold is touched.
  !insertmacro REMOVE_FILE "$INSTDIR\app\install.exe"
  !insertmacro REMOVE_FILE "$INSTDIR\app\mlxmon64.dll"
  !insertmacro REMOVE_FILE "$INSTDIR\app\mlxdrv64.dll"
  !insertmacro REMOVE_FILE "$INSTDIR\app\mlxui64.dll"
  !insertmacro REMOVE_FILE "$INSTDIR\app\mlxmon32.dll"
  !insertmacro REMOVE_FILE "$INSTDIR\app\mlxdrv32.dll"
  !insertmacro REMOVE_FILE "$INSTDIR\app\mlxui32.dll"
  !insertmacro REMOVE_FILE "$INSTDIR\app\mlxhelp.chm"
  !insertmacro REMOVE_FILE "$INSTDIR\mbltray.exe"
  !insertmacro REMOVE_FILE "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR\app"
  RMDir "$INSTDIR"
  ${If} ${RebootFlag}
    ; Files left for the reboot: their folders go with them.
    RMDir /REBOOTOK "$INSTDIR\app"
    RMDir /REBOOTOK "$INSTDIR"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${If} ${RebootFlag}
    Push ${EXIT_RESTART}
  ${Else}
    Push ${EXIT_DONE}
  ${EndIf}
FunctionEnd
!macroend

; A file still in use goes at the next restart (and sets the reboot flag).
!macro REMOVE_FILE PATH
  Delete /REBOOTOK "${PATH}"
!macroend

!insertmacro REMOVE_PRODUCT ""
!insertmacro REMOVE_PRODUCT "un."

!macro OFFER_RESTART WHAT
  ${If} ${RebootFlag}
    MessageBox MB_YESNO|MB_ICONQUESTION "A restart of Windows finishes the ${WHAT} of ${PRODUCT}. Restart now?" /SD IDNO IDNO +2
    Reboot
  ${EndIf}
!macroend

Function .onInit
  !insertmacro CHECK_MACHINE
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/DEFAULTPRINTER" $R1
  ${IfNot} ${Errors}
    StrCpy $wantDefault 1
  ${EndIf}

  ClearErrors
  ${GetOptions} $R0 "/UNINSTALL" $R1
  ${IfNot} ${Errors}
    ClearErrors
    ReadRegStr $INSTDIR HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} ${Errors}
    ${OrIf} $INSTDIR == ""
      MessageBox MB_OK|MB_ICONINFORMATION "${PRODUCT} is not installed." /SD IDOK
      SetErrorLevel ${EXIT_DONE}
      Quit
    ${EndIf}
    Call RemoveProduct
    Pop $R1
    SetErrorLevel $R1
    ${If} $R1 != ${EXIT_FAILED}
      MessageBox MB_OK|MB_ICONINFORMATION "${PRODUCT} was removed." /SD IDOK
      !insertmacro OFFER_RESTART "removal"
    ${EndIf}
    Quit
  ${EndIf}

  ; Before anything is laid down: may setup run now at all?
  !insertmacro CHECK_INSTALLABLE
  InitPluginsDir
  File "/oname=$PLUGINSDIR\install.exe" "${LAYOUT}/app/install.exe"
  !insertmacro RUN_INSTALLER "$PLUGINSDIR\install.exe" "onInit" 0
  ${If} $0 == ""
    !insertmacro FAIL "Setup could not start install.exe: ${PRODUCT} was not installed."
    Quit
  ${ElseIf} $0 == 200
    !insertmacro FAIL "Windows must restart before ${PRODUCT} can be installed: files of an earlier installation still wait to be deleted. Restart Windows, then run this setup again."
    Quit
  ${ElseIf} $0 == 102
    StrCpy $offerDefault 1
  ${ElseIf} $0 != 3
    !insertmacro FAIL "install.exe ended with the unexpected code $0: ${PRODUCT} was not installed."
    Quit
  ${EndIf}
FunctionEnd

Section "${PRODUCT}"
  SetOutPath "$INSTDIR"
  ; A running companion of an earlier installation holds its file: stop it first.
  !insertmacro RUN_INSTALLER "$PLUGINSDIR\install.exe" "removetray" 0
  ${If} $0 == ""
    !insertmacro FAIL "Setup could not start install.exe: ${PRODUCT} was not installed."
    Abort "${STOPPED}"
  ${EndIf}

  SetOutPath "$INSTDIR\app"
  File "${LAYOUT}/app/*.*"
  SetOutPath "$INSTDIR"
  File "${LAYOUT}/mbltray.exe"

  ; Written before the product is installed: whatever install.exe leaves behind
  ; can be removed through Add or Remove Programs.
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\mbltray.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  IntFmt $1 "0x%08X" $1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1

  SetOutPath "$TEMP"
  !insertmacro RUN_INSTALLER "$INSTDIR\app\install.exe" "install" 1
  ${If} $0 == ""
    !insertmacro FAIL "Setup could not start $INSTDIR\app\install.exe: ${PRODUCT} was not installed."
    Abort "${STOPPED}"
  ${ElseIf} $0 == 100
    !insertmacro FAIL "The installation of ${PRODUCT} is incomplete; its log was shown. Run this setup again, or remove ${PRODUCT} under Add or Remove Programs."
    Abort "${STOPPED}"
  ${ElseIf} $0 == 101
    SetRebootFlag true
  ${ElseIf} $0 != 1
    !insertmacro FAIL "install.exe ended with the unexpected code $0: the installation of ${PRODUCT} may be incomplete."
    Abort "${STOPPED}"
  ${EndIf}

  !insertmacro RUN_INSTALLER "$INSTDIR\app\install.exe" "onChkDrv" 0
  ${If} $0 == 3
    MessageBox MB_OK|MB_ICONEXCLAMATION "The ${PRODUCT} printer driver in use is not the current one. Restart Windows; if this warning comes back, run this setup again." /SD IDOK
  ${EndIf}

  ${If} $offerDefault == 1
    ${If} $wantDefault != 1
    ${AndIfNot} ${Silent}
      MessageBox MB_YESNO|MB_ICONQUESTION "Make the ${PRODUCT} printer your default printer?" IDNO +2
      StrCpy $wantDefault 1
    ${EndIf}
    ${If} $wantDefault == 1
      !insertmacro RUN_INSTALLER "$INSTDIR\app\install.exe" "def.set" 0
    ${EndIf}
  ${EndIf}

  ${If} ${RebootFlag}
    SetErrorLevel ${EXIT_RESTART}
  ${Else}
    SetErrorLevel ${EXIT_DONE}
  ${EndIf}
SectionEnd

Function .onInstSuccess
  !insertmacro OFFER_RESTART "installation"
FunctionEnd

Function un.onInit
  !insertmacro CHECK_MACHINE
FunctionEnd

Section "Uninstall"
  Call un.RemoveProduct
  Pop $R1
  SetErrorLevel $R1
  ${If} $R1 == ${EXIT_FAILED}
    Abort
  ${EndIf}
SectionEnd

Function un.onUninstSuccess
  !insertmacro OFFER_RESTART "removal"
FunctionEnd
