# Scenarios of unattended runs: no dialog where nobody sees it, the log in the event log.
# Wine's event log stores nothing: ReportEventW writes the text to Wine's debug channel
# "eventlog" (error events as err, others as trace, cut after about 300 characters), so the
# scenarios read the events there (WINE-NOTES.md, "The event log"). Sourced by run.sh.

# A prefix for installer runs without the Shift helper: nobody is at the keyboard.
e2e_unattended_prefix() {
    e2e_begin "$@"
}

# install.exe <verb> in a window station that is not visible, as a service runs it. A dialog
# there would never be closed: the run must end by itself. Sets RC and E2E_EVENTS (the
# ReportEventW lines of Wine's eventlog channel).
e2e_install_unattended() {
    local out="$E2E_SPAWNED/unattended.out" err="$E2E_SPAWNED/unattended.err"
    WINEDEBUG=-all,err+eventlog,trace+eventlog timeout 120 "$E2E_WINE" "$E2E_TOOLS_WIN\\unattended.exe" run \
        "$E2E_APP_WIN\\install.exe" "$@" >"$out" 2>"$err" </dev/null
    RC=$(($? % 256))
    e2e_log "unattended install.exe $* -> $RC"
    [ "$RC" -ne 124 ] || e2e_fail "unattended install.exe $* did not end within 120 s (a dialog nobody can close?)"
    E2E_EVENTS=$(grep -a ':ReportEventW ' "$err" | sed -E 's/^[0-9a-f]+://' | tr -d '\r')
}

# The first event's text as Wine prints it: L"Marbleleaf 2093\r\n>Check Spooler\r\n...
e2e_expect_event() {
    local kind=$1 count
    count=$(grep -c "^$kind:eventlog:ReportEventW " <<<"$E2E_EVENTS")
    [ "$count" -eq 1 ] || e2e_fail "$count $kind events, expected 1:"$'\n'"$E2E_EVENTS"
    e2e_expect_match "$E2E_EVENTS" "^$kind:eventlog:ReportEventW L\"Marbleleaf 2093\\\\r\\\\n>Check Spooler\\\\r\\\\n"
}

# The source is registered for the message DLL that the installer put into the system folder,
# and its events read as the log itself: what Event Viewer shows is the description formatted
# from that file.
e2e_expect_event_source() {
    local id=$1
    e2e_expect_file "$E2E_SYSTEM32_WIN\\mlxevent.dll"
    e2e_tool unattended source
    e2e_expect_line "$E2E_OUT" "file $E2E_SYSTEM32_WIN\\mlxevent.dll"
    e2e_expect_line "$E2E_OUT" "types 5"
    e2e_tool unattended message "$id" 'Marbleleaf 2093 - 100% of the log'
    e2e_expect_line "$E2E_OUT" "message Marbleleaf 2093 - 100% of the log"
}

# A run that counts an error shows no dialog there and writes one error event.
scenario_unattended_errors() {  # labels: installer
    e2e_unattended_prefix unattended_errors
    rm "$(e2e_unix "$E2E_APP_WIN")/mlxui64.dll"
    e2e_install_unattended install
    e2e_expect_rc 100 "unattended install without mlxui64.dll"
    e2e_expect_event err
    e2e_expect_no_match "$E2E_EVENTS" "^trace:eventlog:ReportEventW "
    e2e_expect_event_source 100
}

# A run that leaves a file for the reboot writes one information event, and no error event.
# As in held_module_101_gone_after_reboot: the printer goes first, the monitor module is held
# loaded.
scenario_unattended_reboot() {  # labels: installer
    e2e_unattended_prefix unattended_reboot
    e2e_install install
    e2e_expect_rc 1 "install"
    e2e_setup delprinter mblServer
    e2e_spawn holder loaded "$E2E_TOOLS_WIN\\setup.exe" load "$E2E_SYSTEM32_WIN\\mlxmon64.dll"
    e2e_install_unattended uninstall
    e2e_expect_rc 101 "unattended uninstall with the monitor module held"
    e2e_expect_event trace
    e2e_expect_no_match "$E2E_EVENTS" "^err:eventlog:ReportEventW "
    e2e_expect_event_source 101
    e2e_kill holder
}

# Someone at the screen reads the log in the dialog: nothing is written anywhere, not even the
# event source's registration, which comes only with the first event.
scenario_attended_no_event() {  # labels: installer
    e2e_unattended_prefix attended_no_event
    rm "$(e2e_unix "$E2E_APP_WIN")/mlxui64.dll"
    E2E_RUNS=0
    e2e_install_logged install
    e2e_expect_rc 100 "install without mlxui64.dll"
    [ "$E2E_TITLE" = "Marbleleaf build 2093- Install error log!" ] || e2e_fail "title '$E2E_TITLE'"
    e2e_tool unattended source
    e2e_expect_line "$E2E_OUT" "source (none)"
    e2e_expect_no_file "$E2E_SYSTEM32_WIN\\mlxevent.dll"
}
