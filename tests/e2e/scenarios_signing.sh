# A build with SIGN_COMMAND set: scripts/sign with a throwaway certificate made here, in a
# build tree of its own. Every binary it makes is signed and verifies, mlxevent.dll before
# install.exe takes it in; the setup program signs itself and the uninstaller it writes.

scenario_setup_signed() {  # labels: setup
    e2e_begin setup_signed
    local work="$E2E_ROOT/signed" file
    rm -rf "$work"
    mkdir -p "$work"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Marbleleaf e2e signing" \
        -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 ||
        { e2e_fail "openssl could not make the test certificate"; return; }
    local build="$work/build"
    cmake --preset windows -S "$E2E_SOURCE" -B "$build" \
        "-DSIGN_COMMAND=$E2E_SOURCE/scripts/sign --cert $work/cert.pem --key $work/key.pem" \
        -DMARBLELEAF_EXTRA_BUILDS= >"$work/configure.log" 2>&1 ||
        { e2e_fail "configure failed: $(tail -5 "$work/configure.log")"; return; }
    cmake --build "$build" --target marbleleaf_setup -j2 >"$work/build.log" 2>&1 ||
        { e2e_fail "build failed: $(tail -20 "$work/build.log")"; return; }

    local layout="$build/layout/2093"
    for file in "$build/res/mlxevent.dll" "$layout/app/install.exe" "$layout"/app/*.dll "$layout/mbltray.exe" \
        "$build/marbleleaf-setup.exe"; do
        osslsigncode verify -CAfile "$work/cert.pem" -in "$file" >"$work/verify.log" 2>&1 ||
            e2e_fail "signature of ${file#"$build"/} does not verify: $(tail -3 "$work/verify.log")"
    done
    python3 -c 'import sys; sys.exit(open(sys.argv[1], "rb").read() not in open(sys.argv[2], "rb").read())' \
        "$build/res/mlxevent.dll" "$layout/app/install.exe" || e2e_fail "install.exe does not carry the signed mlxevent.dll"

    rm -rf "$(e2e_unix "$E2E_PRODUCT_WIN")"
    cp "$build/marbleleaf-setup.exe" "$(e2e_unix "$E2E_TOOLS_WIN")/signed-setup.exe"
    e2e_tool answer run "$E2E_TOOLS_WIN\\signed-setup.exe" /S
    e2e_expect_line "$E2E_OUT" "exit 0"
    for file in uninstall.exe app/install.exe mbltray.exe; do
        osslsigncode verify -CAfile "$work/cert.pem" -in "$(e2e_unix "$E2E_PRODUCT_WIN")/$file" >"$work/verify.log" 2>&1 ||
            e2e_fail "signature of the installed $file does not verify: $(tail -3 "$work/verify.log")"
    done
    [ "${E2E_KEEP:-0}" = 1 ] || rm -rf "$work"
}
