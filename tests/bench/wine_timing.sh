#!/bin/bash
# Wall-clock times of the real install.exe on the corrected Wine (clean install, reinstall,
# uninstall) next to the baseline program that makes the same spooler calls, those that change
# the machine included, and nothing else. Run by scripts/bench --wine.
#   E2E_LAYOUT, E2E_TOOLS as for tests/e2e; BENCH_BASELINE: the baseline program; BENCH_ROUNDS.
set -u
here=$(cd "$(dirname "$0")/../e2e" && pwd)
. "$here/lib.sh"

rounds=${BENCH_ROUNDS:-3}
e2e_installer_prefix bench_timing
cp -a "$BENCH_BASELINE" "$(e2e_unix "$E2E_TOOLS_WIN")/spooler_baseline.exe"
# A run that shows its log waits for the dialog to be closed: the time is from the start to the
# process's end with the harness's logdialog tool closing the dialog as soon as it appears.
timed_install() {
    local start end
    start=$(date +%s%N)
    e2e_install_logged "$@" >&2
    end=$(date +%s%N)
    echo "$RC $(((end - start) / 1000000))"
}
timed_baseline() {
    e2e_tool spooler_baseline "$@"
    [ "$RC" -eq 0 ] || e2e_log "baseline $*: $E2E_OUT"
    echo "$RC $E2E_LAST_MS"
}
printf '%-6s %-22s %-22s %-22s\n' round "install (rc ms)" "reinstall (rc ms)" "uninstall (rc ms)"
for round in $(seq 1 "$rounds"); do
    install=$(timed_install install)
    reinstall=$(timed_install install)
    uninstall=$(timed_install uninstall)
    printf '%-6s %-22s %-22s %-22s\n' "$round" "installer $install" "installer $reinstall" "installer $uninstall"
    install=$(timed_baseline install "$E2E_APP_WIN")
    reinstall=$(timed_baseline reinstall "$E2E_APP_WIN")
    uninstall=$(timed_baseline uninstall)
    printf '%-6s %-22s %-22s %-22s\n' "" "baseline $install" "baseline $reinstall" "baseline $uninstall"
done
e2e_tool spooler_baseline; printf 'queries only, on a machine without the product: exit %s, %s ms\n' "$RC" "$E2E_LAST_MS"
