#!/bin/bash
# Wall-clock times of the real install.exe under Wine (clean install, reinstall, uninstall) next to
# the baseline program that makes only the spooler's query calls. Run by scripts/bench --wine.
#   E2E_LAYOUT, E2E_TOOLS as for tests/e2e; BENCH_BASELINE: the baseline program; BENCH_ROUNDS.
set -u
here=$(cd "$(dirname "$0")/../e2e" && pwd)
. "$here/lib.sh"
. "$here/scenarios.sh"

rounds=${BENCH_ROUNDS:-3}
e2e_installer_prefix bench_timing
cp -a "$BENCH_BASELINE" "$(e2e_unix "$E2E_TOOLS_WIN")/spooler_baseline.exe"
# A run that shows its log waits for the dialog to be closed: the time is from the start to the
# process's end with the harness's logdialog tool closing the dialog as soon as it appears.
timed_install() {
    local start end
    start=$(date +%s%N)
    e2e_install_logged "$@"
    end=$(date +%s%N)
    echo "$RC $(((end - start) / 1000000))"
}
for round in $(seq 1 "$rounds"); do
    install=$(timed_install install | tail -1)
    reinstall=$(timed_install install | tail -1)
    e2e_tool spooler_baseline; baseline="$RC $E2E_LAST_MS"
    uninstall=$(timed_install uninstall | tail -1)
    printf 'round %d: install %s | reinstall %s | baseline %s | uninstall %s (exit code, ms)\n' \
        "$round" "$install" "$reinstall" "$baseline" "$uninstall"
done
e2e_tool spooler_baseline; printf 'baseline on an empty machine: exit %s, %s ms\n' "$RC" "$E2E_LAST_MS"
