# Scenarios about the user's printers surviving a run that cannot finish its work.

# An upgrade whose new driver cannot be staged (its copy's destination in the driver folder is
# taken by a folder of the same name, a failure no check before the run sees): the old printers
# are deleted and none can be recreated without the driver (exit 100); the journal keeps them.
# The next run, with the way clear, takes them over and recreates both whole (exit 1).
scenario_printers_after_failed_driver_install() {  # labels: installer
    e2e_installer_prefix printers_after_failed_driver_install
    e2e_install_with_two_keyed_printers

    e2e_lay_out 2094
    local staged
    staged=$(e2e_unix "$E2E_DRIVERS_WIN\\x64\\mlxdrv64.dll")
    mkdir "$staged"
    e2e_install_logged install
    e2e_expect_rc 100 "install whose driver cannot be staged"
    e2e_expect_match "$E2E_LOG" "Error\(9\): Cant't open destination file: .*mlxdrv64\.dll"
    e2e_expect_match "$E2E_LOG" "Error\(15\): Can.t add printer 'Office'"
    e2e_expect_match "$E2E_LOG" "Error\(15\): Can.t add printer 'Lab'"
    local printers journal
    printers=$(e2e_inspect printers)
    e2e_expect_no_match "$printers" "^printer (Office|Lab)$"
    journal=$(e2e_journal)
    e2e_expect_line "$journal" "entry Lab"
    e2e_expect_line "$journal" "entry Office"
    # Office is the user's default: its entry says whose default it was (their SID).
    e2e_run reg query 'HKLM\SOFTWARE\Orvanel Software KFT\Marbleleaf\Saved Printers' /v Office
    e2e_expect_match "$E2E_OUT" 'Default=1.{1,2}User=S-1-5-21-[0-9-]+'
    e2e_run reg query 'HKLM\SOFTWARE\Orvanel Software KFT\Marbleleaf\Saved Printers' /v Lab
    e2e_expect_no_match "$E2E_OUT" 'Default=|User='

    rmdir "$staged"
    e2e_install_logged install
    e2e_expect_rc 1 "install with the driver staged"
    e2e_expect_line "$E2E_LOG" "    2 saved printers taken over from an earlier run"
    printers=$(e2e_inspect printers)
    local office lab
    office=$(e2e_printer_block "$printers" Office)
    lab=$(e2e_printer_block "$printers" Lab)
    e2e_expect_line "$office" "  port MarbleleafServer:"
    e2e_expect_line "$office" "  comment 2nd floor"
    e2e_expect_line "$office" "  location Room 12"
    e2e_expect_line "$office" "  share OfficeShare"
    e2e_expect_line "$office" "  shared yes"
    e2e_expect_line "$office" "  subkey 1 office-key"
    e2e_expect_line "$lab" "  port MarbleleafServer:"
    e2e_expect_line "$lab" "  comment lab"
    e2e_expect_line "$lab" "  location Room 3"
    e2e_expect_line "$lab" "  share Lab"
    e2e_expect_line "$lab" "  subkey 1 lab-key"
    e2e_expect_line "$(e2e_inspect default)" "default Office"
    e2e_expect_line "$(e2e_journal)" "journal (none)"
    e2e_expect_installed 2094 2093
}
