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
    e2e_eventually 10 bash -c "! kill -0 0 2>/dev/null || true" >/dev/null
    local state i
    for ((i = 0; i < 100; i++)); do
        state=$(e2e_inspect tray)
        [ "$state" = "tray mutex yes window yes" ] && break
        sleep 0.1
    done
    e2e_expect_line "$state" "tray mutex yes window yes"
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
    for ((i = 0; i < 100; i++)); do
        [ "$(e2e_inspect tray)" = "tray mutex yes window yes" ] && break
        sleep 0.1
    done
    e2e_setup trayexit
    sleep 0.5
    e2e_expect_line "$(e2e_inspect tray)" "tray mutex yes window no"
    e2e_wait tray 10
    e2e_expect_line "$(e2e_inspect tray)" "tray mutex no window no"

    # "never": the request is ignored.
    printf 'never\n' >"$(e2e_unix "$E2E_PRODUCT_WIN")/mbltray.behaviour"
    e2e_spawn tray "" "$tray"
    for ((i = 0; i < 100; i++)); do
        [ "$(e2e_inspect tray)" = "tray mutex yes window yes" ] && break
        sleep 0.1
    done
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

# A job file with this content appears within 10 s.
e2e_expect_job() {
    local folder
    folder=$(e2e_unix "$E2E_JOBS_WIN")
    if ! e2e_eventually 10 bash -c "grep -qsF -- \"\$1\" \"\$2\"/job-*.prn" _ "$1" "$folder"; then
        e2e_fail "no job with '$1' in $E2E_JOBS_WIN: $(ls "$folder" 2>&1)"
    fi
}
