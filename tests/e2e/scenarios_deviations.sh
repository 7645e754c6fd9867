# Deviation tests: one a patch of tests/e2e/wine. Each makes the same spooler calls
# on Debian's own Wine and on the corrected one, each in a fresh prefix, and prints
# "windows" when the calls behaved as Windows documents, anything else otherwise.
# The corrected Wine must behave as Windows; Debian's must still show the deviation,
# or the patch has become unneeded and the test says so.

# e2e_deviation <name> <patch> <check function>
e2e_deviation() {
    local name=$1 patch=$2 check=$3 corrected_wine=$E2E_WINE stock corrected
    E2E_WINE=$E2E_STOCK_WINE
    e2e_begin "${name}_stock" || return 1
    stock=$("$check" | tail -1)
    e2e_close
    E2E_WINE=$corrected_wine
    e2e_begin "$name" || return 1
    corrected=$("$check" | tail -1)
    e2e_log "Debian's Wine: $stock; corrected Wine: $corrected"
    [ "$corrected" = windows ] || e2e_fail "the corrected Wine does not do what Windows documents ($patch): $corrected"
    [ "$stock" != windows ] ||
        e2e_fail "Debian's Wine now does what Windows documents: $patch is no longer needed"
}

# AddPrinterW with a null pDatatype: the printer is made and opens.
check_addprinter_null_datatype() {
    e2e_setup adddriver "$E2E_APP_WIN" x64 >&2
    e2e_setup_try addprinter P --datatype -
    local made=$E2E_OUT block
    block=$(e2e_printer_block "$(e2e_inspect printers)" P)
    if [ "$made" = ok ] && [ -n "$block" ] && ! grep -q "open error" <<<"$block"; then
        echo windows
    else
        echo "AddPrinterW: $made; the printer: $(grep 'open error' <<<"$block" || echo "${block:-missing}")"
    fi
}

scenario_deviation_addprinter_null_datatype() {  # labels: deviation
    e2e_deviation deviation_addprinter_null_datatype 0001-addprinter-null-datatype.patch check_addprinter_null_datatype
}

# DeletePrinterDriverExW with its delete flags. DPD_DELETE_ALL_FILES (4): refused with
# 3001 while a printer uses the driver, and while another driver ("Twin", the same files)
# uses its files, deleting nothing; DPD_DELETE_UNUSED_FILES (1) then deletes the
# registration and keeps the files that "Twin" uses; once "Twin" goes with
# DPD_DELETE_ALL_FILES, no file is left.
check_deleteprinterdriverex_flags() {
    local store="$E2E_DRIVERS_WIN\x64\3" in_use shared unused last files_shared files_left drivers
    # From the driver folder's root, as the installer adds them (Wine copies only from there).
    local file
    for file in mlxdrv64.dll mlxui64.dll mlxhelp.chm; do
        cp "$(e2e_unix "$E2E_APP_WIN")/$file" "$(e2e_unix "$E2E_DRIVERS_WIN\x64")/"
    done
    e2e_setup adddriver "$E2E_DRIVERS_WIN\x64" x64 >&2
    e2e_setup adddriver "$E2E_DRIVERS_WIN\x64" x64 Twin >&2
    [ "$(e2e_inspect files "$store" 'mlx*' | grep -c '^file mlx')" -eq 3 ] || { echo "driver files not in the store"; return; }
    e2e_setup addprinter P >&2
    e2e_setup_try deldriverex "Windows x64" 4
    in_use=$E2E_OUT
    e2e_setup delprinter P >&2
    e2e_setup_try deldriverex "Windows x64" 4
    shared=$E2E_OUT
    e2e_setup_try deldriverex "Windows x64" 1
    unused=$E2E_OUT
    files_shared=$(e2e_inspect files "$store" 'mlx*' | grep -c '^file mlx')
    e2e_setup_try deldriverex "Windows x64" 4 Twin
    last=$E2E_OUT
    files_left=$(e2e_inspect files "$store" 'mlx*')
    drivers=$(e2e_inspect)
    if [ "$in_use" = "error 3001" ] && [ "$shared" = "error 3001" ] && [ "$unused" = ok ] &&
        [ "$files_shared" -eq 3 ] && [ "$last" = ok ] && [ "$files_left" = "files (none)" ] &&
        ! grep -qE '^driver Windows x64 \| (Marbleleaf Server|Twin)$' <<<"$drivers"; then
        echo windows
    else
        echo "in use: $in_use; shared files: $shared; unused files: $unused, $files_shared kept; last: $last; store: $(tr '\n' ' ' <<<"$files_left")"
    fi
}

scenario_deviation_deleteprinterdriverex_flags() {  # labels: deviation
    e2e_deviation deviation_deleteprinterdriverex_flags 0002-deleteprinterdriverex-flags.patch check_deleteprinterdriverex_flags
}

# The monitor's registry functions: a monitor records its port under its own key
# while it initialises (AddMonitorW).
check_monitor_registry() {
    cp "$(e2e_unix "$E2E_APP_WIN")/mlxmon64.dll" "$(e2e_unix "$E2E_SYSTEM32_WIN")/"
    e2e_setup addmonitor mlxmon64.dll >&2
    e2e_run reg query 'HKLM\System\CurrentControlSet\Control\Print\Monitors\MarbleleafServer:\Ports\MarbleleafServer:'
    if [ "$RC" -eq 0 ]; then echo windows; else echo "no port key written by the monitor"; fi
}

scenario_deviation_monitor_registry() {  # labels: deviation
    e2e_deviation deviation_monitor_registry 0003-monitor-registry-functions.patch check_monitor_registry
}
