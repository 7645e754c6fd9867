# Deviation tests: one a patch of tests/e2e/wine. Each check makes the same spooler calls on
# Debian's own Wine and on the corrected one, each in a fresh prefix, and states what it saw as
# one signature line. The corrected Wine must give Windows' signature, and Debian's Wine the
# known one: a Wine that behaves otherwise (a newer one that fixes the deviation, or one that
# deviates differently) fails the test and says how. A step that prepares the machine
# (e2e_setup) fails the test when it fails; the steps whose outcome is the point go into the
# signature. Each check uses what both Wines have (the "Local Port" monitor's ports, or a
# monitor it installs first), so that no check leans on another deviation.

# Appends "<what>: <outcome>" to the signature.
e2e_sig() { E2E_SIGNATURE+="${E2E_SIGNATURE:+; }$*"; }

# e2e_deviation <name> <patch> <check> <Debian's signature> <Windows' signature>
e2e_deviation() {
    local name=$1 patch=$2 check=$3 stock_expected=$4 windows=$5 corrected_wine=$E2E_WINE stock corrected
    E2E_WINE=$E2E_STOCK_WINE
    e2e_begin "${name}_stock" || return 1
    E2E_SIGNATURE=""
    "$check"
    stock=$E2E_SIGNATURE
    e2e_close
    E2E_WINE=$corrected_wine
    e2e_begin "$name" || return 1
    E2E_SIGNATURE=""
    "$check"
    corrected=$E2E_SIGNATURE
    e2e_log "Debian's Wine:  $stock"
    e2e_log "corrected Wine: $corrected"
    [ "$corrected" = "$windows" ] ||
        e2e_fail "the corrected Wine does not do what Windows does ($patch):"$'\n'"  got      $corrected"$'\n'"  expected $windows"
    [ "$stock" = "$stock_expected" ] ||
        e2e_fail "Debian's Wine no longer shows the deviation of $patch (if it now does what Windows does, the patch is no longer needed):"$'\n'"  got      $stock"$'\n'"  expected $stock_expected"
}

# The files of the product's driver in the x64 store, counted.
e2e_store_count() {
    local count
    count=$(e2e_inspect files "$E2E_DRIVERS_WIN\\x64\\3" 'mlx*' | grep -c '^file mlx')
    echo "${count:-0}"
}

# The drivers of an environment by name, comma-separated, or "(none)".
e2e_driver_names() {
    local names
    names=$(e2e_inspect drivers | sed -n "s/^driver $1 | //p" | paste -sd, -)
    echo "${names:-(none)}"
}

# The printers by name, comma-separated, or "(none)".
e2e_printer_names() {
    local names
    names=$(e2e_inspect printers | sed -n 's/^printer //p' | paste -sd, -)
    echo "${names:-(none)}"
}

# One field ("port", "driver", "comment") of a printer, or "(none)".
e2e_printer_field() {
    local value
    value=$(e2e_printer_block "$(e2e_inspect printers)" "$1" | sed -n "s/^  $2 //p")
    echo "${value:-(none)}"
}

# The driver's files from the x64 driver folder's root, as the installer stages them (Wine copies
# only from there), the driver registered under its name and under the names given (the same
# files).
e2e_drivers_in_store() {
    local file name
    for file in mlxdrv64.dll mlxui64.dll mlxhelp.chm; do
        cp "$(e2e_unix "$E2E_APP_WIN")/$file" "$(e2e_unix "$E2E_DRIVERS_WIN\\x64")/"
    done
    e2e_setup adddriver "$E2E_DRIVERS_WIN\\x64" x64
    for name in "$@"; do e2e_setup adddriver "$E2E_DRIVERS_WIN\\x64" x64 "$name"; done
    [ "$(e2e_store_count)" -eq 3 ] || e2e_fail "setup: the driver's files are not in the store"
}

# AddPrinterW with a null pDatatype: the printer is made and opens.
check_addprinter_null_datatype() {
    e2e_setup adddriver "$E2E_APP_WIN" x64
    e2e_setup_try addprinter P --datatype - --port LPT1:
    e2e_sig "AddPrinterW without a datatype: $E2E_OUT"
    local block
    block=$(e2e_printer_block "$(e2e_inspect printers)" P)
    if [ -z "$block" ]; then e2e_sig "the printer: missing"
    elif grep -q "open error" <<<"$block"; then e2e_sig "the printer: $(grep -o 'open error [0-9]*' <<<"$block")"
    else e2e_sig "the printer: opens"; fi
}

scenario_deviation_addprinter_null_datatype() {  # labels: deviation
    e2e_deviation deviation_addprinter_null_datatype 0001-addprinter-null-datatype.patch \
        check_addprinter_null_datatype \
        "AddPrinterW without a datatype: error 1801; the printer: open error 1801" \
        "AddPrinterW without a datatype: ok; the printer: opens"
}

