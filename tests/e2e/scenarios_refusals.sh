# Scenarios where the spooler refuses what the product asks, as Windows does: a monitor whose
# port a printer uses (3008), a printer name the user has taken (1802), a port without its
# monitor (1796). Each compares its log with the host tier's golden log of the same story
# (tests/unit/scenario_refusal_test.cpp).

# A printer of the user's on the product port during an uninstall: DeleteMonitorW refuses (3008),
# the printer moves to "file:", the monitor goes: 2.
scenario_uninstall_users_printer_on_product_port() {  # labels: installer
    e2e_installer_prefix uninstall_users_printer_on_product_port
    e2e_install_logged install
    e2e_expect_rc 1 "install"
    e2e_user_driver
    e2e_user_printer Plotter MarbleleafServer:
    e2e_install_logged uninstall
    e2e_expect_rc 2 "uninstall with the user's printer on the product port"
    e2e_compare_tiers uninstall_users_printer_on_product_port
    e2e_expect_line "$E2E_LOG" "      Can't delete monitor from the first try"
    local plotter
    plotter=$(e2e_printer_block "$(e2e_inspect printers)" Plotter)
    e2e_expect_line "$plotter" "  port file:"
    e2e_expect_line "$plotter" "  driver User Laser"
    e2e_expect_no_match "$(e2e_inspect monitors)" '^monitor MarbleleafServer:'
}

# The same printer during a reinstall over an incompatible monitor (build 2072): moved to "file:"
# while the old monitor goes, and back onto the new one's port: 1.
scenario_reinstall_incompatible_monitor_users_printer() {  # labels: installer
    e2e_installer_prefix reinstall_incompatible_monitor_users_printer 2072
    e2e_install_logged install
    e2e_expect_rc 1 "install of build 2072"
    e2e_user_driver
    e2e_user_printer Plotter MarbleleafServer:
    e2e_lay_out 2093
    e2e_install_logged install
    e2e_expect_rc 1 "reinstall over the 2072 monitor"
    e2e_compare_tiers reinstall_incompatible_monitor_users_printer
    e2e_expect_match "$E2E_LOG" '^ +Can.t delete monitor from the first try$'
    local plotter
    plotter=$(e2e_printer_block "$(e2e_inspect printers)" Plotter)
    e2e_expect_line "$plotter" "  port MarbleleafServer:"
    e2e_expect_line "$plotter" "  driver User Laser"
    e2e_expect_installed 2093
}

# The user's own printer named "mblServer" with another driver: the product's cannot be added
# (1802), Error(15), and the user's printer stays as it was: 100.
scenario_install_users_printer_named_mblserver() {  # labels: installer
    e2e_installer_prefix install_users_printer_named_mblserver
    e2e_user_driver
    e2e_user_printer mblServer LPT1: --comment mine
    local before
    before=$(e2e_printer_block "$(e2e_inspect printers)" mblServer)
    e2e_install_logged install
    e2e_expect_rc 100 "install over the user's mblServer"
    e2e_compare_tiers install_users_printer_named_mblserver
    [ "$(e2e_printer_block "$(e2e_inspect printers)" mblServer)" = "$before" ] ||
        e2e_fail "the user's mblServer changed:"$'\n'"$before"$'\n'"$(e2e_printer_block "$(e2e_inspect printers)" mblServer)"
}

# A reinstall over an incompatible monitor whose new module is no port monitor (a DLL of the right
# build without the monitor's entry point): the monitor is not registered, no printer can be made
# on its port (1796), and the journal keeps them for the next run: 100.
scenario_install_monitor_not_registered() {  # labels: installer
    e2e_installer_prefix install_monitor_not_registered 2072
    e2e_install_logged install
    e2e_expect_rc 1 "install of build 2072"
    e2e_setup setkey mblServer server-key
    e2e_setup addprinter Office --subkey office-key
    e2e_lay_out 2093
    # A module of the right build that is no port monitor: the check before the run passes it.
    cp "$(e2e_unix "$E2E_APP_WIN")/mlxdrv64.dll" "$(e2e_unix "$E2E_APP_WIN")/mlxmon64.dll"
    e2e_install_logged install
    e2e_expect_rc 100 "install whose monitor cannot be registered"
    e2e_compare_tiers install_monitor_not_registered
    e2e_expect_no_match "$(e2e_inspect printers)" '^printer (Office|mblServer)$'
    local journal
    journal=$(e2e_journal)
    e2e_expect_line "$journal" "entry Office"
    e2e_expect_line "$journal" "entry mblServer"
}
