# End-to-end scenarios. Each is a function scenario_<name>: it starts with
# e2e_begin, drives the machine and states what it expects with e2e_expect_*.

# ---- independent of the installer's logic -----------------------------------

# The verbs that the installer does not know end it at once with 6.
scenario_unknown_verbs_6() {
    e2e_begin unknown_verbs_6
    e2e_install
    e2e_expect_rc 6 "no verb"
    e2e_install bogus
    e2e_expect_rc 6 "bogus verb"
    e2e_install DEF.SET
    e2e_expect_rc 6 "verbs are case-sensitive"
}

# The monitor loads in a spooler, and its port appears with every string set.
scenario_payload_monitor_lists_its_port() {
    e2e_begin payload_monitor_lists_its_port
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
scenario_payload_tray_single_leaves_on_request() {
    e2e_begin payload_tray_single_leaves_on_request
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
scenario_payload_job_reaches_monitor() {
    e2e_begin payload_job_reaches_monitor
    cp "$(e2e_unix "$E2E_APP_WIN")/mlxmon64.dll" "$(e2e_unix "$E2E_SYSTEM32_WIN")/"
    e2e_setup addmonitor mlxmon64.dll
    e2e_setup adddriver "$E2E_APP_WIN" x64
    e2e_setup addprinter "Marbleleaf Test" --comment "e2e"
    e2e_expect_line "$(e2e_inspect drivers)" "  driver $E2E_DRIVERS_WIN\\x64\\3\\mlxdrv64.dll"
    e2e_setup print "Marbleleaf Test" "hello from the e2e tier"
    e2e_expect_job "hello from the e2e tier"
}

# The simulated reboot carries out pending deletions, held files included once freed.
scenario_harness_reboot_runs_pending_deletes() {
    e2e_begin harness_reboot_runs_pending_deletes
    mkdir -p "$(e2e_unix 'C:\held')"
    echo data >"$(e2e_unix 'C:\held')/mlxdrv64.dll"
    e2e_spawn holder holding "$E2E_TOOLS_WIN\\setup.exe" hold 'C:\held\mlxdrv64.dll'
    e2e_setup pending 'C:\held\mlxdrv64.dll'
    e2e_expect_line "$(e2e_inspect pending)" 'pending \??\C:\held\mlxdrv64.dll -> (delete)'
    e2e_reboot
    e2e_expect_no_file 'C:\held\mlxdrv64.dll'
    e2e_expect_line "$(e2e_inspect pending)" "pending (none)"
}

# ---- the complete installer -------------------------------------------------
#
# Every install and uninstall run is made with Shift held (shiftdown.exe), so
# the log dialog always appears: the harness reads the run's log from it
# (control 1001, logdialog.exe), keeps it as an artifact and closes it. Each
# scenario expects what Windows gives; the corrected Wine (scripts/wine) runs
# them, and tier_differences.txt lists what only the prefix or Wine's wording
# changes in a log.

# Clean install with Shift held: 1, the dialog titled "... log.", everything
# installed, the user's default printer still the default; the new printer opens
# and a job printed to it reaches the monitor (which recorded its port itself).
scenario_clean_install_1_printer_prints() {  # labels: installer
    e2e_installer_prefix clean_install_1_printer_prints
    e2e_seed_user_default
    e2e_install_logged install
    e2e_expect_rc 1 "clean install"
    [ "$E2E_TITLE" = "Marbleleaf build 2093- Install log." ] || e2e_fail "title '$E2E_TITLE'"
    e2e_compare_tiers first_install_beside_users_printer
    e2e_expect_line "$E2E_LOG" "      AddMonitor - OK :)"
    e2e_expect_installed 2093
    e2e_wait_tray "tray mutex yes window yes"
    e2e_expect_mblserver
    e2e_expect_line "$(e2e_inspect default)" "default Laser"
    e2e_expect_line "$(e2e_inspect pending)" "pending (none)"
    e2e_setup print mblServer "page one"
    e2e_expect_job "page one"
}

# Without Shift an error-free run shows nothing and ends by itself.
scenario_install_without_shift_shows_no_dialog() {  # labels: installer
    e2e_begin install_without_shift_shows_no_dialog
    timeout 60 "$E2E_WINE" "$E2E_APP_WIN\\install.exe" install >/dev/null 2>&1 </dev/null
    RC=$?
    e2e_expect_rc 1 "install without Shift, no dialog"
    e2e_expect_installed 2093
    e2e_wait_tray "tray mutex yes window yes"
}

# A second install over the first: 1, the compatible monitor kept (neither
# copied nor registered again), the drivers and mblServer made afresh. The
# companion is stopped and started again from the same file, which stays.
scenario_second_install_1_keeps_monitor() {  # labels: installer
    e2e_installer_prefix second_install_1_keeps_monitor
    e2e_install_logged install
    e2e_expect_rc 1 "first install"
    e2e_wait_tray "tray mutex yes window yes"
    e2e_install_logged install
    e2e_expect_rc 1 "second install"
    [ "$E2E_TITLE" = "Marbleleaf build 2093- Install log." ] || e2e_fail "title '$E2E_TITLE'"
    e2e_compare_tiers reinstall_over_install
    e2e_expect_no_error
    e2e_expect_no_match "$E2E_LOG" 'AddMonitor|Copy monitor file'
    e2e_expect_match "$E2E_LOG" "^ +Version \(2093\) is compatible, proceed without uninstall$"
    e2e_expect_installed 2093
    e2e_expect_mblserver
    e2e_expect_file "$E2E_PRODUCT_WIN\\mbltray.exe"
    e2e_wait_tray "tray mutex yes window yes"
    e2e_setup print mblServer "after the second install"
    e2e_expect_job "after the second install"
}

# A reinstall (the server verb) over product printers left by an earlier
# installation: "Front Desk" with its settings key, comment, location and its own
# share name, "Back Office" with its key in DsUser, a comment and a location, the
# default printer, and "Scratch" without a key. Both keyed printers come back with
# all of that and their per-user "deleted" marks cleared; "Scratch" is gone and no
# "mblServer" is made: 1.
scenario_reinstall_1_keeps_keyed_printers() {  # labels: installer
    e2e_installer_prefix reinstall_1_keeps_keyed_printers
    e2e_install_logged install
    e2e_expect_rc 1 "first install"
    e2e_setup delprinter mblServer
    e2e_setup addprinter "Front Desk" --subkey FrontKey --comment "by the door" --location "Ground floor" --share FRONT
    e2e_setup addprinter "Back Office" --dsuser BackKey --comment "files" --location "First floor" --default
    e2e_setup addprinter Scratch
    local key
    for key in FrontKey BackKey; do
        e2e_run reg add "$E2E_SETTINGS_KEY\\$key" /v deleted /d 1 /f
    done
    e2e_install_logged serverinstall
    e2e_expect_rc 1 "reinstall over saved printers"
    e2e_compare_tiers reinstall_saved_printers
    e2e_expect_no_error
    local printers front back
    printers=$(e2e_inspect printers)
    front=$(e2e_printer_block "$printers" "Front Desk")
    back=$(e2e_printer_block "$printers" "Back Office")
    e2e_expect_line "$front" "  port MarbleleafServer:"
    e2e_expect_line "$front" "  comment by the door"
    e2e_expect_line "$front" "  location Ground floor"
    e2e_expect_line "$front" "  shared yes"
    e2e_expect_line "$front" "  share FRONT"
    e2e_expect_line "$front" "  subkey 1 FrontKey"
    e2e_expect_line "$back" "  port MarbleleafServer:"
    e2e_expect_line "$back" "  comment files"
    e2e_expect_line "$back" "  location First floor"
    e2e_expect_line "$back" "  shared yes"
    e2e_expect_line "$back" "  dsuser 1 BackKey"
    e2e_expect_line "$(e2e_inspect default)" "default Back Office"
    e2e_expect_no_line "$printers" "printer Scratch"
    e2e_expect_no_line "$printers" "printer mblServer"
    for key in FrontKey BackKey; do
        e2e_run reg query "$E2E_SETTINGS_KEY\\$key" /v deleted
        [ "$RC" -ne 0 ] || e2e_fail "the 'deleted' mark of $key is still there"
    done
    e2e_expect_installed 2093
}

# A reinstall of a newer build (2094) over two product printers with settings
# keys: 1, both back with their comments, locations, share and default status;
# the drivers are the new build's, the compatible 2093 monitor stays.
scenario_upgrade_1_keeps_printers_takes_new_drivers() {  # labels: installer
    e2e_installer_prefix upgrade_1_keeps_printers_takes_new_drivers
    e2e_install_with_two_keyed_printers
    e2e_lay_out 2094
    e2e_install_logged install
    e2e_expect_rc 1 "reinstall of build 2094"
    e2e_expect_no_error
    e2e_expect_match "$E2E_LOG" "^ +>AddPrinter\(Office\)$"
    e2e_expect_match "$E2E_LOG" "^ +>AddPrinter\(Lab\)$"
    local printers office lab
    printers=$(e2e_inspect printers)
    office=$(e2e_printer_block "$printers" Office)
    lab=$(e2e_printer_block "$printers" Lab)
    e2e_expect_line "$office" "  comment 2nd floor"
    e2e_expect_line "$office" "  location Room 12"
    e2e_expect_line "$office" "  share OfficeShare"
    e2e_expect_line "$office" "  subkey 1 office-key"
    e2e_expect_line "$lab" "  comment lab"
    e2e_expect_line "$lab" "  location Room 3"
    e2e_expect_line "$lab" "  subkey 1 lab-key"
    e2e_expect_line "$(e2e_inspect default)" "default Office"
    e2e_expect_installed 2094 2093
}

# Uninstall: 2 on a machine without the product; 2 over an installation, with
# nothing of the product left.
scenario_uninstall_2_leaves_nothing() {  # labels: installer
    e2e_installer_prefix uninstall_2_leaves_nothing
    e2e_install_logged uninstall
    e2e_expect_rc 2 "uninstall of a machine without the product"
    e2e_compare_tiers uninstall_without_product
    e2e_install_logged install
    e2e_expect_rc 1 "install"
    e2e_wait_tray "tray mutex yes window yes"
    e2e_install_logged uninstall
    e2e_expect_rc 2 "uninstall"
    e2e_compare_tiers uninstall_after_install
    e2e_expect_no_error
    e2e_expect_nothing_left
}

# removetray: the companion stopped, its Run value gone: 6.
scenario_removetray_6_stops_companion() {  # labels: installer
    e2e_installer_prefix removetray_6_stops_companion
    e2e_install_logged install
    e2e_expect_rc 1 "install"
    e2e_wait_tray "tray mutex yes window yes"
    e2e_install removetray
    e2e_expect_rc 6 "removetray"
    e2e_wait_tray "tray mutex no window no"
    e2e_expect_line "$(e2e_inspect run)" "run (none)"
    e2e_expect_no_file "$E2E_PRODUCT_WIN\\mbltray.exe"
}

# The Run value is a command line: written quoted. One written without quotes by an
# earlier version still names the companion: removetray and uninstall delete its file
# and the value.
scenario_unquoted_run_value_removed() {  # labels: installer
    e2e_installer_prefix unquoted_run_value_removed
    e2e_install_logged install
    e2e_expect_rc 1 "install"
    e2e_expect_line "$(e2e_inspect run)" "run \"$E2E_PRODUCT_WIN\\mbltray.exe\""
    e2e_wait_tray "tray mutex yes window yes"
    local tray kept=$E2E_SPAWNED/mbltray.exe.kept verb
    tray="$(e2e_unix "$E2E_PRODUCT_WIN")/mbltray.exe"
    cp "$tray" "$kept"
    for verb in removetray uninstall; do
        [ -f "$tray" ] || cp "$kept" "$tray"
        e2e_run reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v MarbleleafTray \
            /t REG_SZ /d "$E2E_PRODUCT_WIN\\mbltray.exe" /f
        e2e_expect_rc 0 "reg add of the unquoted value"
        e2e_expect_line "$(e2e_inspect run)" "run $E2E_PRODUCT_WIN\\mbltray.exe"
        if [ "$verb" = removetray ]; then
            e2e_install removetray
            e2e_expect_rc 6 "removetray over the unquoted value"
        else
            e2e_install_logged uninstall
            e2e_expect_rc 2 "uninstall over the unquoted value"
        fi
        e2e_wait_tray "tray mutex no window no"
        e2e_expect_line "$(e2e_inspect run)" "run (none)"
        e2e_expect_no_file "$E2E_PRODUCT_WIN\\mbltray.exe"
    done
    e2e_expect_nothing_left
}

# onChkDrv: 3 without a product printer, 103 once build 2093 (>= 2073) is installed.
scenario_chkdrv_3_then_103() {  # labels: installer
    e2e_installer_prefix chkdrv_3_then_103
    e2e_install onChkDrv
    e2e_expect_rc 3 "no product printer"
    e2e_install_logged install
    e2e_expect_rc 1 "install"
    e2e_install onChkDrv
    e2e_expect_rc 103 "build 2093"
}

# onChkDrv after a clean install of build 2072: 3 (older than 2073).
scenario_chkdrv_3_for_build_2072() {  # labels: installer
    e2e_installer_prefix chkdrv_3_for_build_2072 2072
    e2e_install_logged install
    e2e_expect_rc 1 "install of build 2072"
    e2e_install onChkDrv
    e2e_expect_rc 3 "build 2072"
}

# onInit: 102 while the default printer is the user's own, 3 once it is the
# product printer, 200 while a pending product module stays locked.
scenario_oninit_102_3_200() {  # labels: installer
    e2e_installer_prefix oninit_102_3_200
    e2e_seed_user_default
    e2e_install onInit
    e2e_expect_rc 102 "the user's default printer"
    e2e_install_logged install
    e2e_expect_rc 1 "install"
    e2e_install onInit
    e2e_expect_rc 102 "mblServer is not made the default"
    e2e_install def.set
    e2e_expect_rc 4 "def.set"
    e2e_install onInit
    e2e_expect_rc 3 "product printer is the default"
    # A product module where the product puts it (the driver folder, where the install stages
    # its copies): the probe acts only on the product's own files.
    local staged='C:\windows\system32\spool\drivers\x64\MLXUI64.DLL'
    echo held >"$(e2e_unix "$staged")"
    e2e_setup pending "$staged"
    e2e_spawn hold holding "$E2E_TOOLS_WIN\\setup.exe" hold "$staged"
    e2e_install onInit
    e2e_expect_rc 200 "locked pending module"
    e2e_kill hold
    e2e_install onInit
    e2e_expect_rc 3 "pending module deleted once free"
    e2e_expect_no_file "$staged"
    e2e_expect_line "$(e2e_inspect pending)" "pending (none)"
}

# def.set: the first product printer in enumeration order ("mblServer" before
# "Office") becomes the default over another product printer: 4.
scenario_defset_4_first_product_printer_default() {  # labels: installer
    e2e_installer_prefix defset_4_first_product_printer_default
    e2e_install_logged install
    e2e_expect_rc 1 "install"
    e2e_setup addprinter Office
    e2e_setup setdefault Office
    e2e_expect_line "$(e2e_inspect default)" "default Office"
    e2e_install def.set
    e2e_expect_rc 4 "def.set"
    e2e_expect_line "$(e2e_inspect default)" "default mblServer"
}

# The whole machine as a user or an administrator would compare it: the spooler's
# objects, the default printer, the Run value, the companion, the product's files.
e2e_machine_state() {
    e2e_inspect
    e2e_inspect tray
    e2e_inspect files "$E2E_SYSTEM32_WIN" 'mlx*'
    e2e_inspect files "$E2E_DRIVERS_WIN\\x64\\3" 'mlx*'
}

e2e_expect_machine_unchanged() {
    local after
    after=$(e2e_machine_state)
    [ "$after" = "$1" ] || e2e_fail "the machine changed:"$'\n'"$(diff <(printf '%s\n' "$1") <(printf '%s\n' "$after"))"
}

# A module missing from the installer's folder, over an installation: the install
# refuses before it removes anything (100, the log shown) and the machine stays as it was.
scenario_missing_module_100() {  # labels: installer
    e2e_installer_prefix missing_module_100
    e2e_install_logged install
    e2e_expect_rc 1 "first install"
    e2e_wait_tray "tray mutex yes window yes"
    local before
    before=$(e2e_machine_state)
    rm "$(e2e_unix "$E2E_APP_WIN")/mlxui64.dll"
    e2e_install_logged install
    e2e_expect_rc 100 "install without mlxui64.dll"
    [ "$E2E_TITLE" = "Marbleleaf build 2093- Install error log!" ] || e2e_fail "title '$E2E_TITLE'"
    e2e_compare_tiers install_refused_without_ui_file
    e2e_expect_machine_unchanged "$before"
}

# Windows protected print mode set by policy over an installation with a keyed, shared,
# default product printer: the install refuses (100) and changes nothing. With the
# value removed the install goes ahead (1) and the printer comes back whole.
scenario_protected_print_policy_100_then_1() {  # labels: installer
    local policy='HKLM\Software\Policies\Microsoft\Windows NT\Printers\WPP'
    e2e_installer_prefix protected_print_policy_100_then_1
    e2e_install_logged install
    e2e_expect_rc 1 "first install"
    e2e_setup addprinter Office --subkey office-key --comment "2nd floor" --location "Room 12" --share OfficeShare
    e2e_setup setdefault Office
    e2e_wait_tray "tray mutex yes window yes"
    local before
    before=$(e2e_machine_state)
    e2e_run reg add "$policy" /v WindowsProtectedPrintGroupPolicyState /t REG_DWORD /d 1 /f
    e2e_install_logged install
    e2e_expect_rc 100 "install with protected print set by policy"
    e2e_expect_match "$E2E_LOG" '^Error\(18\): Windows protected print mode is on, set by policy: '
    e2e_expect_no_match "$E2E_LOG" '>ReInstall'
    e2e_expect_machine_unchanged "$before"

    e2e_run reg delete "$policy" /v WindowsProtectedPrintGroupPolicyState /f
    e2e_install_logged install
    e2e_expect_rc 1 "install with the policy value removed"
    e2e_expect_no_error
    local office
    office=$(e2e_printer_block "$(e2e_inspect printers)" Office)
    e2e_expect_line "$office" "  comment 2nd floor"
    e2e_expect_line "$office" "  location Room 12"
    e2e_expect_line "$office" "  share OfficeShare"
    e2e_expect_line "$office" "  subkey 1 office-key"
    e2e_expect_line "$(e2e_inspect default)" "default Office"
}

# A product file held past the run goes to the reboot: 101, gone after it. The
# monitor module is held loaded by another process.
scenario_held_module_101_gone_after_reboot() {  # labels: installer
    e2e_installer_prefix held_module_101_gone_after_reboot
    e2e_install_logged install
    e2e_expect_rc 1 "install"
    local held="$E2E_SYSTEM32_WIN\\mlxmon64.dll"
    e2e_spawn holder loaded "$E2E_TOOLS_WIN\\setup.exe" load "$held"
    e2e_install_logged uninstall
    e2e_expect_rc 101 "uninstall with the monitor module held"
    e2e_compare_tiers uninstall_installation_file_left_for_reboot
    [ "$(grep -c '^ *DeleteFile-try$' <<<"$E2E_LOG")" -ge 2 ] || e2e_fail "no retries in:"$'\n'"$E2E_LOG"
    e2e_expect_line "$(e2e_inspect pending)" 'pending \??\C:\windows\system32\mlxmon64.dll -> (delete)'
    e2e_expect_file "$held"
    e2e_reboot
    e2e_expect_no_file "$held"
    e2e_expect_line "$(e2e_inspect pending)" "pending (none)"
    e2e_expect_no_match "$(e2e_inspect)" '^driver .*\| Marbleleaf Server$'
}

scenario_log_dialog_photographed() {  # labels: installer
    e2e_installer_prefix log_dialog_photographed
    local display
    display=$(e2e_start_xvfb) || { e2e_fail "no Xvfb"; return; }
    # The X11 driver instead of the null one, with window-manager decorations.
    e2e_run reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f
    e2e_run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
    e2e_restart_wineserver
    export DISPLAY=$display
    e2e_spawn shift "shift down" "$E2E_TOOLS_WIN\\shiftdown.exe"
    rm "$(e2e_unix "$E2E_APP_WIN")/mlxui64.dll"
    e2e_spawn installer "" "$E2E_APP_WIN\\install.exe" install
    e2e_tool logdialog 60000 --keep
    e2e_expect_rc 0 "log dialog"
    e2e_expect_line "$E2E_OUT" "title: Marbleleaf build 2093- Install error log!"
    mkdir -p "$E2E_ARTIFACTS"
    local shot="$E2E_ARTIFACTS/log-dialog.png"
    rm -f "$shot"
    import -display "$display" -window root "$shot" 2>/dev/null || e2e_fail "import failed"
    [ -s "$shot" ] || e2e_fail "no screenshot"
    # The screen is not blank: the dialog is drawn.
    local colours
    colours=$(convert "$shot" -format '%k' info: 2>/dev/null)
    [ "${colours:-0}" -gt 10 ] || e2e_fail "screenshot has $colours colours"
    e2e_tool logdialog 10000
    e2e_wait installer 30
    e2e_expect_rc 100 "install without mlxui64.dll"
}

# A setup program's sequence, run as a user would through scripts/wine, with no
# help of the harness (no Shift, no dialog reader), on the product files of
# another build (2094) in a fresh prefix: onInit 102, onChkDrv 3, install 1,
# onChkDrv 103, def.set 4, a reinstall over the keyed, shared, default product
# printer 1 with that printer whole, removetray 6, uninstall 2, nothing left.
scenario_setup_program_sequence() {  # labels: installer
    e2e_begin setup_program_sequence 2094
    e2e_seed_user_default
    local verb expected
    setup_step() {
        timeout 60 "$E2E_WINE" "$E2E_APP_WIN\\install.exe" "$1" >/dev/null 2>&1 </dev/null
        RC=$?
        e2e_log "install.exe $1 -> $RC"
        e2e_expect_rc "$2" "$1"
    }
    setup_step onInit 102
    setup_step onChkDrv 3
    setup_step install 1
    setup_step onChkDrv 103
    setup_step def.set 4
    e2e_setup setkey mblServer user-settings
    local before after
    before=$(e2e_printer_block "$(e2e_inspect printers)" mblServer)
    setup_step install 1
    after=$(e2e_printer_block "$(e2e_inspect printers)" mblServer)
    # Whole: all it had, and the key also where the product's UI reads it (DsUser).
    [ "$(grep -v '^  dsuser ' <<<"$before")" = "$(grep -v '^  dsuser ' <<<"$after")" ] ||
        e2e_fail "mblServer before and after the reinstall:"$'\n'"$before"$'\n'"$after"
    e2e_expect_line "$after" "  dsuser 1 user-settings"
    e2e_expect_line "$after" "  subkey 1 user-settings"
    e2e_expect_line "$after" "  shared yes"
    e2e_expect_line "$(e2e_inspect default)" "default mblServer"
    e2e_expect_installed 2094
    setup_step removetray 6
    setup_step uninstall 2
    e2e_expect_nothing_left
}