# DeletePrinterDriverExW's delete flags. In use by a printer, refused with 3001 even with
# DPD_DELETE_UNUSED_FILES (1), which never fails for shared files: only the printer refuses.
# DPD_DELETE_ALL_FILES (4) refused while "Twin" names the same files; DPD_DELETE_UNUSED_FILES
# then deletes the registration and keeps those files; "Twin" with DPD_DELETE_ALL_FILES takes
# them all.
check_deleteprinterdriverex_flags() {
    e2e_drivers_in_store Twin
    e2e_setup addprinter P --port LPT1:
    e2e_setup_try deldriverex "Windows x64" 1
    e2e_sig "in use, unused files: $E2E_OUT"
    e2e_setup delprinter P
    e2e_setup_try deldriverex "Windows x64" 4
    e2e_sig "files named by Twin, all files: $E2E_OUT"
    e2e_setup_try deldriverex "Windows x64" 1
    e2e_sig "unused files: $E2E_OUT, $(e2e_store_count) files kept"
    e2e_setup_try deldriverex "Windows x64" 4 Twin
    e2e_sig "Twin, all files: $E2E_OUT, $(e2e_store_count) files kept"
    e2e_sig "drivers: $(e2e_driver_names "Windows x64")"
}

scenario_deviation_deleteprinterdriverex_flags() {  # labels: deviation
    e2e_deviation deviation_deleteprinterdriverex_flags 0002-deleteprinterdriverex-flags.patch \
        check_deleteprinterdriverex_flags \
        "in use, unused files: error 87; files named by Twin, all files: error 87; unused files: error 87, 3 files kept; Twin, all files: error 87, 3 files kept; drivers: Marbleleaf Server,Twin" \
        "in use, unused files: error 3001; files named by Twin, all files: error 3001; unused files: ok, 3 files kept; Twin, all files: ok, 0 files kept; drivers: (none)"
}

# The monitor's registry functions: a monitor records its port under its own key while it
# initialises (AddMonitorW).
check_monitor_registry() {
    cp "$(e2e_unix "$E2E_APP_WIN")/mlxmon64.dll" "$(e2e_unix "$E2E_SYSTEM32_WIN")/"
    e2e_setup addmonitor mlxmon64.dll
    e2e_run reg query 'HKLM\System\CurrentControlSet\Control\Print\Monitors\MarbleleafServer:\Ports\MarbleleafServer:'
    if [ "$RC" -eq 0 ]; then e2e_sig "port key written by the monitor: yes"; else e2e_sig "port key written by the monitor: no"; fi
}

scenario_deviation_monitor_registry() {  # labels: deviation
    e2e_deviation deviation_monitor_registry 0003-monitor-registry-functions.patch check_monitor_registry \
        "port key written by the monitor: no" \
        "port key written by the monitor: yes"
}

# AddPrinterW over an existing printer's name, with another driver, port and comment: refused,
# the printer as it was.
check_addprinter_existing_name() {
    e2e_setup adddriver "$E2E_APP_WIN" x64
    e2e_setup adddriver "$E2E_APP_WIN" x64 Twin
    e2e_setup addprinter P --port LPT1: --comment first
    e2e_setup_try addprinter P --driver Twin --port FILE: --comment second
    e2e_sig "AddPrinterW of an existing name: $E2E_OUT"
    e2e_sig "the printer: $(e2e_printer_field P driver), $(e2e_printer_field P port), $(e2e_printer_field P comment)"
}

scenario_deviation_addprinter_existing_name() {  # labels: deviation
    e2e_deviation deviation_addprinter_existing_name 0004-addprinter-existing-name.patch \
        check_addprinter_existing_name \
        "AddPrinterW of an existing name: ok; the printer: Twin, FILE:, second" \
        "AddPrinterW of an existing name: error 1802; the printer: Marbleleaf Server, LPT1:, first"
}

# Ports that no monitor provides: alone, or one of two, in AddPrinterW; a printer moved to one
# with SetPrinterW. Known ports (one or two), Wine's own "CUPS:" ports and a move to a known
# port pass. (Wine drops a "CUPS:" printer that CUPS does not know at its next listing: only
# the call's outcome counts.)
check_printer_unknown_port() {
    e2e_setup adddriver "$E2E_APP_WIN" x64
    e2e_setup_try addprinter A --port NoSuchPort:
    e2e_sig "unknown port: $E2E_OUT"
    e2e_setup_try addprinter B --port "LPT1:,NoSuchPort:"
    e2e_sig "one of two unknown: $E2E_OUT"
    e2e_setup_try addprinter C --port "LPT1:,FILE:"
    e2e_sig "two known: $E2E_OUT"
    e2e_setup_try addprinter D --port CUPS:D
    e2e_sig "Wine's own CUPS port: $E2E_OUT"
    e2e_setup_try setport C NoSuchPort:
    e2e_sig "moved to an unknown port: $E2E_OUT, now on $(e2e_printer_field C port)"
    e2e_setup_try setport C LPT2:
    e2e_sig "moved to a known port: $E2E_OUT, now on $(e2e_printer_field C port)"
    e2e_sig "printers: $(e2e_printer_names)"
}

