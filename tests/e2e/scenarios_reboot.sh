# Scenarios of an upgrade by uninstall and install without a restart in between: the uninstall
# leaves the monitor module for the reboot, the install must leave the restart nothing to delete.

# The module held by another process during the uninstall (101), that process gone, then the
# install (1), directly or after the setup program's "onInit" probe; after the simulated reboot
# the module is still there and a job printed to the product printer reaches it.
e2e_install_before_the_reboot() {
    local held="$E2E_SYSTEM32_WIN\\mlxmon64.dll"
    e2e_install_logged install
    e2e_expect_rc 1 "install"
    e2e_spawn holder loaded "$E2E_TOOLS_WIN\\setup.exe" load "$held"
    e2e_install_logged uninstall
    e2e_expect_rc 101 "uninstall with the monitor module held"
    e2e_expect_line "$(e2e_inspect pending)" 'pending \??\C:\windows\system32\mlxmon64.dll -> (delete)'
    e2e_kill holder
    if [ "${1:-}" = probe ]; then
        e2e_install oninit
        e2e_expect_rc 102 "onInit after the holder ended"
        e2e_expect_line "$(e2e_inspect pending)" "pending (none)"
    fi
    e2e_install_logged install
    e2e_expect_rc 1 "install before the reboot"
    if [ "${1:-}" = probe ]; then
        e2e_expect_no_match "$E2E_LOG" 'Pending delete taken out'
    else
        e2e_expect_line "$E2E_LOG" '    Monitor file was a pending delete, CopyMonitor == 1'
        e2e_expect_line "$E2E_LOG" '    Pending delete taken out: \??\C:\windows\system32\mlxmon64.dll'
    fi
    e2e_expect_line "$(e2e_inspect pending)" "pending (none)"
    e2e_reboot
    e2e_expect_file "$held"
    e2e_setup print mblServer "after the reboot"
    e2e_expect_job "after the reboot"
}

scenario_install_before_the_reboot() {  # labels: installer
    e2e_installer_prefix install_before_the_reboot
    e2e_install_before_the_reboot
}

scenario_install_before_the_reboot_after_oninit() {  # labels: installer
    e2e_installer_prefix install_before_the_reboot_after_oninit
    e2e_install_before_the_reboot probe
}

# The same upgrade on a machine that writes pending operations as current Windows does, which
# Wine does not: currentform.exe rewrites them, another program's marked pending delete in the
# first value and the product's entry, marked, in the second. "onInit" answers 200 while the
# module is held; once its holder has ended, the install takes the product's entry out of the
# second value and leaves the other program's entry and file as they were.
scenario_install_before_the_reboot_current_form() {  # labels: installer
    e2e_installer_prefix install_before_the_reboot_current_form
    local held="$E2E_SYSTEM32_WIN\\mlxmon64.dll" other='C:\other\pending.tmp'
    e2e_install_logged install
    e2e_expect_rc 1 "install"
    e2e_spawn holder loaded "$E2E_TOOLS_WIN\\setup.exe" load "$held"
    e2e_install_logged uninstall
    e2e_expect_rc 101 "uninstall with the monitor module held"
    mkdir -p "$(e2e_unix 'C:\other')"
    e2e_tool currentform "$other"
    e2e_expect_rc 0 "currentform: $E2E_OUT"
    local pending
    pending=$(e2e_inspect pending)
    e2e_expect_line "$pending" "pending *1\\??\\$other -> (delete)"
    e2e_expect_line "$pending" 'pending2 *1\??\C:\windows\system32\mlxmon64.dll -> (delete)'
    e2e_install oninit
    e2e_expect_rc 200 "onInit with the module held, its entry in the second value"
    e2e_kill holder
    e2e_install_logged install
    e2e_expect_rc 1 "install before the reboot"
    e2e_expect_line "$E2E_LOG" '    Monitor file was a pending delete, CopyMonitor == 1'
    e2e_expect_line "$E2E_LOG" '    Pending delete taken out: \??\C:\windows\system32\mlxmon64.dll'
    pending=$(e2e_inspect pending)
    e2e_expect_line "$pending" "pending *1\\??\\$other -> (delete)"
    e2e_expect_line "$pending" "pending2 (none)"
    e2e_expect_no_match "$pending" 'mlx'
    e2e_expect_file "$other"
    e2e_expect_file "$held"
}
