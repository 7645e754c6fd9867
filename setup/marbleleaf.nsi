; The Marbleleaf setup program: lays the product down under Program Files and
; drives install.exe through its verbs. Built by the windows preset
; (setup/CMakeLists.txt), or by hand:
;   makensis -DLAYOUT=<layout folder> -DOUTFILE=<setup.exe> -DVERSION=4.2.0.2093
;            -DPUBLISHER="Orvanel Software Kft." -DURL=<about URL> [-DSIGN_COMMAND=<command>] marbleleaf.nsi
; LAYOUT holds app/ (install.exe and the product files) and mbltray.exe: the
; installer starts the tray companion from the parent of its own folder.
; SIGN_COMMAND, when defined, signs the setup and its uninstaller: it is run with
; the file to sign as its last argument and must end with 0.
;
; Command line (besides NSIS's own /S and /D=<folder>, which must come last):
;   /S                 silent: no window, no question; the exit code tells the outcome
;   /LOG=<file>        the setup's log (silent runs without it: %ProgramData%\Marbleleaf\Logs)
;   /DEFAULTPRINTER    make the product printer the default printer without asking
;   /ALLOWDOWNGRADE    install over a newer installed version
;   /UNINSTALL         remove the installed product (the way to uninstall with an exit code:
;                      uninstall.exe returns at once, leaving a copy of itself to do the work)
; Exit codes, and nothing else: 0 done, 3010 done once Windows restarts, 1603 failed,
; 1618 another setup or installer run is in progress, 3017 Windows must restart before
; setup can run.

Unicode true
Target amd64-unicode  ; a 64-bit product: no WOW64 redirection of its folders or registry
RequestExecutionLevel admin
ManifestDPIAware true

!ifndef LAYOUT
  !error "define LAYOUT: the installation layout (app/ and mbltray.exe)"
!endif
!ifndef VERSION
  !error "define VERSION: the product version, as in -DVERSION=4.2.0.2093"
!endif
!ifndef PUBLISHER
  !error "define PUBLISHER: the publisher's name, as the product's version resources have it"
!endif
!ifndef URL
  !error "define URL: the product's web page, for Add or Remove Programs"
!endif
!ifndef OUTFILE
  !define OUTFILE "marbleleaf-setup.exe"
!endif
!ifdef SIGN_COMMAND
  !finalize '${SIGN_COMMAND} "%1"' = 0
  !uninstfinalize '${SIGN_COMMAND} "%1"' = 0
!endif

!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include x64.nsh

!define PRODUCT "Marbleleaf"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Marbleleaf"
; Written after an install that install.exe reported done (1 or 101), removed before each try:
; the value that detection rules read.
!define DETECTION_VALUE "InstalledVersion"
!define SETUP_MUTEX "Global\Marbleleaf.Setup"
!define INSTALLER_MUTEX "Global\Marbleleaf.Install"  ; install.exe's run lock
; Administrators and SYSTEM full control, nothing inherited; the product folder adds read and
; execute for users. Nobody else may change what an elevated install.exe runs or copies into
; System32.
!define ADMIN_ONLY_SDDL "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
!define PRODUCT_FOLDER_SDDL "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
!define EXIT_DONE 0
!define EXIT_RESTART 3010
!define EXIT_FAILED 1603
!define EXIT_BUSY 1618
!define EXIT_RESTART_FIRST 3017
!searchparse /noerrors "${VERSION}" "" VERSION_MAJOR "." VERSION_MINOR "."

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
Var logFile       ; the setup's log, "" when none is kept
Var logHandle
Var installerLog  ; where install.exe writes its log for this run ("" without a setup log)
Var setupMutex
Var logQuiet      ; 1: the next line goes to the log file only (a message box shows it)
Var privateDir    ; admin-only folder for install.exe's first runs and its logs

; ---- the setup's log ----------------------------------------------------------
; UTF-16LE text, one time-stamped line per step, with install.exe's own log of each run.

!macro LOG_FUNCTIONS UN
Function ${UN}LogOpen
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/LOG=" $logFile
  ${If} ${Errors}
    StrCpy $logFile ""
    ${If} ${Silent}
      SetShellVarContext all
      ${GetTime} "" "L" $R1 $R2 $R3 $R4 $R5 $R6 $R7
      StrCpy $logFile "$APPDATA\${PRODUCT}\Logs\setup-$R3$R2$R1-$R5$R6$R7.log"
      SetShellVarContext current
      Push $logFile
      Call ${UN}PrepareDefaultLogFolder
      Pop $R1
      ${If} $R1 != ""
        DetailPrint "No setup log is written: $R1"
        StrCpy $logFile ""
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${If} $logFile == ""
    Return
  ${EndIf}
  ${GetParent} $logFile $R1
  CreateDirectory $R1
  ClearErrors
  FileOpen $logHandle $logFile a
  ${If} ${Errors}
    StrCpy $logHandle ""
    Return
  ${EndIf}
  FileSeek $logHandle 0 END $R1
  ${If} $R1 == 0
    FileWriteWord $logHandle 0xFEFF
  ${EndIf}
FunctionEnd

; Pops a line, shows it under the details and writes it to the log.
Function ${UN}LogLine
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  ${If} $logQuiet != 1
    DetailPrint $R0
  ${EndIf}
  StrCpy $logQuiet 0
  ${If} $logHandle != ""
    ${GetTime} "" "L" $R1 $R2 $R3 $R4 $R5 $R6 $R7
    FileWriteUTF16LE $logHandle "$R3-$R2-$R1 $R5:$R6:$R7 $R0$\r$\n"
  ${EndIf}
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; Copies install.exe's log of the run that just ended into the setup's log, and deletes it.
Function ${UN}LogInstallerLog
  Push $R0
  Push $R1
  ${If} $logHandle != ""
  ${AndIf} $installerLog != ""
    ClearErrors
    FileOpen $R0 $installerLog r
    ${IfNot} ${Errors}
      FileSeek $R0 2  ; past the byte-order mark
      ${Do}
        ClearErrors
        FileReadUTF16LE $R0 $R1
        ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
        FileWriteUTF16LE $logHandle "    | $R1"
      ${Loop}
      FileClose $R0
    ${EndIf}
    Delete $installerLog
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd

; The setup's end: its exit code, in the log too.
Function ${UN}LogClose
  Exch $R0
  SetErrorLevel $R0
  ${If} $logHandle != ""
    Push "Exit code $R0"
    Call ${UN}LogLine
    FileClose $logHandle
    StrCpy $logHandle ""
  ${EndIf}
  Pop $R0
FunctionEnd

; One setup or uninstaller at a time on the machine, and none while install.exe runs.
; Pushes 1 when another one is going.
Function ${UN}TakeSetupMutex
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "${SETUP_MUTEX}") p .r1 ?e'
  Pop $0
  StrCpy $setupMutex $1
  ; 183: it exists; 5: it exists and is another account's (a deployment's, as SYSTEM).
  ${If} $0 = 183
  ${OrIf} $0 = 5
    Push 1
    Return
  ${EndIf}
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${INSTALLER_MUTEX}") p .r1'
  ${If} $1 P<> 0
    System::Call 'kernel32::CloseHandle(p r1)'
    Push 1
    Return
  ${EndIf}
  Push 0
