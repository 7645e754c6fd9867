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
