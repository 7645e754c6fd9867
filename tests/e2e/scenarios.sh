# End-to-end scenarios. Each is a function scenario_<name>: it starts with
# e2e_begin, drives the machine and states what it expects with e2e_expect_*.

# ---- independent of the installer's logic -----------------------------------

# The verbs that the installer does not know end it at once with 6.
scenario_smoke() {
    e2e_begin smoke
    e2e_install
    e2e_expect_rc 6 "no verb"
    e2e_install bogus
    e2e_expect_rc 6 "bogus verb"
    e2e_install DEF.SET
    e2e_expect_rc 6 "verbs are case-sensitive"
}

# The monitor loads in a spooler, and its port appears with every string set.
scenario_payload_monitor() {
    e2e_begin payload_monitor
    cp "$(e2e_unix "$E2E_APP_WIN")/mlxmon64.dll" "$(e2e_unix "$E2E_SYSTEM32_WIN")/"
    e2e_setup addmonitor mlxmon64.dll
    e2e_tool setup addmonitor mlxmon64.dll
    e2e_expect_rc 1 "second AddMonitorW"
    e2e_expect_line "$E2E_OUT" "error 3006"
    e2e_expect_line "$(e2e_inspect monitors)" "monitor MarbleleafServer: | mlxmon64.dll"
    e2e_expect_line "$(e2e_inspect ports)" "port MarbleleafServer: | MarbleleafServer: | Marbleleaf Server Port"
    # The version resource carries the build as the fourth number.
    e2e_expect_line "$(e2e_inspect files "$E2E_APP_WIN" 'mlx*')" "file mlxmon64.dll size $(stat -c %s "$E2E_LAYOUT/2093/app/mlxmon64.dll") build 2093"
    e2e_expect_match "$(e2e_inspect files "$E2E_APP_WIN" 'mlx*')" '^file mlxui32\.dll size [0-9]+ build 2093$'
}

# The companion holds its mutex and window, stays single, and leaves on 1026.
scenario_payload_tray() {
    e2e_begin payload_tray
    local tray="$E2E_PRODUCT_WIN\\mbltray.exe"
    e2e_expect_line "$(e2e_inspect tray)" "tray mutex no window no"
    e2e_spawn tray "" "$tray"
    e2e_wait_tray "tray mutex yes window yes"
    # A second copy finds the mutex and leaves at once.
    e2e_run "$tray"
    e2e_expect_rc 0 "second companion"
    e2e_setup trayexit
    e2e_wait tray 10
    e2e_expect_rc 0 "companion's exit"
    e2e_expect_line "$(e2e_inspect tray)" "tray mutex no window no"

    # "slow": the window goes at once, the mutex only after the delay.
    printf 'slow 3000' >"$(e2e_unix "$E2E_PRODUCT_WIN")/mbltray.behaviour"
    e2e_spawn tray "" "$tray"
    e2e_wait_tray "tray mutex yes window yes"
    e2e_setup trayexit
    sleep 0.5
    e2e_expect_line "$(e2e_inspect tray)" "tray mutex yes window no"
    e2e_wait tray 10
    e2e_expect_line "$(e2e_inspect tray)" "tray mutex no window no"

    # "never": the request is ignored.
    printf 'never\n' >"$(e2e_unix "$E2E_PRODUCT_WIN")/mbltray.behaviour"
    e2e_spawn tray "" "$tray"
    e2e_wait_tray "tray mutex yes window yes"
    e2e_setup trayexit
    sleep 1
    e2e_expect_line "$(e2e_inspect tray)" "tray mutex yes window yes"
    e2e_kill tray
}

# A job printed to a printer on the product port arrives in the job folder.
scenario_payload_printjob() {
    e2e_begin payload_printjob
    cp "$(e2e_unix "$E2E_APP_WIN")/mlxmon64.dll" "$(e2e_unix "$E2E_SYSTEM32_WIN")/"
    e2e_setup addmonitor mlxmon64.dll
    e2e_register_port
    e2e_setup adddriver "$E2E_APP_WIN" x64
    e2e_setup addprinter "Marbleleaf Test" --comment "e2e"
    e2e_expect_line "$(e2e_inspect drivers)" "  driver $E2E_DRIVERS_WIN\\x64\\3\\mlxdrv64.dll"
    e2e_setup print "Marbleleaf Test" "hello from the e2e tier"
    e2e_expect_job "hello from the e2e tier"
}

# The simulated reboot carries out pending deletions, held files included once freed.
scenario_harness_reboot() {
    e2e_begin harness_reboot
    mkdir -p "$(e2e_unix 'C:\held')"
    echo data >"$(e2e_unix 'C:\held')/mlxdrv64.dll"
    e2e_spawn holder holding "$E2E_TOOLS_WIN\\setup.exe" hold 'C:\held\mlxdrv64.dll'
    e2e_setup pending 'C:\held\mlxdrv64.dll'
    e2e_expect_line "$(e2e_inspect pending)" 'pending \??\C:\held\mlxdrv64.dll -> (delete)'
    e2e_reboot
    e2e_expect_no_file 'C:\held\mlxdrv64.dll'
    e2e_expect_line "$(e2e_inspect pending)" "pending (none)"
}

