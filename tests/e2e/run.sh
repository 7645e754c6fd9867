#!/bin/bash
# Runs one end-to-end scenario (or makes the template prefix) and exits 0 when it passes.
#   run.sh <scenario>    a function scenario_<scenario> of a scenario file (scenarios*.sh)
#   run.sh --template    makes the template prefix afresh
#   run.sh --list        lists the scenarios
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
for topic in "$here"/scenarios*.sh; do
    . "$topic"
done

case "${1:-}" in
--template)
    e2e_require_packages && e2e_make_template ;;
--list)
    declare -F | sed -n 's/^declare -f scenario_//p' ;;
"")
    echo "usage: run.sh <scenario>|--template|--list" >&2; exit 2 ;;
*)
    declare -F "scenario_$1" >/dev/null || { echo "no scenario $1" >&2; exit 2; }
    : "${E2E_LAYOUT:?set E2E_LAYOUT to the build's layout folder}"
    : "${E2E_TOOLS:?set E2E_TOOLS to the build's e2e-tools folder}"
    "scenario_$1"
    e2e_end ;;
esac
