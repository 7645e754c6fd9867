# End-to-end scenarios of the setup program (setup/marbleleaf.nsi). The real
# setup runs silently on a fresh machine; the stand-in setup (its install.exe
# answers each verb with a chosen code and records its calls) shows how the
# setup reacts to each answer, silently and with a person clicking through it.

E2E_UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Marbleleaf'
E2E_STANDIN_DIR="$E2E_TOOLS_WIN\\standin"
E2E_SETUP_LOGS_WIN='C:\ProgramData\Marbleleaf\Logs'

# A fresh machine without the product: the setups and the tools in C:\e2e.
e2e_setup_prefix() {
    e2e_begin "$1"
    rm -rf "$(e2e_unix "$E2E_PRODUCT_WIN")"
    local tools
    tools=$(e2e_unix "$E2E_TOOLS_WIN")
    # Without them every step would wait out its timeout: fail at once.
    cp "${E2E_SETUP:?set E2E_SETUP to the built setup program}" "${E2E_SETUPS:?}"/*-setup.exe "$tools/" ||
        { e2e_fail "setup programs missing: is makensis installed (Debian package nsis)?"; exit 1; }
    mkdir -p "$(e2e_unix "$E2E_STANDIN_DIR")"
}

# Runs a setup program (in C:\e2e) to its end; SETUP_RC is its full exit code.
# A setup that still runs after 120 s (a dialog nobody answers) fails the scenario.
# answer.exe prints "start ..." before it starts the setup, then "exit N", or "error N" when
# the start failed. With nothing printed or "error N", the setup never ran (answer.exe itself
# did not start, or Wine's start of the setup died: the silent start of WINE-NOTES.md): it is
# run once more.
e2e_run_setup() {
    local setup=$1 try
    shift
    for try in 1 2; do
        e2e_spawn setup "" "$E2E_TOOLS_WIN\\answer.exe" run "$E2E_TOOLS_WIN\\$setup" "$@"
        e2e_setup_rc 120 || { e2e_tool answer 100 "(list the windows)" 1; e2e_log "$E2E_OUT"; break; }
        [ -z "$SETUP_RC" ] || break
        [ -z "$(e2e_output setup)" ] || e2e_output setup | grep -q '^error ' || break
    done
    e2e_log "$setup $* -> ${SETUP_RC:-?}"
}

# Waits for the setup of e2e_spawn setup; sets SETUP_RC. Without an exit code, logs what
# answer.exe printed and what Wine said.
e2e_setup_rc() {
    SETUP_RC=""
    if ! e2e_wait setup "$1"; then
        e2e_kill setup
        return 1
    fi
    SETUP_RC=$(e2e_output setup | sed -n 's/^exit //p')
    [ -n "$SETUP_RC" ] || e2e_log "answer.exe run printed \"$(e2e_output setup)\" (exit $RC); Wine said: $(e2e_wine_said setup)"
}

e2e_expect_setup_rc() {
    [ "${SETUP_RC:-}" = "$1" ] && return 0
    e2e_fail "$2: setup's exit code ${SETUP_RC:-none}, expected $1"
    local file
    file=$(ls -t "$(e2e_unix "$E2E_SETUP_LOGS_WIN")"/setup-*.log 2>/dev/null | head -1)
    [ -z "$file" ] || e2e_log "$(printf 'the last setup log:\n%s' "$(iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r')")"
}

# The stand-in's answers for this run ("verb code" each), its record cleared.
e2e_standin_codes() {
    local folder
    folder=$(e2e_unix "$E2E_STANDIN_DIR")
    printf '%s\n' "$@" >"$folder/codes.txt"
    rm -f "$folder/calls.txt"
}

# The stand-in's calls since e2e_standin_codes, one per line, as the expected text.
e2e_expect_calls() {
    local calls expected
    calls=$(tr -d '\r' 2>/dev/null <"$(e2e_unix "$E2E_STANDIN_DIR")/calls.txt")
    expected=$(printf '%s\n' "$@")
    [ "$calls" = "$expected" ] || e2e_fail "$(printf 'install.exe was called:\n%s\nexpected:\n%s' "$calls" "$expected")"
}

# The person in front of the setup: waits for a window showing this text and clicks a button.
e2e_answer() {
    e2e_tool answer 30000 "$1" "$2"
    [ "$RC" -eq 0 ] || e2e_fail "no window with '$1': $E2E_OUT"
}

# The Add or Remove Programs entry; E2E_OUT holds its values. With "failed", the entry of
# an install that install.exe did not report done: no version, so detection says "not installed".
e2e_expect_entry() {
    e2e_run reg query "$E2E_UNINSTALL_KEY"
    [ "$RC" -eq 0 ] || { e2e_fail "no Add or Remove Programs entry"; return; }
    local entry=$E2E_OUT
    e2e_expect_match "$entry" "^ +DisplayName +REG_SZ +Marbleleaf$"
    if [ "${1:-}" = failed ]; then
        e2e_expect_no_match "$entry" "^ +(DisplayVersion|InstalledVersion) "
    else
        e2e_expect_match "$entry" "^ +DisplayVersion +REG_SZ +4\.2\.0\.2093$"
        e2e_expect_match "$entry" "^ +InstalledVersion +REG_SZ +4\.2\.0\.2093$"
    fi
    e2e_expect_match "$entry" "^ +Publisher +REG_SZ +Orvanel Software Kft\.$"
    e2e_expect_match "$entry" "^ +VersionMajor +REG_DWORD +0x4$"
    e2e_expect_match "$entry" "^ +VersionMinor +REG_DWORD +0x2$"
    e2e_expect_match "$entry" "^ +URLInfoAbout +REG_SZ +https://"
    e2e_expect_match "$entry" "^ +InstallLocation +REG_SZ +C:\\\\Program Files\\\\Marbleleaf$"
    e2e_expect_match "$entry" "^ +UninstallString +REG_SZ +\"C:\\\\Program Files\\\\Marbleleaf\\\\uninstall\.exe\"$"
    e2e_expect_match "$entry" "^ +QuietUninstallString +REG_SZ +\"C:\\\\Program Files\\\\Marbleleaf\\\\uninstall\.exe\" /S$"
    E2E_OUT=$entry
}

# The log of the last setup run (silent runs write one under %ProgramData%), as UTF-8 text
# without CR; the file is moved to the artifacts so that the next run's log stands alone.
e2e_setup_log() {
    local folder file
    folder=$(e2e_unix "$E2E_SETUP_LOGS_WIN")
    file=$(ls -t "$folder"/setup-*.log 2>/dev/null | head -1)
    [ -n "$file" ] || { e2e_fail "no setup log in $E2E_SETUP_LOGS_WIN"; return; }
    E2E_SETUP_LOG=$(iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r')
    if [ -n "${E2E_ARTIFACTS:-}" ]; then
        mkdir -p "$E2E_ARTIFACTS"
        mv "$file" "$E2E_ARTIFACTS/$E2E_NAME.$(basename "$file")"
    else
        rm -f "$file"
    fi
}

# The setup log has a line ending with the text (after its time stamp).
e2e_expect_setup_logged() {
    grep -qF -- "$1" <<<"$E2E_SETUP_LOG" || e2e_fail "$(printf 'the setup log lacks "%s":\n%s' "$1" "$E2E_SETUP_LOG")"
}

e2e_expect_no_entry() {
    e2e_run reg query "$E2E_UNINSTALL_KEY"
    [ "$RC" -ne 0 ] || e2e_fail "the Add or Remove Programs entry is still there"
}

# The layout of build 2093 in the product folder, with the uninstaller.
e2e_expect_laid_out() {
    local file
    for file in app/install.exe app/mlxmon64.dll app/mlxdrv64.dll app/mlxui64.dll app/mlxmon32.dll \
        app/mlxdrv32.dll app/mlxui32.dll app/mlxhelp.chm mbltray.exe uninstall.exe; do
        [ "$file" = "${1:-}" ] && continue
        e2e_expect_file "$E2E_PRODUCT_WIN\\${file//\//\\}"
    done
}

# Nothing of the product on the machine: spooler, Run value, companion, files, entry
# (pending deletions may name the NSIS uninstaller's own copy, not the product; the event
# log's message file stays).
e2e_expect_product_removed() {
    local state
    state=$(e2e_inspect)
    e2e_expect_no_match "$state" '^monitor MarbleleafServer:'
    e2e_expect_no_match "$state" '^port MarbleleafServer:'
    e2e_expect_no_match "$state" '^driver .*Marbleleaf'
    e2e_expect_no_match "$state" '^  driver Marbleleaf Server$'
    e2e_expect_line "$state" "run (none)"
    e2e_expect_line "$state" "tray mutex no window no"
    # mlxevent.dll stays by design: the events a run wrote stay readable.
    e2e_expect_no_match "$(e2e_inspect files "$E2E_SYSTEM32_WIN" 'mlx*')" '^file mlx(mon|drv|ui)'
    e2e_expect_no_file "$E2E_PRODUCT_WIN"
    e2e_expect_no_match "$(e2e_inspect pending)" 'Marbleleaf|mlx'
    e2e_expect_no_entry
}

# ---- the real setup -----------------------------------------------------------

# Unattended: the setup installs as a clean install does and enters itself under
# Add or Remove Programs; that entry's silent uninstall removes everything. The
# uninstaller hands its work to a copy of itself and returns at once (NSIS), so
# the scenario waits for the entry to go.
scenario_setup_silent() {  # labels: installer setup
    e2e_setup_prefix setup_silent
    e2e_seed_user_default
    e2e_run_setup marbleleaf-setup.exe /S
    e2e_expect_setup_rc 0 "silent setup on a clean machine"
    e2e_expect_installed 2093
    e2e_expect_mblserver
    e2e_wait_tray "tray mutex yes window yes"
    e2e_expect_line "$(e2e_inspect default)" "default Laser"
    e2e_expect_line "$(e2e_inspect pending)" "pending (none)"
    e2e_expect_laid_out
    e2e_expect_entry
    # The setup's log: each step, install.exe's verbs with their codes and its whole log.
    e2e_setup_log
    e2e_expect_setup_logged "install.exe onInit: exit code 102"
    e2e_expect_setup_logged "install.exe install: exit code 1"
    e2e_expect_setup_logged "    | Marbleleaf 2093"
    e2e_expect_setup_logged "      AddMonitor - OK :)"
    e2e_expect_setup_logged "Marbleleaf 4.2.0.2093 installed."
    e2e_expect_setup_logged "Exit code 0"

    # Again, over the installation: the running companion is stopped before its file is replaced.
    e2e_run_setup marbleleaf-setup.exe /S
    e2e_expect_setup_rc 0 "silent setup over an installation"
    e2e_expect_installed 2093
    e2e_wait_tray "tray mutex yes window yes"
    e2e_expect_entry
    e2e_setup_log
    e2e_expect_setup_logged "Repair: 4.2.0.2093 is installed already."

    local quiet
    quiet=$(sed -nE 's/^ +QuietUninstallString +REG_SZ +"([^"]+)" \/S$/\1/p' <<<"$E2E_OUT")
    e2e_run "$quiet" /S
    e2e_eventually 60 bash -c '! "$1" reg query "$2" >/dev/null 2>&1' _ "$E2E_WINE" "$E2E_UNINSTALL_KEY" ||
        e2e_fail "the entry is still there 60 s after the silent uninstall"
    e2e_expect_product_removed
    e2e_expect_line "$(e2e_inspect default)" "default Laser"
}

# /DEFAULTPRINTER makes mblServer the default silently; the setup's /UNINSTALL
# removes the product and reports the outcome in its exit code.
scenario_setup_default_printer() {  # labels: installer setup
    e2e_setup_prefix setup_default_printer
    e2e_run_setup marbleleaf-setup.exe /S /DEFAULTPRINTER
    e2e_expect_setup_rc 0 "silent setup with /DEFAULTPRINTER"
    e2e_expect_line "$(e2e_inspect default)" "default mblServer"
    e2e_run_setup marbleleaf-setup.exe /S /UNINSTALL
    e2e_expect_setup_rc 0 "silent removal"
    e2e_expect_product_removed
    e2e_expect_line "$(e2e_inspect pending)" "pending (none)"
    e2e_run_setup marbleleaf-setup.exe /S /UNINSTALL
    e2e_expect_setup_rc 0 "removal when nothing is installed"
}

# A link that a user put where the default log folder, or its parent, goes: the elevated
# setup writes nothing through it, and runs all the same.
scenario_setup_log_folder_link() {  # labels: setup
    e2e_setup_prefix setup_log_folder_link
    local logs elsewhere link
    logs=$(e2e_unix "$E2E_SETUP_LOGS_WIN")
    elsewhere=$(e2e_unix 'C:\elsewhere')
    for link in "$logs" "$(dirname "$logs")"; do
        rm -rf "$(dirname "$logs")" "$elsewhere"
        mkdir -p "$(dirname "$link")" "$elsewhere"
        ln -s "$elsewhere" "$link"
        e2e_run_setup marbleleaf-setup.exe /S /UNINSTALL
        e2e_expect_setup_rc 0 "removal when nothing is installed, ${link#"$WINEPREFIX"/} a link"
        [ -z "$(ls -A "$elsewhere")" ] || e2e_fail "the setup wrote through ${link#"$WINEPREFIX"/}: $(ls -R "$elsewhere")"
    done
}

# A layout without mlxui64.dll: the installer refuses before it installs or removes anything;
# the silent setup passes it /LOG=, so no dialog waits for anyone and install.exe's log lands in
# the setup's log. The setup ends with 1603 and leaves its files and the entry, so that it can
# be removed, but detection does not see the product installed.
scenario_setup_missing_module() {  # labels: installer setup
    e2e_setup_prefix setup_missing_module
    e2e_run_setup missing_ui-setup.exe /S
    e2e_expect_setup_rc 1603 "silent setup whose layout lacks mlxui64.dll"
    e2e_setup_log
    e2e_expect_setup_logged "install.exe install: exit code 100"
    e2e_expect_setup_logged "    | Marbleleaf 2093"
    grep -qE '^    \| +Error\(' <<<"$E2E_SETUP_LOG" || e2e_fail "no error line of install.exe in the setup log"
    e2e_expect_setup_logged "Exit code 1603"
    e2e_expect_laid_out app/mlxui64.dll
    e2e_expect_no_file "$E2E_PRODUCT_WIN\\app\\mlxui64.dll"
    e2e_expect_setup_logged "    | Error(20): Product file mlxui64.dll cannot be read in "
    e2e_expect_entry failed
    e2e_expect_no_match "$(e2e_inspect monitors)" "^monitor MarbleleafServer:"
    e2e_expect_line "$(e2e_inspect run)" "run (none)"
    e2e_run_setup missing_ui-setup.exe /S /UNINSTALL
    e2e_expect_setup_rc 0 "removal of the incomplete installation"
    e2e_expect_product_removed
}

# Windows protected print mode set by policy: the setup refuses before it copies
# anything (1603 when silent), and the machine stays without the product.
scenario_setup_protected_print_policy_1603() {  # labels: installer setup
    e2e_setup_prefix setup_protected_print_policy_1603
    e2e_run reg add 'HKLM\Software\Policies\Microsoft\Windows NT\Printers\WPP' \
        /v WindowsProtectedPrintGroupPolicyState /t REG_DWORD /d 1 /f
    e2e_run_setup marbleleaf-setup.exe /S
    e2e_expect_setup_rc 1603 "silent setup under the protected print policy"
    e2e_expect_product_removed
    # The refusal comes before install.exe is asked anything.
    e2e_standin_codes
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 1603 "the stand-in's setup under the protected print policy"
    e2e_expect_calls
    e2e_expect_no_file "$E2E_PRODUCT_WIN"
    # With a person: the message, then the same end.
    e2e_spawn setup "" "$E2E_TOOLS_WIN\\answer.exe" run "$E2E_TOOLS_WIN\\standin-setup.exe"
    e2e_answer "Windows protected print mode is on, set by policy" 1
    e2e_setup_rc 30
    e2e_expect_setup_rc 1603 "the setup under the protected print policy, with a person"
    e2e_expect_calls
    e2e_expect_no_file "$E2E_PRODUCT_WIN"
}

# ---- the setup's reactions, with the stand-in installer ------------------------

# Silent: the exit codes of the contract for each outcome, install.exe's verbs in order (the
# run verbs with /LOG=, so that no dialog can block a silent setup).
scenario_setup_codes_silent() {  # labels: setup
    e2e_setup_prefix setup_codes_silent

    e2e_standin_codes "onInit 200"
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 3017 "onInit 200: Windows must restart first"
    e2e_expect_calls onInit
    e2e_expect_no_file "$E2E_PRODUCT_WIN"
    e2e_expect_no_entry

    e2e_standin_codes
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 0 "a clean machine"
    e2e_expect_calls onInit removetray "install log" onChkDrv
    e2e_expect_laid_out
    e2e_expect_entry

    e2e_standin_codes "install 101"
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 3010 "install 101: a restart finishes the job"
    e2e_expect_calls onInit removetray "install log" onChkDrv

    e2e_standin_codes "onInit 102" "onChkDrv 3"
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 3010 "onChkDrv 3: the old driver goes with a restart; 102 without /DEFAULTPRINTER changes nothing"
    e2e_expect_calls onInit removetray "install log" onChkDrv
    e2e_standin_codes "onInit 102"
    e2e_run_setup standin-setup.exe /S /DEFAULTPRINTER
    e2e_expect_setup_rc 0 "/DEFAULTPRINTER"
    e2e_expect_calls onInit removetray "install log" onChkDrv def.set

    e2e_standin_codes "install 100" "onInit 102"
    e2e_run_setup standin-setup.exe /S /DEFAULTPRINTER
    e2e_expect_setup_rc 1603 "install 100: incomplete"
    e2e_expect_calls onInit removetray "install log"
    e2e_expect_laid_out
    e2e_expect_entry failed
    e2e_setup_log
    e2e_expect_setup_logged "install.exe install: exit code 100"
    e2e_expect_setup_logged "    | stand-in install.exe"
    e2e_expect_setup_logged "Exit code 1603"

    e2e_standin_codes "install 6"
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 1603 "an exit code install.exe never gives for install"
    e2e_expect_entry failed
    e2e_standin_codes
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 0 "the next good install"
    e2e_expect_entry

    # Removal: a failed one keeps everything for another try.
    e2e_standin_codes "un 100"
    e2e_run_setup standin-setup.exe /S /UNINSTALL
    e2e_expect_setup_rc 1603 "un 100"
    e2e_expect_calls "un log"
    e2e_expect_laid_out
    e2e_expect_entry
    mv "$(e2e_unix "$E2E_APP_WIN")/install.exe" "$(e2e_unix "$E2E_APP_WIN")/install.gone"
    e2e_standin_codes
    e2e_run_setup standin-setup.exe /S /UNINSTALL
    e2e_expect_setup_rc 1603 "install.exe cannot be started"
    e2e_expect_calls
    e2e_expect_entry
    e2e_setup_log
    e2e_expect_setup_logged "install.exe un could not be started: trying once more."
    e2e_expect_setup_logged "install.exe un: exit code "
    # install.exe is back before the second try: that one runs it.
    e2e_standin_codes "un 101"
    e2e_spawn setup "" "$E2E_TOOLS_WIN\\answer.exe" run "$E2E_TOOLS_WIN\\standin-setup.exe" /S /UNINSTALL
    e2e_eventually 30 bash -c 'cat "$1"/setup-*.log 2>/dev/null | iconv -f UTF-16 -t UTF-8 | grep -qF "$2"' _ \
        "$(e2e_unix "$E2E_SETUP_LOGS_WIN")" "install.exe un could not be started: trying once more." ||
        e2e_fail "the setup did not say that it tries once more"
    mv "$(e2e_unix "$E2E_APP_WIN")/install.gone" "$(e2e_unix "$E2E_APP_WIN")/install.exe"
    e2e_setup_rc 60
    e2e_expect_setup_rc 3010 "un 101 on the second try: a restart finishes the job"
    e2e_expect_calls "un log"
    e2e_setup_log
    e2e_expect_setup_logged "install.exe un: exit code 101"
    e2e_expect_no_file "$E2E_PRODUCT_WIN"
    e2e_expect_no_entry
}

# With a person: the messages for 200, 3, 102, 101 and 100, install.exe given the
# setup window (its log dialog's owner: no /LOG= without a setup log), and the exit codes
# as when silent.
scenario_setup_codes_interactive() {  # labels: setup
    e2e_setup_prefix setup_codes_interactive

    e2e_standin_codes "onInit 200"
    e2e_spawn setup "" "$E2E_TOOLS_WIN\\answer.exe" run "$E2E_TOOLS_WIN\\standin-setup.exe"
    e2e_answer "Windows must restart before Marbleleaf can be installed" 1
    e2e_setup_rc 30
    e2e_expect_setup_rc 3017 "onInit 200"
    e2e_expect_calls onInit
    e2e_expect_no_file "$E2E_PRODUCT_WIN"

    local window="window Marbleleaf Setup: Installing"
    e2e_standin_codes "onInit 102" "install 101" "onChkDrv 3"
    e2e_spawn setup "" "$E2E_TOOLS_WIN\\answer.exe" run "$E2E_TOOLS_WIN\\standin-setup.exe"
    e2e_answer "Click Install to start the installation" 1
    e2e_answer "printer driver in use is not the current one" 1
    e2e_answer "Make the Marbleleaf printer your default printer?" 6
    e2e_answer "Setup: Completed" 1
    e2e_answer "A restart of Windows finishes the installation of Marbleleaf. Restart now?" 7
    e2e_setup_rc 30
    e2e_expect_setup_rc 3010 "install 101, restart declined"
    e2e_expect_calls onInit removetray "install $window" onChkDrv def.set

    e2e_standin_codes "onInit 102" "install 100"
    e2e_spawn setup "" "$E2E_TOOLS_WIN\\answer.exe" run "$E2E_TOOLS_WIN\\standin-setup.exe"
    e2e_answer "Click Install to start the installation" 1
    e2e_answer "The installation of Marbleleaf is incomplete; its log was shown." 1
    e2e_answer "Marbleleaf was not installed completely." 2
    e2e_setup_rc 30
    e2e_expect_setup_rc 1603 "install 100"
    e2e_expect_calls onInit removetray "install $window"

    # The uninstaller of Add or Remove Programs, with its window as the owner.
    e2e_standin_codes "un 101"
    e2e_spawn uninstall "" "$E2E_PRODUCT_WIN\\uninstall.exe"
    e2e_answer "Click Uninstall to start the uninstallation" 1
    e2e_answer "Uninstall: Completed" 1
    e2e_answer "A restart of Windows finishes the removal of Marbleleaf. Restart now?" 7
    e2e_eventually 30 bash -c '[ ! -e "$1" ]' _ "$(e2e_unix "$E2E_PRODUCT_WIN")/uninstall.exe" ||
        e2e_fail "uninstall.exe is still there"
    e2e_expect_calls "un window Marbleleaf Uninstall: Uninstalling"
    e2e_expect_no_entry
}

# ---- what deployment tools count on ---------------------------------------------

# A second setup while the first one runs (it waits at its first page): 1618 at once, with
# nothing done; the first one then goes on as if alone.
scenario_setup_second_run_1618() {  # labels: setup
    e2e_setup_prefix setup_second_run_1618
    e2e_standin_codes
    e2e_spawn first "" "$E2E_TOOLS_WIN\\answer.exe" run "$E2E_TOOLS_WIN\\standin-setup.exe"
    e2e_answer "Click Install to start the installation" 9999  # seen, nothing clicked
    e2e_standin_codes  # the first one's onInit is behind it
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 1618 "a second setup"
    e2e_expect_calls
    e2e_setup_log
    e2e_expect_setup_logged "Another Marbleleaf setup or installer run is in progress."
    e2e_expect_setup_logged "Exit code 1618"
    e2e_run_setup standin-setup.exe /S /UNINSTALL
    e2e_expect_setup_rc 1618 "a removal while a setup runs"
    e2e_answer "Click Install to start the installation" 1
    e2e_answer "Setup: Completed" 1
    e2e_wait first 30
    SETUP_RC=$(e2e_output first | sed -n 's/^exit //p')
    e2e_expect_setup_rc 0 "the first setup"
    e2e_expect_calls removetray "install window Marbleleaf Setup: Installing" onChkDrv
}

# An older setup never replaces a newer installation silently: 1603, logged, nothing touched;
# /ALLOWDOWNGRADE lets it. A setup whose file cannot be written aborts inside NSIS: 1603 too.
scenario_setup_downgrade_and_abort_1603() {  # labels: setup
    e2e_setup_prefix setup_downgrade_and_abort_1603
    e2e_standin_codes
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 0 "first install"
    e2e_run reg add "$E2E_UNINSTALL_KEY" /v InstalledVersion /d 4.2.1.3000 /f
    e2e_standin_codes
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 1603 "a silent downgrade"
    e2e_expect_calls
    e2e_setup_log
    e2e_expect_setup_logged "Marbleleaf 4.2.1.3000 is installed, which is newer than 4.2.0.2093: setup stops."
    e2e_run reg query "$E2E_UNINSTALL_KEY" /v InstalledVersion
    e2e_expect_match "$E2E_OUT" "InstalledVersion +REG_SZ +4\.2\.1\.3000$"
    e2e_run_setup standin-setup.exe /S /ALLOWDOWNGRADE
    e2e_expect_setup_rc 0 "a downgrade with /ALLOWDOWNGRADE"
    e2e_expect_calls onInit removetray "install log" onChkDrv
    e2e_expect_entry
    e2e_setup_log
    e2e_expect_setup_logged "Downgrade from 4.2.1.3000 to 4.2.0.2093 (/ALLOWDOWNGRADE)."

    # A folder where a product file goes: NSIS cannot write the file and aborts the setup.
    rm -f "$(e2e_unix "$E2E_APP_WIN")/mlxhelp.chm"
    mkdir -p "$(e2e_unix "$E2E_APP_WIN")/mlxhelp.chm/blocked"
    e2e_standin_codes
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 1603 "a file that cannot be written"
    e2e_expect_calls onInit removetray
    e2e_setup_log
    e2e_expect_setup_logged "Exit code 1603"
}

# A companion that cannot be stopped holds mbltray.exe (here one that keeps running after
# its window closed): the file is renamed aside, the new one laid down, the old one deleted
# at the restart; the setup ends with 3010. After the restart the new companion is there.
scenario_setup_held_tray_3010() {  # labels: installer setup
    e2e_setup_prefix setup_held_tray_3010
    e2e_run_setup marbleleaf-setup.exe /S
    e2e_expect_setup_rc 0 "first install"
    e2e_wait_tray "tray mutex yes window yes"
    local product
    product=$(e2e_unix "$E2E_PRODUCT_WIN")
    e2e_install removetray
    e2e_wait_tray "tray mutex no window no"
    cp "$E2E_LAYOUT/2072/mbltray.exe" "$product/mbltray.exe"
    printf 'slow 120000' >"$product/mbltray.behaviour"
    e2e_spawn oldtray "" "$E2E_PRODUCT_WIN\\mbltray.exe"
    e2e_wait_tray "tray mutex yes window yes"
    e2e_run_setup marbleleaf-setup.exe /S
    e2e_expect_setup_rc 3010 "setup with mbltray.exe held"
    e2e_setup_log
    e2e_expect_setup_logged "mbltray.exe is in use:"
    e2e_expect_setup_logged "install.exe install: exit code 1"
    e2e_expect_entry
    e2e_expect_match "$(e2e_inspect pending)" 'Marbleleaf'
    e2e_reboot
    local files
    files=$(e2e_inspect files "$E2E_PRODUCT_WIN" '*')
    e2e_expect_line "$files" "file mbltray.exe size $(stat -c %s "$E2E_LAYOUT/2093/mbltray.exe") build 2093"
    e2e_expect_no_match "$files" '\.tmp |mbltray\.new'
}
