# Harness of the end-to-end scenarios: Wine prefixes, running Windows programs,
# inspecting the machine, installer runs and expectations. Sourced by run.sh, scripts/demo
# and the timing script; it defines no scenario and calls none.
#
# Environment:
#   E2E_LAYOUT  folder of the per-build layouts (<build>/app/install.exe ...)
#   E2E_TOOLS   folder of inspect.exe, setup.exe, logdialog.exe, shiftdown.exe, helpwindow.exe
#   E2E_ROOT    scratch folder under /tmp: the template prefix and one prefix per scenario
#   E2E_KEEP=1  keep a scenario's prefix after it ends

E2E_SOURCE=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# The corrected Wine (scripts/wine: Debian's Wine with its spooler made to do what Windows
# documents, built when missing); Debian's own Wine stays at hand for the deviation tests.
E2E_WINE=${E2E_WINE:-$E2E_SOURCE/scripts/wine}
E2E_STOCK_WINE=${E2E_STOCK_WINE:-/usr/lib/wine/wine64}
E2E_WINESERVER=${E2E_WINESERVER:-/usr/lib/wine/wineserver}
E2E_ROOT=${E2E_ROOT:-/tmp/e2e-$(id -u)}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

# Where the product lands inside the prefix: a folder with a blank, as the setup program uses.
E2E_PRODUCT_WIN='C:\Program Files\Marbleleaf'
E2E_APP_WIN="$E2E_PRODUCT_WIN\\app"
E2E_TOOLS_WIN='C:\e2e'
E2E_SYSTEM32_WIN='C:\windows\system32'
E2E_DRIVERS_WIN='C:\windows\system32\spool\drivers'
E2E_JOBS_WIN='C:\marbleleaf-jobs'
E2E_SETTINGS_KEY='HKCU\Software\Orvanel Software KFT\Marbleleaf\Marbleleafs'

E2E_FAILURES=0
E2E_OUT=""          # stdout of the last e2e_run
RC=0                # its exit code, modulo 256

e2e_log() { printf '[e2e] %s\n' "$*" >&2; }

# Packages are scripts/setup's business: a missing one fails at once, naming it.
e2e_require_packages() {
    [ -x "$E2E_STOCK_WINE" ] && return 0
    e2e_log "FAILED: $E2E_STOCK_WINE missing: install the Debian package wine64 (scripts/setup)"
    return 1
}

# The template prefix: made once (per test run when CTest's e2e.template runs),
# with the null display driver so that windows and dialogs work headless.
e2e_make_template() {
    local template="$E2E_ROOT/template"
    rm -rf "$template"
    mkdir -p "$E2E_ROOT"
    local start=$SECONDS out="$E2E_ROOT/wineboot.out" try
    # Once more after a failure (a first start of Wine on a busy machine), then say why.
    for try in 1 2; do
        WINEPREFIX="$template" "$E2E_WINE" wineboot -i >"$out" 2>&1 && break
        e2e_log "wineboot failed (exit $?, try $try):"
        tail -n 20 "$out" >&2
        [ "$try" = 2 ] && return 1
        WINEPREFIX="$template" "$E2E_WINESERVER" -k 2>/dev/null
        rm -rf "$template"
        sleep 2
    done
    WINEPREFIX="$template" "$E2E_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    WINEPREFIX="$template" "$E2E_WINESERVER" -k 2>/dev/null
    WINEPREFIX="$template" "$E2E_WINESERVER" -w 2>/dev/null
    touch "$template/.e2e-ready"
    e2e_log "template prefix ready in $((SECONDS - start)) s"
}

e2e_ensure_template() {
    [ -f "$E2E_ROOT/template/.e2e-ready" ] && return 0
    ( flock 9; [ -f "$E2E_ROOT/template/.e2e-ready" ] || e2e_make_template ) 9>"$E2E_ROOT.lock"
}