FunctionEnd
; The default log folder lies where users may create folders before the setup runs: it is
; made admin-only, and neither it nor its parent may lead elsewhere (a junction or a symbolic
; link would send the elevated setup's log wherever a user chose). Takes the log file's path;
; pushes "" when the folder may be used, else why not.
Function ${UN}PrepareDefaultLogFolder
  Exch $R0
  Push $R1
  Push $R2
  ${GetParent} $R0 $R1  ; ...\Logs
  ${GetParent} $R1 $R2  ; ...\Marbleleaf
  StrCpy $R0 ""
  Push $R2
  Call ${UN}IsReparsePoint
  Pop $R0
  ${If} $R0 == 1
    StrCpy $R0 "$R2 is a link to another folder."
  ${Else}
    CreateDirectory $R2
    Push $R1
    Call ${UN}MakeAdminOnlyFolder
    Pop $R0
    ${If} $R0 = 183  ; ERROR_ALREADY_EXISTS: used unless it leads elsewhere
      Push $R1
      Call ${UN}IsReparsePoint
      Pop $R0
      ${If} $R0 == 1
        StrCpy $R0 "$R1 is a link to another folder."
      ${Else}
        StrCpy $R0 ""
      ${EndIf}
    ${ElseIf} $R0 <> 0
      StrCpy $R0 "$R1 could not be made (error $R0)."
    ${Else}
      StrCpy $R0 ""
    ${EndIf}
  ${EndIf}
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Pushes 1 when the path on the stack is a reparse point (junction, symbolic link, mount
; point), else 0.
Function ${UN}IsReparsePoint
  Exch $R0
  Push $R1
  System::Call 'kernel32::GetFileAttributesW(w R0) i .R1'
  StrCpy $R0 0
  ${If} $R1 <> -1
    IntOp $R1 $R1 & 0x400  ; FILE_ATTRIBUTE_REPARSE_POINT
    ${If} $R1 <> 0
      StrCpy $R0 1
    ${EndIf}
  ${EndIf}
  Pop $R1
  Exch $R0
FunctionEnd

; Creates the folder on the stack with an admin-only DACL in one step, so that nobody can
; slip a file in before it is protected; a folder that exists already (someone else's) is not
; used. Pushes the Windows error code, 0 when the folder was made.
Function ${UN}MakeAdminOnlyFolder
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${ADMIN_ONLY_SDDL}", i 1, *p .R1, p 0) i .R2 ?e'
  Pop $R3
  ${If} $R2 <> 0
    ; SECURITY_ATTRIBUTES on x64: length, padding, descriptor, inherit flag, padding.
    System::Call '*(i 24, i 0, p R1, i 0, i 0) p .R2'
    System::Call 'kernel32::CreateDirectoryW(w R0, p R2) i .R3 ?e'
    Pop $R0
    ${If} $R3 <> 0
      StrCpy $R0 0
    ${EndIf}
    System::Free $R2
    System::Call 'kernel32::LocalFree(p R1)'
  ${Else}
    StrCpy $R0 $R3
  ${EndIf}
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

!macroend
!insertmacro LOG_FUNCTIONS ""
!insertmacro LOG_FUNCTIONS "un."

; A line that a message box shows as well: in the log file only, so that the details list
; never holds a second copy of the box's text.
!macro LOG_QUIET TEXT
  StrCpy $logQuiet 1
  !insertmacro LOG `${TEXT}`
!macroend

!macro LOG TEXT
  Push `${TEXT}`
  !ifdef __UNINSTALL__
    Call un.LogLine
  !else
    Call LogLine
  !endif
!macroend

; Ends the setup here with an exit code (from .onInit and from RemoveProduct's callers).
!macro QUIT CODE
  Push ${CODE}
  !ifdef __UNINSTALL__
    Call un.LogClose
  !else
    Call LogClose
  !endif
  Quit
!macroend

; ---- install.exe ---------------------------------------------------------------

; One start of install.exe <verb>: its exit code in $0, or "" when it could not be started.
!macro EXEC_INSTALLER EXE VERB LOGGED
  StrCpy $0 ""
  ClearErrors
  ${If} ${LOGGED} == 1
  ${AndIf} $logHandle != ""
    ExecWait '"${EXE}" ${VERB} "/LOG=$installerLog"' $0
  ${ElseIf} ${LOGGED} == 1
  ${AndIf} $HWNDPARENT <> 0
    ExecWait '"${EXE}" ${VERB} $HWNDPARENT' $0
  ${Else}
    ExecWait '"${EXE}" ${VERB}' $0
  ${EndIf}
  ${If} ${Errors}
    StrCpy $0 ""
  ${EndIf}
!macroend

; Runs install.exe <verb> and leaves its exit code in $0, or "" when it could not be
; started. A run verb (LOGGED 1) writes its log into the setup's log when one is kept,
; and then shows no dialog, so that a silent setup never waits; without a setup log its
; log dialog is owned by the setup window, when there is one.
!macro RUN_INSTALLER EXE VERB LOGGED
  StrCpy $installerLog ""
  ${If} ${LOGGED} == 1
  ${AndIf} $logHandle != ""
    StrCpy $installerLog "$privateDir\install-${VERB}.log"
  ${EndIf}
  !insertmacro EXEC_INSTALLER "${EXE}" "${VERB}" "${LOGGED}"
  ${If} $0 == ""
    ; A program just written can be held for a moment (a virus scanner reads it), and a
    ; start that failed ran nothing: one more try after a pause.
    !insertmacro LOG "install.exe ${VERB} could not be started: trying once more."
    Sleep 2000
    !insertmacro EXEC_INSTALLER "${EXE}" "${VERB}" "${LOGGED}"
  ${EndIf}
  !insertmacro LOG "install.exe ${VERB}: exit code $0"
  !ifdef __UNINSTALL__
    Call un.LogInstallerLog
  !else
    Call LogInstallerLog
  !endif
!macroend

; The status line of an installation that stopped (only Cancel is left to press).
!define STOPPED "${PRODUCT} was not installed completely."

!macro FAIL TEXT
  !insertmacro LOG_QUIET "${TEXT}"
  MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
  SetErrorLevel ${EXIT_FAILED}
!macroend

; Administrator rights on 64-bit Windows, in the 64-bit registry view; else ends with 1603.
!macro CHECK_MACHINE
  SetRegView 64
  ${IfNot} ${RunningX64}
    !insertmacro FAIL "${PRODUCT} needs 64-bit Windows."
    !insertmacro QUIT ${EXIT_FAILED}
  ${EndIf}
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    !insertmacro FAIL "Setup needs administrator rights: run it as an administrator."
    !insertmacro QUIT ${EXIT_FAILED}
  ${EndIf}
!macroend

; The start of every setup and uninstaller run: any way out that is not a success ends
; with 1603 (NSIS itself would return 1 or 2), the log, the single-instance guard.
!macro BEGIN_RUN UN
  SetErrorLevel ${EXIT_FAILED}
  InitPluginsDir
  Call ${UN}LogOpen
  ${GetParameters} $R0
  !insertmacro LOG "${PRODUCT} setup ${VERSION}: $CMDLINE"
  Call ${UN}TakeSetupMutex
  Pop $0
  ${If} $0 == 1
    !insertmacro LOG_QUIET "Another ${PRODUCT} setup or installer run is in progress."
    MessageBox MB_OK|MB_ICONSTOP "Another ${PRODUCT} setup is running. Wait until it ends, then run this setup again." /SD IDOK
    !insertmacro QUIT ${EXIT_BUSY}
  ${EndIf}
  !insertmacro CHECK_MACHINE
  ; install.exe runs elevated, and writes its log, only in a folder that administrators alone
  ; can write: the plug-ins folder may lie in a temporary folder that users can write to, such
  ; as SYSTEM's.
  StrCpy $privateDir "$PLUGINSDIR\private"
  Push $privateDir
  Call ${UN}MakeAdminOnlyFolder
  Pop $R1
  ${If} $R1 <> 0
    !insertmacro FAIL "Setup could not make a private folder for install.exe (error $R1)."
    !insertmacro QUIT ${EXIT_FAILED}
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
    !insertmacro QUIT ${EXIT_FAILED}
  ${EndIf}
  ClearErrors
  ReadRegDWORD $0 HKLM "Software\Policies\Microsoft\Windows NT\Printers\WPP" "WindowsProtectedPrintGroupPolicyState"
  ${IfNot} ${Errors}
  ${AndIf} $0 = 1
    !insertmacro FAIL "${PRODUCT} cannot be installed: Windows protected print mode is on, set by policy, and allows no third-party printer driver. Nothing was changed. Ask your administrator about the policy $\"Configure Windows protected print$\"."
    !insertmacro QUIT ${EXIT_FAILED}
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
    ${If} $logHandle == ""
      !insertmacro FAIL "The removal of ${PRODUCT} is incomplete; its log was shown. The product's files stay, so that the removal can be run again."
    ${Else}
      !insertmacro FAIL "The removal of ${PRODUCT} is incomplete; its log is in $logFile. The product's files stay, so that the removal can be run again."
    ${EndIf}
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
  !insertmacro LOG "${PRODUCT} removed from $INSTDIR."
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
!insertmacro REMOVE_PRODUCT "un."  ; makensis defines __UNINSTALL__ inside un. functions

!macro OFFER_RESTART WHAT
  ${If} ${RebootFlag}
    MessageBox MB_YESNO|MB_ICONQUESTION "A restart of Windows finishes the ${WHAT} of ${PRODUCT}. Restart now?" /SD IDNO IDNO +2
    Reboot
  ${EndIf}
!macroend

; The tray companion's file. A companion that install.exe could not stop (another
; session's, or one started as SYSTEM) holds it: it is renamed aside, the new file
; is laid down, and the old one is deleted at the restart.
Function LayDownTray
  SetOutPath "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\mbltray.exe"
    Delete "$INSTDIR\mbltray.exe"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\mbltray.exe"
    GetTempFileName $R0 "$INSTDIR"
    Delete $R0
    ClearErrors
    Rename "$INSTDIR\mbltray.exe" $R0
    ${If} ${Errors}
      ; Not even renamed: the new file waits beside it and takes its place at the restart.
      File "/oname=$INSTDIR\mbltray.new" "${LAYOUT}/mbltray.exe"
      Rename /REBOOTOK "$INSTDIR\mbltray.new" "$INSTDIR\mbltray.exe"
      !insertmacro LOG "mbltray.exe is in use: the new one replaces it at the restart."
      Return
    ${EndIf}
    Delete /REBOOTOK $R0
    !insertmacro LOG "mbltray.exe is in use: renamed to $R0, deleted at the restart."
  ${EndIf}
  File "${LAYOUT}/mbltray.exe"
FunctionEnd

; Gives $INSTDIR the product folder's DACL, protected from inheritance (and so its files and
; app\ through its inheritable entries). A folder that holds something else than an earlier
; installation is refused: its other files would stay open to whoever could change them.
; Pushes "" when done, else the reason.
Function ProtectProductFolder
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  ${DirState} "$INSTDIR" $R0
  ${If} $R0 == 1
  ${AndIfNot} ${FileExists} "$INSTDIR\uninstall.exe"
    StrCpy $R0 "$INSTDIR holds other files: choose a new or empty folder."
    Goto done
  ${EndIf}
  CreateDirectory "$INSTDIR"
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${PRODUCT_FOLDER_SDDL}", i 1, *p .R1, p 0) i .R2'
  System::Call 'advapi32::GetSecurityDescriptorDacl(p R1, *i .R3, *p .R4, *i .R3) i .R2'
  ; SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
  System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR", i 1, i 0x80000004, p 0, p 0, p R4, p 0) i .R2'
  System::Call 'kernel32::LocalFree(p R1)'
  StrCpy $R0 ""
  ${If} $R2 != 0  ; as text: a call that could not be made leaves "error"
    StrCpy $R0 "The folder $INSTDIR could not be protected (error $R2)."
  ${EndIf}
done:
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

Function .onInit
  !insertmacro BEGIN_RUN ""
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
      !insertmacro LOG_QUIET "${PRODUCT} is not installed."
      MessageBox MB_OK|MB_ICONINFORMATION "${PRODUCT} is not installed." /SD IDOK
      !insertmacro QUIT ${EXIT_DONE}
    ${EndIf}
    Call RemoveProduct
    Pop $R1
    ${If} $R1 != ${EXIT_FAILED}
      MessageBox MB_OK|MB_ICONINFORMATION "${PRODUCT} was removed." /SD IDOK
      !insertmacro OFFER_RESTART "removal"
    ${EndIf}
    !insertmacro QUIT $R1
  ${EndIf}

  ; An older setup never replaces a newer installation unless told to; the same version
  ; is a repair.
  ReadRegStr $R1 HKLM "${UNINSTALL_KEY}" "${DETECTION_VALUE}"
  ${If} $R1 != ""
    ${VersionCompare} "$R1" "${VERSION}" $R2
    ${If} $R2 == 1
      ClearErrors
      ${GetOptions} $R0 "/ALLOWDOWNGRADE" $R3
      ${If} ${Errors}
        !insertmacro FAIL "${PRODUCT} $R1 is installed, which is newer than ${VERSION}: setup stops. Run it with /ALLOWDOWNGRADE to install the older version."
        !insertmacro QUIT ${EXIT_FAILED}
      ${EndIf}
      !insertmacro LOG "Downgrade from $R1 to ${VERSION} (/ALLOWDOWNGRADE)."
    ${ElseIf} $R2 == 0
      !insertmacro LOG "Repair: ${VERSION} is installed already."
    ${Else}
      !insertmacro LOG "Upgrade from $R1 to ${VERSION}."
    ${EndIf}
  ${EndIf}

  ; Before anything is laid down: may setup run now at all?
  !insertmacro CHECK_INSTALLABLE
  File "/oname=$privateDir\install.exe" "${LAYOUT}/app/install.exe"
  !insertmacro RUN_INSTALLER "$privateDir\install.exe" "onInit" 0
  ${If} $0 == ""
    !insertmacro FAIL "Setup could not start install.exe: ${PRODUCT} was not installed."
    !insertmacro QUIT ${EXIT_FAILED}
  ${ElseIf} $0 == 200
    !insertmacro FAIL "Windows must restart before ${PRODUCT} can be installed: files of an earlier installation still wait to be deleted. Restart Windows, then run this setup again."
    !insertmacro QUIT ${EXIT_RESTART_FIRST}
  ${ElseIf} $0 == 102
    StrCpy $offerDefault 1
  ${ElseIf} $0 != 3
    !insertmacro FAIL "install.exe ended with the unexpected code $0: ${PRODUCT} was not installed."
    !insertmacro QUIT ${EXIT_FAILED}
  ${EndIf}
FunctionEnd

Section "${PRODUCT}"
  !insertmacro LOG "Installing into $INSTDIR."
  SetOutPath "$INSTDIR"
  ; A running companion of an earlier installation holds its file: stop it first.
  !insertmacro RUN_INSTALLER "$privateDir\install.exe" "removetray" 0
  ${If} $0 == ""
    !insertmacro FAIL "Setup could not start install.exe: ${PRODUCT} was not installed."
    Abort "${STOPPED}"
  ${EndIf}

  Call ProtectProductFolder
  Pop $R0
  ${If} $R0 != ""
    !insertmacro FAIL "$R0 ${PRODUCT} was not installed."
    Abort "${STOPPED}"
  ${EndIf}

  ; Until install.exe reports the product installed, detection rules must not see it.
  DeleteRegValue HKLM "${UNINSTALL_KEY}" "${DETECTION_VALUE}"
  DeleteRegValue HKLM "${UNINSTALL_KEY}" "DisplayVersion"

  SetOutPath "$INSTDIR\app"
  File "${LAYOUT}/app/*.*"
  Call LayDownTray
  !insertmacro LOG "Files laid down."

  ; The entry is written before the product is installed: whatever install.exe leaves
  ; behind can be removed through Add or Remove Programs.
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${URL}"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMajor" ${VERSION_MAJOR}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMinor" ${VERSION_MINOR}
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
    ${If} $logHandle == ""
      !insertmacro FAIL "The installation of ${PRODUCT} is incomplete; its log was shown. Run this setup again, or remove ${PRODUCT} under Add or Remove Programs."
    ${Else}
      !insertmacro FAIL "The installation of ${PRODUCT} is incomplete; its log is in $logFile. Run this setup again, or remove ${PRODUCT} under Add or Remove Programs."
    ${EndIf}
    Abort "${STOPPED}"
  ${ElseIf} $0 == 101
    SetRebootFlag true
  ${ElseIf} $0 != 1
    !insertmacro FAIL "install.exe ended with the unexpected code $0: the installation of ${PRODUCT} may be incomplete."
    Abort "${STOPPED}"
  ${EndIf}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "${DETECTION_VALUE}" "${VERSION}"
  !insertmacro LOG "${PRODUCT} ${VERSION} installed."

  !insertmacro RUN_INSTALLER "$INSTDIR\app\install.exe" "onChkDrv" 0
  ${If} $0 == 3
    ; The old driver stays loaded until Windows restarts: a restart finishes the job.
    SetRebootFlag true
    !insertmacro LOG_QUIET "The printer driver in use is not the current one: a restart of Windows finishes the installation."
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
    Push ${EXIT_RESTART}
  ${Else}
    Push ${EXIT_DONE}
  ${EndIf}
  Call LogClose
SectionEnd

Function .onInstSuccess
  !insertmacro OFFER_RESTART "installation"
FunctionEnd

; A setup that stopped (a failure, an NSIS abort such as a file that cannot be written,
; or Cancel): 1603, set at the start, stays; the log says how it ended.
Function .onInstFailed
  Push ${EXIT_FAILED}
  Call LogClose
FunctionEnd

Function .onUserAbort
  !insertmacro LOG "Cancelled."
  Push ${EXIT_FAILED}
  Call LogClose
FunctionEnd

Function un.onInit
  !insertmacro BEGIN_RUN "un."
FunctionEnd

Section "Uninstall"
  Call un.RemoveProduct
  Pop $R1
  Push $R1
  Call un.LogClose
  ${If} $R1 == ${EXIT_FAILED}
    Abort
  ${EndIf}
SectionEnd

Function un.onUninstSuccess
  !insertmacro OFFER_RESTART "removal"
FunctionEnd

Function un.onUninstFailed
  Push ${EXIT_FAILED}
  Call un.LogClose
FunctionEnd