scenario_deviation_printer_unknown_port() {  # labels: deviation
    e2e_deviation deviation_printer_unknown_port 0005-printer-port-must-exist.patch check_printer_unknown_port \
        "unknown port: ok; one of two unknown: ok; two known: ok; Wine's own CUPS port: ok; moved to an unknown port: ok, now on NoSuchPort:; moved to a known port: ok, now on LPT2:; printers: A,B,C" \
        "unknown port: error 1796; one of two unknown: error 1796; two known: ok; Wine's own CUPS port: ok; moved to an unknown port: error 1796, now on LPT1:,FILE:; moved to a known port: ok, now on LPT2:; printers: C"
}

# DeleteMonitorW of "Local Port" while a printer prints to COM1: and LPT1: (the second of its
# ports): refused, the monitor kept; once the printer is gone it goes.
check_deletemonitor_in_use() {
    e2e_setup adddriver "$E2E_APP_WIN" x64
    e2e_setup addprinter P --port "COM1:,LPT1:"
    e2e_setup_try delmonitor "Local Port"
    e2e_sig "while a printer uses its port: $E2E_OUT"
    if grep -qxF "monitor Local Port | localspl.dll" <<<"$(e2e_inspect monitors)"; then e2e_sig "the monitor: kept"
    else e2e_sig "the monitor: gone"; fi
    e2e_setup delprinter P
    e2e_setup_try delmonitor "Local Port"
    e2e_sig "once the printer is gone: $E2E_OUT"
}

scenario_deviation_deletemonitor_in_use() {  # labels: deviation
    e2e_deviation deviation_deletemonitor_in_use 0006-deletemonitor-in-use.patch check_deletemonitor_in_use \
        "while a printer uses its port: ok; the monitor: gone; once the printer is gone: error 3000" \
        "while a printer uses its port: error 3008; the monitor: kept; once the printer is gone: ok"
}

# AddMonitorW with the module beside the calling program only (setup.exe's folder), then in the
# system folder.
check_addmonitor_system_folder() {
    cp "$(e2e_unix "$E2E_APP_WIN")/mlxmon64.dll" "$(e2e_unix "$E2E_TOOLS_WIN")/"
    e2e_setup_try addmonitor mlxmon64.dll
    e2e_sig "module beside the caller only: $E2E_OUT"
    cp "$(e2e_unix "$E2E_APP_WIN")/mlxmon64.dll" "$(e2e_unix "$E2E_SYSTEM32_WIN")/"
    e2e_setup_try addmonitor mlxmon64.dll
    e2e_sig "module in the system folder: $E2E_OUT"
}

scenario_deviation_addmonitor_system_folder() {  # labels: deviation
    e2e_deviation deviation_addmonitor_system_folder 0007-addmonitor-system-folder.patch \
        check_addmonitor_system_folder \
        "module beside the caller only: ok; module in the system folder: error 3006" \
        "module beside the caller only: error 126; module in the system folder: ok"
}

# DeletePrinterDriverExW with DPD_DELETE_ALL_FILES while a file of the driver is held open
# without sharing its deletion: refused, nothing deleted. Once it is only loaded by another
# process, the driver goes and the loaded file is moved out of the store.
check_deleteprinterdriverex_all_files() {
    local ui="$E2E_DRIVERS_WIN\\x64\\3\\mlxui64.dll"
    e2e_drivers_in_store
    e2e_spawn holder holding "$E2E_TOOLS_WIN\\setup.exe" hold "$ui"
    e2e_setup_try deldriverex "Windows x64" 4
    e2e_sig "a file held open: $E2E_OUT, $(e2e_store_count) files kept, drivers: $(e2e_driver_names "Windows x64")"
    e2e_kill holder
    e2e_spawn loader loaded "$E2E_TOOLS_WIN\\setup.exe" load "$ui"
    e2e_setup_try deldriverex "Windows x64" 4
    e2e_sig "a file loaded: $E2E_OUT, $(e2e_store_count) files kept, drivers: $(e2e_driver_names "Windows x64")"
    e2e_kill loader
}

scenario_deviation_deleteprinterdriverex_all_files() {  # labels: deviation
    e2e_deviation deviation_deleteprinterdriverex_all_files 0008-deleteprinterdriverex-all-files.patch \
        check_deleteprinterdriverex_all_files \
        "a file held open: error 87, 3 files kept, drivers: Marbleleaf Server; a file loaded: error 87, 3 files kept, drivers: Marbleleaf Server" \
        "a file held open: error 3001, 3 files kept, drivers: Marbleleaf Server; a file loaded: ok, 0 files kept, drivers: (none)"
}

# AddPrinterConnection2W, found at run time: exported, and a level other than 1 refused with
# ERROR_INVALID_LEVEL (the installer adds connections back through it; without the export it
# does not load at all).
check_addprinterconnection2() {
    e2e_setup_try connection2 '\\nohost\queue' 2
    e2e_sig "level 2: $E2E_OUT"
}

scenario_deviation_addprinterconnection2() {  # labels: deviation
    e2e_deviation deviation_addprinterconnection2 0009-addprinterconnection2.patch check_addprinterconnection2 \
        "level 2: error missing" \
        "level 2: error 124"
}