# A job file with this content appears within 10 s.
e2e_expect_job() {
    local folder
    folder=$(e2e_unix "$E2E_JOBS_WIN")
    if ! e2e_eventually 10 bash -c "grep -qsF -- \"\$1\" \"\$2\"/job-*.prn" _ "$1" "$folder"; then
        e2e_fail "no job with '$1' in $E2E_JOBS_WIN: $(ls "$folder" 2>&1)"
    fi
}

# ---- need the complete installer (CMake option E2E_INSTALLER_SCENARIOS) -----

# What every installer scenario needs from this Wine: printers created without
# a datatype get one (WINE-NOTES.md), and jobs are routed to the monitor.
e2e_installer_prefix() {
    e2e_begin "$@"
    e2e_spawn guard guarding "$E2E_TOOLS_WIN\\setup.exe" datatypeguard
    e2e_run reg add 'HKLM\System\CurrentControlSet\Control\Print\Printers\mblServer' /v Datatype /d RAW /f
    e2e_register_port
}

# The state of a machine with build $1 installed and the one printer mblServer.
e2e_expect_installed() {
    local build=${1:-2093} state
    state=$(e2e_inspect)
    e2e_expect_line "$state" "monitor MarbleleafServer: | mlxmon64.dll"
    e2e_expect_line "$state" "port MarbleleafServer: | MarbleleafServer: | Marbleleaf Server Port"
    e2e_expect_line "$state" "driver Windows x64 | Marbleleaf Server"
    e2e_expect_line "$state" "driver Windows NT x86 | Marbleleaf Server"
    e2e_expect_line "$state" "  driver $E2E_DRIVERS_WIN\\x64\\3\\mlxdrv64.dll"
    e2e_expect_line "$state" "  config $E2E_DRIVERS_WIN\\w32x86\\3\\mlxui32.dll"
    e2e_expect_line "$state" "run $E2E_PRODUCT_WIN\\mbltray.exe"
    e2e_expect_line "$(e2e_inspect files "$E2E_SYSTEM32_WIN" 'mlx*')" \
        "file mlxmon64.dll size $(stat -c %s "$E2E_LAYOUT/$build/app/mlxmon64.dll") build $build"
    e2e_expect_match "$(e2e_inspect files "$E2E_DRIVERS_WIN\\x64\\3" 'mlx*')" "^file mlxdrv64\.dll size [0-9]+ build $build$"
    e2e_wait_tray "tray mutex yes window yes"
}

scenario_clean_install() {
    e2e_installer_prefix clean_install
    e2e_install install
    e2e_expect_rc 1 "clean install"
    e2e_expect_installed 2093
    local printers
    printers=$(e2e_inspect printers)
    e2e_expect_line "$(e2e_printer_block "$printers" mblServer)" "  port MarbleleafServer:"
    e2e_expect_line "$(e2e_printer_block "$printers" mblServer)" "  shared yes"
    e2e_expect_line "$(e2e_printer_block "$printers" mblServer)" "  share mblServer"
    e2e_expect_line "$(e2e_inspect default)" "default mblServer"
    e2e_expect_line "$(e2e_inspect pending)" "pending (none)"
}

scenario_uninstall() {
    e2e_installer_prefix uninstall
    e2e_install install
    e2e_expect_rc 1 "install"
    e2e_install uninstall
    e2e_expect_rc 2 "uninstall"
    local state
    state=$(e2e_inspect)
    e2e_expect_no_match "$state" '^monitor MarbleleafServer:'
    e2e_expect_no_match "$state" '^driver .* \| Marbleleaf Server$'
    e2e_expect_no_match "$state" '^printer '
    e2e_expect_line "$state" "run (none)"
    e2e_expect_line "$state" "tray mutex no window no"
    e2e_expect_no_file "$E2E_PRODUCT_WIN\\mbltray.exe"
    e2e_expect_line "$(e2e_inspect files "$E2E_SYSTEM32_WIN" 'mlx*')" "files (none)"
}

# onChkDrv: 103 when the installed driver is build 2073 or later, else 3.
scenario_chkdrv() {
    e2e_installer_prefix chkdrv
    e2e_install onChkDrv
    e2e_expect_rc 3 "no product printer"
    e2e_lay_out 2072
    e2e_install install
    e2e_expect_rc 1 "install of build 2072"
    e2e_install onChkDrv
    e2e_expect_rc 3 "build 2072"
    e2e_lay_out 2073
    e2e_install install
    e2e_expect_rc 1 "install of build 2073"
    e2e_install onChkDrv
    e2e_expect_rc 103 "build 2073"
}

