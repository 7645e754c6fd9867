#!/usr/bin/env bash
# Wine's own conformance tests of the two spooler modules that the corrected Wine replaces
# (dlls/winspool.drv/tests and dlls/localspl/tests, which Windows passes: that is how Wine keeps
# them), built with MinGW from the Debian source that build.sh fetched, and run on Debian's Wine
# and on the corrected one, each in a fresh prefix. Prints the counts of both; fails when a check
# (a file:line of a test) fails on the corrected Wine but never on Debian's. A todo_wine check
# that the corrected Wine now passes ("succeeded inside todo block") is listed, not counted as a
# failure.
#   conformance.sh [OUT]     OUT: the corrected Wine's build folder (default build/wine)
# Needs the packages that scripts/setup installs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/build.sh" "${1:-}"
out=$(cd "${1:-$here/../../../build/wine}" && pwd)
tests=$out/conformance-src
[ -d "$tests/winspool.drv" ] || { echo "no test sources in $tests (build.sh --force)" >&2; exit 1; }
work=$out/conformance
rm -rf "$work"
mkdir -p "$work"

headers=/usr/include/wine/wine
cc=x86_64-w64-mingw32-gcc
cflags=(-O2 -D__WINESRC__ -D_UCRT -D_WIN32 -fno-builtin -fno-strict-aliasing -Wno-attributes
        -nostdinc -isystem "$($cc -print-file-name=include)" -I"$tests/include" -I/usr/include/wine -I"$headers/msvcrt" -I"$headers/windows")

# build_test <module folder> <test> "<imports>": one test program, as Wine's build makes it (the
# test's source, and a list of its one test with the standalone main of wine/test.h).
build_test() {
    local dir=$1 test=$2 imports=$3 obj=$work/$1
    mkdir -p "$obj"
    printf '%s\n' '#define WIN32_LEAN_AND_MEAN' '#include <windows.h>' '#define STANDALONE' '#include "wine/test.h"' \
        "extern void func_$test(void);" \
        "const struct test winetest_testlist[] = { { \"$test\", func_$test }, { 0, 0 } };" >"$obj/testlist.c"
    $cc "${cflags[@]}" -I"$tests/$dir" -c "$tests/$dir/$test.c" -o "$obj/$test.o"
    $cc "${cflags[@]}" -c "$obj/testlist.c" -o "$obj/testlist.o"
    # shellcheck disable=SC2086
    winegcc-stable -b x86_64-w64-mingw32 -mno-cygwin -mconsole -o "$work/${dir%%.*}_$test.exe" \
        "$obj/$test.o" "$obj/testlist.o" $imports
}
build_test winspool.drv info "-lwinspool -ladvapi32"
build_test localspl localmon "-ladvapi32 -lwinspool"

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
stock=/usr/lib/wine/wine64
corrected=$out/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver

# Most of the tests look at the default printer, and skip without one (a fresh prefix has none;
# Windows always has one): with the e2e tools at hand (E2E_TOOLS, E2E_LAYOUT), a printer "Laser"
# on LPT1: is the default, its driver the product's modules under other names.
seed_default_printer() {
    local wine=$1 drivers=$WINEPREFIX/drive_c/windows/system32/spool/drivers/x64 module
    mkdir -p "$drivers"
    for module in drv64.dll ui64.dll help.chm; do cp "$E2E_LAYOUT/2093/app/mlx$module" "$drivers/las$module"; done
    cp "$E2E_TOOLS/setup.exe" "$WINEPREFIX/drive_c/conformance/"
    "$wine" 'C:\conformance\setup.exe' adddriver 'C:\windows\system32\spool\drivers\x64' x64 "User Laser" las >/dev/null 2>&1 &&
        "$wine" 'C:\conformance\setup.exe' addprinter Laser --driver "User Laser" --port LPT1: --default >/dev/null 2>&1 ||
        { echo "FAILED: the default printer could not be set up on $wine" >&2; exit 1; }
    rm "$WINEPREFIX/drive_c/conformance/setup.exe"
}

# run_tests <name> <wine>: every test program in a fresh prefix; the output in <name>.out.
run_tests() {
    local name=$1 wine=$2 exe
    export WINEPREFIX=$work/prefix-$name
    "$wine" wineboot -i >/dev/null 2>&1
    "$server" -p </dev/null >/dev/null 2>&1 || true
    mkdir -p "$WINEPREFIX/drive_c/conformance"
    cp "$work"/*.exe "$WINEPREFIX/drive_c/conformance/"
    [ -z "${E2E_TOOLS:-}" ] || seed_default_printer "$wine"
    : >"$work/$name.out"
    for exe in "$WINEPREFIX/drive_c/conformance"/*.exe; do
        timeout 120 "$wine" "C:\\conformance\\$(basename "$exe")" </dev/null 2>&1 | tr -d '\r' >>"$work/$name.out" || true
    done
    "$server" -k || true
    "$server" -w || true
    rm -rf "$WINEPREFIX"
}
run_tests stock "$stock"
run_tests corrected "$corrected"

# The summary of each test ("<test>: N tests executed (T marked as todo, F as flaky, E failures), S skipped.").
summary() { sed -nE 's/^([0-9a-f]+:)?([a-z_]+): ([0-9]+) tests executed \(([0-9]+) marked as todo, ([0-9]+) as flaky, ([0-9]+) failures?\), ([0-9]+) skipped\.$/\2 \3 checks, \4 todo, \6 failures, \7 skipped/p' "$work/$1.out"; }
# The checks that failed, by file:line.
failed() { sed -nE 's/^([a-z_]+\.c:[0-9]+): Test failed:.*/\1/p' "$work/$1.out" | sort -u; }

echo "Debian's Wine:"; summary stock | sed 's/^/  /'
echo "corrected Wine:"; summary corrected | sed 's/^/  /'
now_passing=$(sed -nE 's/^([a-z_]+\.c:[0-9]+): Test succeeded inside todo block: (.*)/\1 \2/p' "$work/corrected.out" | sort -u)
stock_now_passing=$(sed -nE 's/^([a-z_]+\.c:[0-9]+): Test succeeded inside todo block: (.*)/\1 \2/p' "$work/stock.out" | sort -u)
newly=$(comm -23 <(printf '%s\n' "$now_passing") <(printf '%s\n' "$stock_now_passing") | sed '/^$/d')
if [ -n "$newly" ]; then echo "todo_wine checks the corrected Wine passes:"; sed 's/^/  /' <<<"$newly"; fi
regressions=$(comm -23 <(failed corrected) <(failed stock))
[ "$(summary stock | wc -l)" -eq 2 ] && [ "$(summary corrected | wc -l)" -eq 2 ] ||
    { echo "FAILED: a test program did not finish (see $work/*.out)"; exit 1; }
if [ -n "$regressions" ]; then
    echo "FAILED: checks that pass on Debian's Wine fail on the corrected one:"
    grep -hE "^($(paste -sd'|' <<<"$regressions")): Test failed" "$work/corrected.out" | sed 's/^/  /'
    exit 1
fi
echo "no check that passes on Debian's Wine fails on the corrected one"