# Starts a scenario: its own copy of the template, a persistent wineserver,
# the tools in C:\e2e and the layout of build $2 (default 2093) in the product folder.
e2e_begin() {
    E2E_NAME=$1
    local build=${2:-2093}
    e2e_require_packages || return 1
    mkdir -p "$E2E_ROOT"
    e2e_ensure_template || return 1
    export WINEPREFIX="$E2E_ROOT/run/$E2E_NAME"
    E2E_SPAWNED="$WINEPREFIX/.e2e"
    rm -rf "$WINEPREFIX"
    mkdir -p "$E2E_ROOT/run"
    cp -a "$E2E_ROOT/template" "$WINEPREFIX"
    # Debian's Wine keeps the name of its server's folder in the prefix ("wineserver"): copied
    # from the template, every scenario's server would live side by side in one folder, named by
    # the prefix's inode, which the next scenario's prefix gets again at once. Each scenario
    # gets a folder of its own, so that no program can reach another scenario's server.
    rm -f "$WINEPREFIX/wineserver"
    mkdir -p "$E2E_SPAWNED"
    trap e2e_end EXIT
    # Started with stdio on /dev/null: it would otherwise hold our pipes open.
    "$E2E_WINESERVER" -p </dev/null >/dev/null 2>&1
    cp -a "$E2E_TOOLS"/*.exe "$(e2e_unix "$E2E_TOOLS_WIN")/" 2>/dev/null ||
        { mkdir -p "$(e2e_unix "$E2E_TOOLS_WIN")" && cp -a "$E2E_TOOLS"/*.exe "$(e2e_unix "$E2E_TOOLS_WIN")/"; }
    e2e_lay_out "$build"
    e2e_log "scenario $E2E_NAME in $WINEPREFIX"
}

# Puts the layout of a build into the product folder, replacing what was there.
e2e_lay_out() {
    local build=$1 product
    product=$(e2e_unix "$E2E_PRODUCT_WIN")
    [ -d "$E2E_LAYOUT/$build/app" ] || { e2e_log "no layout for build $build in $E2E_LAYOUT"; return 1; }
    rm -rf "$product"
    mkdir -p "$product"
    cp -a "$E2E_LAYOUT/$build/." "$product/"
}

# Ends the scenario's prefix: its programs, its wineserver, and (unless E2E_KEEP=1) the prefix.
e2e_close() {
    if [ -n "${WINEPREFIX:-}" ]; then
        e2e_kill_spawned
        "$E2E_WINESERVER" -k 2>/dev/null
        "$E2E_WINESERVER" -w 2>/dev/null
        if [ "${E2E_KEEP:-0}" != 1 ]; then
            local folder
            folder=$(cat "$WINEPREFIX/wineserver" 2>/dev/null)
            [[ "$folder" != wine-?????? ]] || rm -rf "${TMPDIR:-/tmp}/$folder"
            rm -rf "$WINEPREFIX"
        fi
    fi
}

e2e_end() {
    local status=$?
    trap - EXIT
    e2e_close
    if [ "$status" -eq 0 ] && [ "$E2E_FAILURES" -gt 0 ]; then status=1; fi
    if [ "$status" -eq 0 ]; then e2e_log "PASS $E2E_NAME"; else e2e_log "FAIL $E2E_NAME"; fi
    exit "$status"
}

# C:\x\y -> the prefix's Unix path.
e2e_unix() {
    local path=$1 drive rest
    drive=$(printf '%s' "${path:0:1}" | tr 'A-Z' 'a-z')
    rest=${path:2}
    rest=${rest//\\//}
    [ "$drive" = c ] || { e2e_log "only drive C: is mapped: $path"; return 1; }
    printf '%s/drive_c%s' "$WINEPREFIX" "$rest"
}

# Runs a Windows program to its end. Sets RC (exit code modulo 256) and E2E_OUT.
e2e_run() {
    local start end
    start=$(date +%s%N)
    "$E2E_WINE" "$@" >"$E2E_SPAWNED/last.out" 2>"$E2E_SPAWNED/last.err" </dev/null
    RC=$(($? % 256))
    E2E_OUT=$(tr -d '\r' <"$E2E_SPAWNED/last.out")
    end=$(date +%s%N)
    E2E_LAST_MS=$(((end - start) / 1000000))
}

e2e_tool() { local tool=$1; shift; e2e_run "$E2E_TOOLS_WIN\\$tool.exe" "$@"; }

# The last lines a program's Wine wrote to stderr (last: of e2e_run; else of e2e_spawn <name>), on one line.
e2e_wine_said() { tail -5 "$E2E_SPAWNED/$1.err" 2>/dev/null | tr '\n' ' '; }

# The installer with one verb, from its own folder.
e2e_install() {
    e2e_run "$E2E_APP_WIN\\install.exe" "$@"
    e2e_log "install.exe $* -> $RC (${E2E_LAST_MS} ms)"
}

# Machine state as text: e2e_inspect printers | drivers | ... (inspect.exe's sections).
# inspect.exe prints at least one line; a start that Wine fails (seen once under load)
# is logged with Wine's messages and tried once more.
e2e_inspect() {
    e2e_tool inspect "$@"
    if [ "$RC" -ne 0 ] || [ -z "$E2E_OUT" ]; then
        e2e_log "inspect $* -> $RC with no output; Wine said: $(e2e_wine_said last)"
        e2e_tool inspect "$@"
    fi
    printf '%s\n' "$E2E_OUT"
}

# Runs the setup tool; sets RC and E2E_OUT. It always prints "ok" or "error N": a start
# that printed nothing (the silent start of WINE-NOTES.md) is logged and made once more.
e2e_setup_try() {
    e2e_tool setup "$@"
    if [ -z "$E2E_OUT" ]; then
        e2e_log "setup $* -> $RC with no output; Wine said: $(e2e_wine_said last)"
        e2e_tool setup "$@"
    fi
}

# Runs the setup tool and fails the scenario when it does not print "ok".
e2e_setup() {
    e2e_setup_try "$@"
    if [ "$RC" -ne 0 ]; then
        e2e_fail "setup $*: $E2E_OUT"
        return 1
    fi
}

# Starts a Windows program in the background under a name; its output goes to
# $E2E_SPAWNED/<name>.out. With a pattern, waits (up to 20 s) for it in the output.
e2e_spawn() {
    local name=$1 pattern=$2
    shift 2
    "$E2E_WINE" "$@" >"$E2E_SPAWNED/$name.out" 2>"$E2E_SPAWNED/$name.err" </dev/null &
    echo $! >"$E2E_SPAWNED/$name.pid"
    [ -z "$pattern" ] || e2e_wait_output "$name" "$pattern" 20
}

e2e_wait_output() {
    local name=$1 pattern=$2 seconds=${3:-20} i
    for ((i = 0; i < seconds * 20; i++)); do
        grep -q -- "$pattern" "$E2E_SPAWNED/$name.out" 2>/dev/null && return 0
        sleep 0.05
    done
    e2e_fail "$name did not print '$pattern' within $seconds s: $(cat "$E2E_SPAWNED/$name.out" 2>/dev/null)"
    return 1
}

# Waits for a background program to end; sets RC. Fails after the time-out.
e2e_wait() {
    local name=$1 seconds=${2:-60} pid i
    pid=$(cat "$E2E_SPAWNED/$name.pid")
    for ((i = 0; i < seconds * 20; i++)); do
        if ! e2e_ours "$pid"; then
            wait "$pid"
            RC=$(($? % 256))
            rm -f "$E2E_SPAWNED/$name.pid"
            return 0
        fi
        sleep 0.05
    done
    e2e_fail "$name still runs after $seconds s"
    return 1
}

e2e_output() { tr -d '\r' <"$E2E_SPAWNED/$1.out"; }

# Ends a background Windows program for good.
e2e_kill() {
    local name=$1 pid
    pid=$(cat "$E2E_SPAWNED/$name.pid" 2>/dev/null) || return 0
    ! e2e_ours "$pid" || kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    rm -f "$E2E_SPAWNED/$name.pid"
}

# Ends every background program of the scenario that still runs.
e2e_kill_spawned() {
    local file
    for file in "$E2E_SPAWNED"/*.pid; do
        [ -e "$file" ] && e2e_kill "$(basename "$file" .pid)"
    done
}

# The process still runs in this scenario's prefix. A program that ended long ago leaves
# its pid behind, and on a busy machine (pid_max 32768, Wine's many threads) that pid soon
# belongs to another scenario's program: killing or waiting for it must not reach that one.
e2e_ours() {
    tr '\0' '\n' 2>/dev/null <"/proc/$1/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"
}

# Every Windows process ends and the next start runs wineboot again, which
# carries out PendingFileRenameOperations: a reboot.
e2e_reboot() {
    e2e_kill_spawned
    "$E2E_WINESERVER" -k 2>/dev/null
    "$E2E_WINESERVER" -w 2>/dev/null
    "$E2E_WINESERVER" -p </dev/null >/dev/null 2>&1
    e2e_run wineboot -r >/dev/null 2>&1
    e2e_log "rebooted"
}

# A fresh persistent wineserver: the next program starts the desktop again and
# picks up a changed display driver.
e2e_restart_wineserver() {
    "$E2E_WINESERVER" -k 2>/dev/null
    "$E2E_WINESERVER" -w 2>/dev/null
    "$E2E_WINESERVER" -p </dev/null >/dev/null 2>&1
}

# ---- expectations -----------------------------------------------------------

# The sed script of one side (host or wine) for one story, from tier_differences.txt.
e2e_tier_rules() {
    local side=$1 story=$2
    awk -v side="$side" -v story="$story" '
        /^  (both|host|wine) / {
            line = substr($0, 3)
            split(line, f, " ")
            if (f[1] != "both" && f[1] != side) next
            n = split(f[2], stories, ",")
            ok = (f[2] == "*")
            for (i = 1; i <= n; i++) if (stories[i] == story) ok = 1
            if (!ok) next
            print substr(line, length(f[1]) + length(f[2]) + 3)
        }' "$E2E_SOURCE/tests/e2e/tier_differences.txt"
}

# The log of the last e2e_install_logged against the host tier's golden log of
# the same story, line by line, after the rules of tier_differences.txt.
e2e_compare_tiers() {
    local story=$1 golden="$E2E_SOURCE/tests/unit/golden/$1.log" out
    [ -f "$golden" ] || { e2e_fail "no golden log $golden"; return; }
    out=$(diff <(sed -E -f <(e2e_tier_rules host "$story") "$golden") \
               <(printf '%s\n' "$E2E_LOG" | sed -E -f <(e2e_tier_rules wine "$story")))
    if [ -n "$out" ]; then
        e2e_fail "Wine's log differs from the host tier's $story.log beyond tier_differences.txt:"$'\n'"$out"
    else
        e2e_log "log agrees with the host tier's $story.log"
    fi
}

e2e_fail() {
    E2E_FAILURES=$((E2E_FAILURES + 1))
    e2e_log "FAILED: $*"
}

e2e_expect_rc() {
    local expected=$1 what=${2:-last command}
    [ "$RC" -eq "$expected" ] || e2e_fail "$what: exit code $RC, expected $expected"
}

# e2e_expect_line <text> <fixed line>: the text holds this exact line.
e2e_expect_line() {
    grep -qxF -- "$2" <<<"$1" || e2e_fail "missing line '$2' in:"$'\n'"$1"
}

e2e_expect_no_line() {
    ! grep -qxF -- "$2" <<<"$1" || e2e_fail "unexpected line '$2' in:"$'\n'"$1"
}

# e2e_expect_match <text> <extended regexp>
e2e_expect_match() {
    grep -qE -- "$2" <<<"$1" || e2e_fail "nothing matches /$2/ in:"$'\n'"$1"
}

e2e_expect_no_match() {
    ! grep -qE -- "$2" <<<"$1" || e2e_fail "unexpected match of /$2/ in:"$'\n'"$1"
}

e2e_expect_file() {
    [ -f "$(e2e_unix "$1")" ] || e2e_fail "file $1 is missing"
}

e2e_expect_no_file() {
    [ ! -e "$(e2e_unix "$1")" ] || e2e_fail "file $1 exists"
}

# The printer block of one printer from "inspect printers".
e2e_printer_block() {
    awk -v name="printer $2" '$0 == name { on = 1; print; next } /^printer / { on = 0 } on' <<<"$1"
}

# An installation with two keyed product printers: Office (shared, the default) and Lab.
e2e_install_with_two_keyed_printers() {
    e2e_install_logged install
    e2e_expect_rc 1 "first install"
    e2e_setup addprinter Office --subkey office-key --comment "2nd floor" --location "Room 12" --share OfficeShare
    e2e_setup addprinter Lab --subkey lab-key --comment "lab" --location "Room 3"
    e2e_setup setdefault Office
}

# Waits up to 10 s for "inspect tray" to print this state.
e2e_wait_tray() {
    local state i
    for ((i = 0; i < 100; i++)); do
        state=$(e2e_inspect tray)
        [ "$state" = "$1" ] && return 0
        sleep 0.1
    done
    e2e_fail "companion: '$state', expected '$1'"
}

# Polls a condition (a shell command) for up to $1 seconds.
e2e_eventually() {
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds * 10; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# ---- installer runs and what they leave --------------------------------------
#
# Every install and uninstall run of an installer scenario is made with Shift held
# (shiftdown.exe), so the log dialog always appears: the harness reads the run's log from
# it (control 1001, logdialog.exe), keeps it as an artifact and closes it.

# A job file with this content appears within 10 s.
e2e_expect_job() {
    local folder
    folder=$(e2e_unix "$E2E_JOBS_WIN")
    if ! e2e_eventually 10 bash -c "grep -qsF -- \"\$1\" \"\$2\"/job-*.prn" _ "$1" "$folder"; then
        e2e_fail "no job with '$1' in $E2E_JOBS_WIN: $(ls "$folder" 2>&1)"
    fi
}

# An installer scenario: the log dialog of every run is read back (Shift held).
e2e_installer_prefix() {
    e2e_begin "$@"
    e2e_spawn shift "shift down" "$E2E_TOOLS_WIN\\shiftdown.exe"
    E2E_RUNS=0
}

# install.exe <verb> with the log dialog read back and closed. Sets RC, E2E_TITLE
# and E2E_LOG (the dialog's text), and keeps the log as <scenario>.<n>.<verb>.log.
e2e_install_logged() {
    E2E_RUNS=$((E2E_RUNS + 1))
    e2e_spawn installer "" "$E2E_APP_WIN\\install.exe" "$@"
    e2e_tool logdialog 60000
    local dialog=$E2E_OUT dialog_rc=$RC
    e2e_wait installer 60
    e2e_log "install.exe $* -> $RC (log dialog: $dialog_rc)"
    [ "$dialog_rc" -eq 0 ] || e2e_fail "install.exe $*: no log dialog: $dialog"
    E2E_TITLE=$(sed -n 's/^title: //p' <<<"$dialog")
    E2E_LOG=$(sed '1,/^text:$/d' <<<"$dialog")
    if [ -n "${E2E_ARTIFACTS:-}" ]; then
        mkdir -p "$E2E_ARTIFACTS"
        printf '%s\n' "$E2E_LOG" >"$E2E_ARTIFACTS/$E2E_NAME.$E2E_RUNS.$1.log"
    fi
}

# The state of a machine with build $1 installed (its monitor module of build
# $2, default $1): monitor, port, both drivers with their files, the Run value.
e2e_expect_installed() {
    local build=${1:-2093} monitor_build=${2:-${1:-2093}} state
    state=$(e2e_inspect)
    e2e_expect_line "$state" "monitor MarbleleafServer: | mlxmon64.dll"
    e2e_expect_line "$state" "port MarbleleafServer: | MarbleleafServer: | Marbleleaf Server Port"
    e2e_expect_line "$state" "driver Windows x64 | Marbleleaf Server"
    e2e_expect_line "$state" "driver Windows NT x86 | Marbleleaf Server"
    e2e_expect_line "$state" "  driver $E2E_DRIVERS_WIN\\x64\\3\\mlxdrv64.dll"
    e2e_expect_line "$state" "  config $E2E_DRIVERS_WIN\\x64\\3\\mlxui64.dll"
    e2e_expect_line "$state" "  driver $E2E_DRIVERS_WIN\\w32x86\\3\\mlxdrv32.dll"
    e2e_expect_line "$state" "  config $E2E_DRIVERS_WIN\\w32x86\\3\\mlxui32.dll"
    e2e_expect_line "$state" "run \"$E2E_PRODUCT_WIN\\mbltray.exe\""
    e2e_expect_line "$(e2e_inspect files "$E2E_SYSTEM32_WIN" 'mlx*')" \
        "file mlxmon64.dll size $(stat -c %s "$E2E_LAYOUT/$monitor_build/app/mlxmon64.dll") build $monitor_build"
    local x64 x86
    x64=$(e2e_inspect files "$E2E_DRIVERS_WIN\\x64\\3" 'mlx*')
    x86=$(e2e_inspect files "$E2E_DRIVERS_WIN\\w32x86\\3" 'mlx*')
    e2e_expect_match "$x64" "^file mlxdrv64\.dll size [0-9]+ build $build$"
    e2e_expect_match "$x64" "^file mlxui64\.dll size [0-9]+ build $build$"
    e2e_expect_match "$x64" "^file mlxhelp\.chm size [0-9]+ "
    e2e_expect_match "$x86" "^file mlxdrv32\.dll size [0-9]+ build $build$"
    e2e_expect_match "$x86" "^file mlxui32\.dll size [0-9]+ build $build$"
}

# The run's log counts no error.
e2e_expect_no_error() {
    e2e_expect_no_match "$E2E_LOG" 'Error\('
}

# Nothing of the product on the machine: monitor, port, driver registrations of
# both environments, files in the driver store, the system folder and the
# product folder's companion, product printers, the Run value, the companion.
e2e_expect_nothing_left() {
    local state
    state=$(e2e_inspect)
    e2e_expect_no_match "$state" '^monitor MarbleleafServer:'
    e2e_expect_no_match "$state" '^port MarbleleafServer:'
    e2e_expect_no_match "$state" '^driver .*\| Marbleleaf Server$'
    e2e_expect_no_match "$state" '^  driver Marbleleaf Server$'
    e2e_expect_line "$state" "run (none)"
    e2e_expect_line "$state" "tray mutex no window no"
    local folder
    for folder in "$E2E_SYSTEM32_WIN" "$E2E_DRIVERS_WIN\\x64" "$E2E_DRIVERS_WIN\\x64\\3" \
                  "$E2E_DRIVERS_WIN\\w32x86" "$E2E_DRIVERS_WIN\\w32x86\\3"; do
        e2e_expect_line "$(e2e_inspect files "$folder" 'mlx*')" "files (none)"
    done
    e2e_expect_no_file "$E2E_PRODUCT_WIN\\mbltray.exe"
    e2e_expect_line "$(e2e_inspect pending)" "pending (none)"
}

# The printer mblServer of a clean install: on the product port, shared under
# its name and not made the default (RestorePrinters never makes it the default).
e2e_expect_mblserver() {
    local printers block
    printers=$(e2e_inspect printers)
    block=$(e2e_printer_block "$printers" mblServer)
    e2e_expect_line "$block" "  port MarbleleafServer:"
    e2e_expect_line "$block" "  driver Marbleleaf Server"
    e2e_expect_line "$block" "  shared yes"
    e2e_expect_line "$block" "  share mblServer"
    e2e_expect_no_match "$block" "open error"
}

# Starts Xvfb on a free display for this scenario; prints ":N".
e2e_start_xvfb() {
    local n
    for ((n = 90; n < 140; n++)); do
        [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        echo $! >"$E2E_SPAWNED/xvfb.pid"
        local i pid
        pid=$(cat "$E2E_SPAWNED/xvfb.pid")
        for ((i = 0; i < 50; i++)); do
            # Ours only while it lives: another run may have taken this display first.
            kill -0 "$pid" 2>/dev/null || break
            [ -e "/tmp/.X11-unix/X$n" ] && { echo ":$n"; return 0; }
            sleep 0.1
        done
        kill "$pid" 2>/dev/null
    done
    return 1
}

# The saved-printer journal as reg.exe lists it: one line per entry, the printer's name first.
e2e_journal() {
    local entries=""
    e2e_run reg query 'HKLM\SOFTWARE\Orvanel Software KFT\Marbleleaf\Saved Printers'
    [ "$RC" -eq 0 ] && entries=$(sed -n 's/^ *\([^ ].*[^ ]\) *REG_MULTI_SZ.*$/entry \1/p' <<<"$E2E_OUT" | sort)
    if [ -n "$entries" ]; then printf '%s\n' "$entries"; else echo "journal (none)"; fi
}

# The driver "User Laser" of the user's own printers: the product's modules under other names
# (las*), so that the product's drivers never share a file with it.
e2e_user_driver() {
    local drivers module
    drivers=$(e2e_unix "$E2E_DRIVERS_WIN\\x64")
    mkdir -p "$drivers"
    for module in drv64.dll ui64.dll help.chm; do
        cp "$E2E_LAYOUT/2093/app/mlx$module" "$drivers/las$module"
    done
    e2e_setup adddriver "$E2E_DRIVERS_WIN\\x64" x64 "User Laser" las
}

# A printer of the user's: e2e_user_printer <name> <port> [addprinter options].
e2e_user_printer() {
    local name=$1 port=$2
    shift 2
    e2e_setup addprinter "$name" --driver "User Laser" --port "$port" "$@"
}

# The user's own printer "Laser" on LPT1:, the default printer as the user chose. Windows always
# has a default printer (and picks one by its own rules where there is none); Wine picks none:
# a scenario that looks at the default printer starts from one the user chose.
e2e_seed_user_default() {
    e2e_user_driver
    e2e_user_printer Laser LPT1: --default
}
