#!/usr/bin/env bash
# Builds the corrected Wine of the end-to-end tier into a folder (default build/wine):
# Debian's own source of the installed Wine, with the patches of this folder, of which
# only the two spooler DLLs are rebuilt (winspool.drv and localspl.dll, PE builtins, with
# the MinGW cross compiler and Wine's winebuild). Everything else is the installed Wine,
# linked into a tree of the same layout, so that its loader picks up these two.
#   build.sh [OUT]      builds when OUT lacks a build of the current patches
#   build.sh --force [OUT]
# Needs the packages and the deb-src entry that scripts/setup installs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
force=0
[ "${1:-}" = --force ] && { force=1; shift; }
out=$(mkdir -p "${1:-$here/../../../build/wine}" && cd "${1:-$here/../../../build/wine}" && pwd)

wine_version=$(dpkg-query -W -f='${Version}' wine64)
lib=/usr/lib/x86_64-linux-gnu/wine
# A build is current when it was made for this Wine from these patches and this script.
stamp=$( { echo "$wine_version"; cat "$here"/*.patch "$0"; } | sha256sum | cut -c1-16)
if [ "$force" = 0 ] && [ "$(cat "$out/.stamp" 2>/dev/null)" = "$stamp" ]; then exit 0; fi
# One build at a time: parallel scenarios may all find it missing.
exec 9>"$out/.lock"
flock 9
if [ "$force" = 0 ] && [ "$(cat "$out/.stamp" 2>/dev/null)" = "$stamp" ]; then exit 0; fi

start=$SECONDS
log() { printf "[corrected wine] %3d s %s\n" $((SECONDS - start)) "$*" >&2; }
rm -rf "$out/usr" "$out/obj" "$out/src" "$out/conformance-src" "$out/.stamp"
mkdir -p "$out/dl" "$out/obj"

# Debian's source package of exactly the installed version (the download is kept).
if ! ls "$out/dl"/wine_*.dsc >/dev/null 2>&1 || ! grep -q "^Version: $wine_version$" "$out"/dl/wine_*.dsc; then
  rm -f "$out"/dl/wine_*
  log "downloading Debian's source of wine $wine_version"
  (cd "$out/dl" && apt-get source --download-only -qq "wine=$wine_version" >/dev/null 2>&1) ||
    { log "apt-get source failed: is there a deb-src entry (scripts/setup adds it)?"; exit 1; }
fi
log "unpacking with Debian's patches"
dpkg-source --no-check -x "$out"/dl/wine_*.dsc "$out/src" >/dev/null
for patch in "$here"/*.patch; do
  patch -d "$out/src" -p1 --forward --quiet <"$patch" || { log "$(basename "$patch") does not apply"; exit 1; }
done
# Exports that Windows has and Wine 8 lacks, whose code the patches add: a line each in the
# module's export definitions (Wine's own file beside its sources).
echo "@ stdcall AddPrinterConnection2W(ptr wstr long ptr)" >>"$(ls "$out"/src/dlls/winspool.drv/*.[s]pec)"

src=$out/src
headers=/usr/include/wine/wine
cc=x86_64-w64-mingw32-gcc
# The flags Wine's own build gives its PE modules: Wine's headers instead of MinGW's.
cflags=(-O2 -D__WINESRC__ -D_UCRT -D_WIN32 -fno-builtin -fno-strict-aliasing -Wno-attributes
        -nostdinc -isystem "$($cc -print-file-name=include)" -I"$src/include" -I"$headers/msvcrt" -I"$headers/windows")

# build_module <dir> <module> "<sources>" "<imports>" [winebuild flags]
build_module() {
  local dir=$1 module=$2 sources=$3 imports=$4 extra=${5:-} objs=() f
  local obj="$out/obj/$module"
  mkdir -p "$obj"
  for f in $sources; do
    $cc "${cflags[@]}" -I"$src/dlls/$dir" -c "$src/dlls/$dir/$f.c" -o "$obj/$f.o"
    objs+=("$obj/$f.o")
  done
  wrc-stable --nostdinc -I"$src/dlls/$dir" -I"$src/include" -I"$headers/windows" -I"$headers/msvcrt" \
    -D__WINESRC__ -o "$obj/res.res" "$src/dlls/$dir"/*.rc
  # The module's export definitions: Wine's own file beside its sources.
  # shellcheck disable=SC2086
  winegcc-stable -b x86_64-w64-mingw32 -mno-cygwin -shared $extra -o "$obj/$module" \
    "$src/dlls/$dir"/*.[s]pec "${objs[@]}" "$obj/res.res" $imports
  winebuild-stable --builtin "$obj/$module"
}
log "building winspool.drv and localspl.dll"
build_module winspool.drv winspool.drv "info wspool" "-luser32 -lgdi32 -ladvapi32 -lcompstui"
build_module localspl localspl.dll "localmon provider" "-lspoolss -luser32 -ladvapi32" "-Wb,--prefer-native"

# The tree: the loader and ntdll.so copied (Wine finds its folders from their real paths),
# everything else linked to the installed Wine, the two modules replaced.
tree=$out/usr
mkdir -p "$tree/lib/wine" "$tree/lib/x86_64-linux-gnu/wine/x86_64-unix" "$tree/lib/x86_64-linux-gnu/wine/x86_64-windows" "$tree/share"
cp /usr/lib/wine/wine64 "$tree/lib/wine/wine64"
ln -s /usr/lib/wine/wineserver "$tree/lib/wine/wineserver"
ln -s /usr/share/wine "$tree/share/wine"
ln -s "$lib/i386-windows" "$tree/lib/x86_64-linux-gnu/wine/i386-windows"
for f in "$lib"/x86_64-unix/*; do ln -s "$f" "$tree/lib/x86_64-linux-gnu/wine/x86_64-unix/"; done
rm "$tree/lib/x86_64-linux-gnu/wine/x86_64-unix/ntdll.so"
cp "$lib/x86_64-unix/ntdll.so" "$tree/lib/x86_64-linux-gnu/wine/x86_64-unix/ntdll.so"
for f in "$lib"/x86_64-windows/*; do ln -s "$f" "$tree/lib/x86_64-linux-gnu/wine/x86_64-windows/"; done
for module in winspool.drv localspl.dll; do
  rm "$tree/lib/x86_64-linux-gnu/wine/x86_64-windows/$module"
  cp "$out/obj/$module/$module" "$tree/lib/x86_64-linux-gnu/wine/x86_64-windows/$module"
done
# Wine's own conformance tests of the two modules, and the test header they build with, for
# conformance.sh: read from the fetched source, never part of the project.
rm -rf "$out/conformance-src"
mkdir -p "$out/conformance-src/include/wine"
cp -r "$src/dlls/winspool.drv/tests" "$out/conformance-src/winspool.drv"
cp -r "$src/dlls/localspl/tests" "$out/conformance-src/localspl"
cp "$src/include/wine/test.h" "$out/conformance-src/include/wine/"
rm -rf "$src"  # 350 MB; the download stays for the next build
echo "$stamp" >"$out/.stamp"
log "built in $((SECONDS - start)) s: $tree/lib/wine/wine64"
