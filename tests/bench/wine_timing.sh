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
for round in $(seq 1 "$rounds"); do
    e2e_install install;   install="$RC $E2E_LAST_MS"
    e2e_install install;   reinstall="$RC $E2E_LAST_MS"
    e2e_tool spooler_baseline; baseline="$RC $E2E_LAST_MS"
    e2e_install uninstall; uninstall="$RC $E2E_LAST_MS"
    printf 'round %d: install %s | reinstall %s | baseline %s | uninstall %s (exit code, ms)\n' \
        "$round" "$install" "$reinstall" "$baseline" "$uninstall"
done
e2e_tool spooler_baseline; printf 'baseline on an empty machine: exit %s, %s ms\n' "$RC" "$E2E_LAST_MS"