# onInit: 200 for a locked pending product module, else 102 or 3 by the default printer.
scenario_oninit() {
    e2e_installer_prefix oninit
    e2e_install onInit
    e2e_expect_rc 102 "no default printer"
    e2e_install install
    e2e_expect_rc 1 "install"
    e2e_install onInit
    e2e_expect_rc 3 "product printer is the default"
    mkdir -p "$(e2e_unix 'C:\held')"
    echo held >"$(e2e_unix 'C:\held')/MLXUI64.DLL"
    e2e_setup pending 'C:\held\MLXUI64.DLL'
    e2e_spawn hold holding "$E2E_TOOLS_WIN\\setup.exe" hold 'C:\held\MLXUI64.DLL'
    e2e_install onInit
    e2e_expect_rc 200 "locked pending module"
    e2e_kill hold
    e2e_install onInit
    e2e_expect_rc 3 "pending module deleted once free"
    e2e_expect_no_file 'C:\held\MLXUI64.DLL'
}

scenario_defset() {
    e2e_installer_prefix defset
    e2e_install install
    e2e_expect_rc 1 "install"
    e2e_setup addprinter Office --subkey office
    e2e_setup setdefault Office
    e2e_install def.set
    e2e_expect_rc 4 "def.set"
    e2e_expect_match "$(e2e_inspect default)" '^default (mblServer|Office)$'
}

# A module missing from the installer's folder: errors, the log shown, 100.
scenario_missing_ui() {
    e2e_installer_prefix missing_ui
    rm "$(e2e_unix "$E2E_APP_WIN")/mlxui64.dll"
    e2e_spawn installer "" "$E2E_APP_WIN\\install.exe" install
    e2e_tool logdialog 60000
    e2e_expect_rc 0 "log dialog"
    local dialog=$E2E_OUT
    e2e_expect_match "$dialog" '^title: .+'
    e2e_expect_match "$dialog" "Cant't open source file: mlxui64\.dll"
    e2e_wait installer 60
    e2e_expect_rc 100 "install without mlxui64.dll"
}

# Shift down at the end of a clean run shows the log all the same.
scenario_shift_held() {
    e2e_installer_prefix shift_held
    e2e_spawn shift "shift down" "$E2E_TOOLS_WIN\\shiftdown.exe"
    e2e_spawn installer "" "$E2E_APP_WIN\\install.exe" install
    e2e_tool logdialog 60000
    e2e_expect_rc 0 "log dialog"
    e2e_expect_match "$E2E_OUT" '>ReInstall'
    e2e_wait installer 60
    e2e_expect_rc 1 "install with Shift held"
    e2e_kill shift
}

# A driver file held open past the run goes to the reboot: 101, then gone after it.
scenario_locked_file() {
    e2e_installer_prefix locked_file
    e2e_install install
    e2e_expect_rc 1 "install"
    local held="$E2E_DRIVERS_WIN\\x64\\3\\mlxdrv64.dll"
    e2e_spawn holder loaded "$E2E_TOOLS_WIN\\setup.exe" load "$held"
    e2e_install uninstall
    e2e_expect_rc 101 "uninstall with a held driver module"
    e2e_expect_match "$(e2e_inspect pending)" 'mlxdrv64\.dll -> \(delete\)$'
    e2e_expect_file "$held"
    e2e_reboot
    e2e_expect_no_file "$held"
    e2e_expect_line "$(e2e_inspect pending)" "pending (none)"
}

# Product printers with a settings key come back under their names and settings.
scenario_reinstall_keeps_printers() {
    e2e_installer_prefix reinstall_keeps_printers
    e2e_install install
    e2e_expect_rc 1 "first install"
    e2e_setup addprinter Office --subkey office-key --comment "2nd floor" --location "Room 12" --share OfficeShare
    e2e_setup setdefault Office
    e2e_lay_out 2094
    e2e_install install
    e2e_expect_rc 1 "reinstall"
    local printers office
    printers=$(e2e_inspect printers)
    office=$(e2e_printer_block "$printers" Office)
    e2e_expect_line "$office" "  comment 2nd floor"
    e2e_expect_line "$office" "  location Room 12"
    e2e_expect_line "$office" "  subkey 1 office-key"
    e2e_expect_line "$office" "  dsuser 1 office-key"
    e2e_expect_no_line "$printers" "printer mblServer"
    e2e_expect_line "$(e2e_inspect default)" "default Office"
    e2e_expect_installed 2094
}

# After an install, a job printed to the product printer reaches the monitor.
scenario_print_after_install() {
    e2e_installer_prefix print_after_install
    e2e_install install
    e2e_expect_rc 1 "install"
    e2e_setup print mblServer "page one"
    e2e_expect_job "page one"
}
