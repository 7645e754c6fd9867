# End-to-end scenarios of the setup program (setup/marbleleaf.nsi). The real
# setup runs silently on a fresh machine; the stand-in setup (its install.exe
# answers each verb with a chosen code and records its calls) shows how the
# setup reacts to each answer, silently and with a person clicking through it.

E2E_UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Marbleleaf'
E2E_STANDIN_DIR="$E2E_TOOLS_WIN\\standin"

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
e2e_run_setup() {
    local setup=$1
    shift
    e2e_spawn setup "" "$E2E_TOOLS_WIN\\answer.exe" run "$E2E_TOOLS_WIN\\$setup" "$@"
    e2e_setup_rc 120 || { e2e_tool answer 100 "(list the windows)" 1; e2e_log "$E2E_OUT"; }
    e2e_log "$setup $* -> ${SETUP_RC:-?}"
}

# Waits for the setup of e2e_spawn setup; sets SETUP_RC.
e2e_setup_rc() {
    SETUP_RC=""
    if ! e2e_wait setup "$1"; then
        e2e_kill setup
        return 1
    fi
    SETUP_RC=$(e2e_output setup | sed -n 's/^exit //p')
}

e2e_expect_setup_rc() {
    [ "${SETUP_RC:-}" = "$1" ] || e2e_fail "$2: setup's exit code ${SETUP_RC:-none}, expected $1"
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

# The Add or Remove Programs entry; E2E_OUT holds its values.
e2e_expect_entry() {
    e2e_run reg query "$E2E_UNINSTALL_KEY"
    [ "$RC" -eq 0 ] || { e2e_fail "no Add or Remove Programs entry"; return; }
    e2e_expect_match "$E2E_OUT" "^ +DisplayName +REG_SZ +Marbleleaf$"
    e2e_expect_match "$E2E_OUT" "^ +DisplayVersion +REG_SZ +4\.2\.0\.2093$"
    e2e_expect_match "$E2E_OUT" "^ +InstallLocation +REG_SZ +C:\\\\Program Files\\\\Marbleleaf$"
    e2e_expect_match "$E2E_OUT" "^ +UninstallString +REG_SZ +\"C:\\\\Program Files\\\\Marbleleaf\\\\uninstall\.exe\"$"
    e2e_expect_match "$E2E_OUT" "^ +QuietUninstallString +REG_SZ +\"C:\\\\Program Files\\\\Marbleleaf\\\\uninstall\.exe\" /S$"
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
# (pending deletions may name the NSIS uninstaller's own copy, not the product).
e2e_expect_product_removed() {
    local state
    state=$(e2e_inspect)
    e2e_expect_no_match "$state" '^monitor MarbleleafServer:'
    e2e_expect_no_match "$state" '^port MarbleleafServer:'
    e2e_expect_no_match "$state" '^driver .*Marbleleaf'
    e2e_expect_no_match "$state" '^  driver Marbleleaf Server$'
    e2e_expect_line "$state" "run (none)"
    e2e_expect_line "$state" "tray mutex no window no"
    e2e_expect_line "$(e2e_inspect files "$E2E_SYSTEM32_WIN" 'mlx*')" "files (none)"
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

    # Again, over the installation: the running companion is stopped before its file is replaced.
    e2e_run_setup marbleleaf-setup.exe /S
    e2e_expect_setup_rc 0 "silent setup over an installation"
    e2e_expect_installed 2093
    e2e_wait_tray "tray mutex yes window yes"
    e2e_expect_entry

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

# A layout without mlxui64.dll: the installer refuses before it installs or removes
# anything and shows its log (the window station is visible); the setup ends with
# 1603 and leaves its files and the entry, so that it can be removed.
scenario_setup_missing_module() {  # labels: installer setup
    e2e_setup_prefix setup_missing_module
    e2e_spawn setup "" "$E2E_TOOLS_WIN\\answer.exe" run "$E2E_TOOLS_WIN\\missing_ui-setup.exe" /S
    e2e_tool logdialog 60000
    e2e_expect_rc 0 "the installer's log dialog"
    e2e_expect_line "$E2E_OUT" "title: Marbleleaf build 2093- Install error log!"
    e2e_setup_rc 60
    e2e_expect_setup_rc 1603 "silent setup whose layout lacks mlxui64.dll"
    e2e_expect_laid_out app/mlxui64.dll
    e2e_expect_no_file "$E2E_PRODUCT_WIN\\app\\mlxui64.dll"
    e2e_expect_entry
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

# Silent: Windows Installer exit codes for each outcome, install.exe's verbs in order.
scenario_setup_codes_silent() {  # labels: setup
    e2e_setup_prefix setup_codes_silent

    e2e_standin_codes "onInit 200"
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 1603 "onInit 200: Windows must restart first"
    e2e_expect_calls onInit
    e2e_expect_no_file "$E2E_PRODUCT_WIN"
    e2e_expect_no_entry

    e2e_standin_codes
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 0 "a clean machine"
    e2e_expect_calls onInit removetray install onChkDrv
    e2e_expect_laid_out
    e2e_expect_entry

    e2e_standin_codes "install 101"
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 3010 "install 101: a restart finishes the job"
    e2e_expect_calls onInit removetray install onChkDrv

    e2e_standin_codes "onInit 102" "onChkDrv 3"
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 0 "onChkDrv 3 only warns; 102 without /DEFAULTPRINTER changes nothing"
    e2e_expect_calls onInit removetray install onChkDrv
    e2e_standin_codes "onInit 102"
    e2e_run_setup standin-setup.exe /S /DEFAULTPRINTER
    e2e_expect_setup_rc 0 "/DEFAULTPRINTER"
    e2e_expect_calls onInit removetray install onChkDrv def.set

    e2e_standin_codes "install 100" "onInit 102"
    e2e_run_setup standin-setup.exe /S /DEFAULTPRINTER
    e2e_expect_setup_rc 1603 "install 100: incomplete"
    e2e_expect_calls onInit removetray install
    e2e_expect_laid_out
    e2e_expect_entry

    e2e_standin_codes "install 6"
    e2e_run_setup standin-setup.exe /S
    e2e_expect_setup_rc 1603 "an exit code install.exe never gives for install"

    # Removal: a failed one keeps everything for another try.
    e2e_standin_codes "un 100"
    e2e_run_setup standin-setup.exe /S /UNINSTALL
    e2e_expect_setup_rc 1603 "un 100"
    e2e_expect_calls un
    e2e_expect_laid_out
    e2e_expect_entry
    mv "$(e2e_unix "$E2E_APP_WIN")/install.exe" "$(e2e_unix "$E2E_APP_WIN")/install.gone"
    e2e_standin_codes
    e2e_run_setup standin-setup.exe /S /UNINSTALL
    e2e_expect_setup_rc 1603 "install.exe cannot be started"
    e2e_expect_calls
    e2e_expect_entry
    mv "$(e2e_unix "$E2E_APP_WIN")/install.gone" "$(e2e_unix "$E2E_APP_WIN")/install.exe"
    e2e_standin_codes "un 101"
    e2e_run_setup standin-setup.exe /S /UNINSTALL
    e2e_expect_setup_rc 3010 "un 101: a restart finishes the job"
    e2e_expect_calls un
    e2e_expect_no_file "$E2E_PRODUCT_WIN"
    e2e_expect_no_entry
}

# With a person: the messages for 200, 3, 102, 101 and 100, install.exe given the
# setup window (its log dialog's owner), and the exit codes as when silent.
scenario_setup_codes_interactive() {  # labels: setup
    e2e_setup_prefix setup_codes_interactive

    e2e_standin_codes "onInit 200"
    e2e_spawn setup "" "$E2E_TOOLS_WIN\\answer.exe" run "$E2E_TOOLS_WIN\\standin-setup.exe"
    e2e_answer "Windows must restart before Marbleleaf can be installed" 1
    e2e_setup_rc 30
    e2e_expect_setup_rc 1603 "onInit 200"
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
