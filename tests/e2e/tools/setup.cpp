// Prepares a scenario's machine, as an earlier installation or the user would
// have left it. Each command prints "ok" or "error <code>" and exits 0 or 1.
//   addmonitor <dll>                       registers "MarbleleafServer:"
//   delmonitor [name]                      DeleteMonitorW of "MarbleleafServer:" (or name)
//   adddriver <folder> <x64|x86> [name] [prefix]
//                                          "Marbleleaf Server" (or name) from a layout's app folder,
//                                          its files <prefix>drv64.dll ... (default prefix "mlx")
//   addprinter <name> [--driver D] [--port P] [--comment C] [--location L]
//              [--share S] [--subkey K] [--dsuser K] [--datatype T|-] [--default]
//   setdefault <name>
//   setkey <printer> <key>                 the printer's settings key ("SubKey" printer data)
//   deldriver <environment>                DeletePrinterDriverW: the registration only
//   deldriverex <environment> <flags> [name]  DeletePrinterDriverExW with these delete flags
//   delprinter <name>
//   setport <printer> <port>               SetPrinterW level 2 with only the port changed
//   pending <source> [target]              MoveFileEx at reboot; no target deletes
//   hold <path>                            opens without FILE_SHARE_DELETE, stays alive
//   load <dll>                             loads a module, stays alive
//   print <printer> <text>                 sends a RAW job
//   trayexit                               posts the exit message to the companion
//   connection2 <name> <level>             AddPrinterConnection2W without UI, found at run time
//                                          ("error missing" when winspool.drv lacks it)
#include "common.h"
#include <map>
#include <vector>

namespace {

int Report(BOOL ok) {
    if (ok) {
        Line("ok");
        return 0;
    }
    Line("error " + std::to_string(GetLastError()));
    return 1;
}

void StayAlive(const char* what) {
    Line(what);  // the harness waits for this line before it goes on
    for (;;) Sleep(60000);
}

int CmdAddMonitor(const wchar_t* dll) {
    MONITOR_INFO_2W info = {};
    info.pName = const_cast<WCHAR*>(L"MarbleleafServer:");
    info.pEnvironment = const_cast<WCHAR*>(L"Windows x64");
    info.pDLLName = const_cast<WCHAR*>(dll);
    return Report(AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&info)));
}

int CmdAddDriver(const std::wstring& folder, const std::wstring& platform, const wchar_t* name,
                 const std::wstring& prefix) {
    bool x64 = platform == L"x64";
    std::wstring suffix = x64 ? L"64.dll" : L"32.dll";
    std::wstring driver = folder + L"\\" + prefix + L"drv" + suffix;
    std::wstring ui = folder + L"\\" + prefix + L"ui" + suffix;
    std::wstring help = folder + L"\\" + prefix + L"help.chm";
    DRIVER_INFO_6W info = {};
    info.cVersion = 3;
    info.pName = const_cast<WCHAR*>(name);
    info.pEnvironment = const_cast<WCHAR*>(x64 ? L"Windows x64" : L"Windows NT x86");
    info.pDriverPath = &driver[0];
    info.pDataFile = &driver[0];
    info.pConfigFile = &ui[0];
    info.pHelpFile = &help[0];
    return Report(AddPrinterDriverExW(nullptr, 6, reinterpret_cast<BYTE*>(&info), APD_COPY_ALL_FILES));
}

int CmdAddPrinter(int argc, wchar_t** argv) {
    std::wstring name = argv[2];
    std::map<std::wstring, std::wstring> options = {{L"--driver", L"Marbleleaf Server"},
                                                    {L"--port", L"MarbleleafServer:"}};
    bool makeDefault = false;
    for (int i = 3; i < argc; ++i) {
        std::wstring option = argv[i];
        if (option == L"--default") {
            makeDefault = true;
        } else if (i + 1 < argc) {
            options[option] = argv[++i];
        } else {
            Line("missing value of " + Utf8(argv[i]));
            return 2;
        }
    }
    auto text = [&options](const wchar_t* key) -> WCHAR* {
        auto found = options.find(key);
        return found == options.end() ? nullptr : &found->second[0];
    };
    PRINTER_INFO_2W info = {};
    info.pPrinterName = &name[0];
    info.pPortName = text(L"--port");
    info.pDriverName = text(L"--driver");
    info.pComment = text(L"--comment");
    info.pLocation = text(L"--location");
    info.pShareName = text(L"--share");
    info.pPrintProcessor = const_cast<WCHAR*>(L"WinPrint");
    // RAW unless told otherwise ("--datatype -" passes none, as the installer
    // does; Debian's own Wine refuses that, see WINE-NOTES.md).
    std::wstring datatype = options.count(L"--datatype") ? options[L"--datatype"] : L"RAW";
    info.pDatatype = datatype == L"-" ? nullptr : &datatype[0];
    if (info.pShareName) info.Attributes |= PRINTER_ATTRIBUTE_SHARED;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (printer == nullptr) return Report(FALSE);
    DWORD status = ERROR_SUCCESS;
    std::string subkey = Utf8(text(L"--subkey") ? text(L"--subkey") : L"");
    std::string dsuser = Utf8(text(L"--dsuser") ? text(L"--dsuser") : L"");
    if (text(L"--subkey"))
        status = SetPrinterDataA(printer, const_cast<char*>("SubKey"), REG_SZ,
                                 reinterpret_cast<BYTE*>(&subkey[0]), static_cast<DWORD>(subkey.size() + 1));
    if (status == ERROR_SUCCESS && text(L"--dsuser"))
        status = SetPrinterDataExA(printer, "DsUser", "SubKey", REG_SZ, reinterpret_cast<BYTE*>(&dsuser[0]),
                                   static_cast<DWORD>(dsuser.size() + 1));
    ClosePrinter(printer);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return Report(FALSE);
    }
    return Report(!makeDefault || SetDefaultPrinterW(name.c_str()));
}

int CmdSetPort(wchar_t* printerName, wchar_t* port) {
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(printerName, &printer, &access)) return Report(FALSE);
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : 1);
    BOOL ok = needed && GetPrinterW(printer, 2, buffer.data(), needed, &needed);
    if (ok) {
        auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
        info->pPortName = port;
        info->pSecurityDescriptor = nullptr;
        ok = SetPrinterW(printer, 2, buffer.data(), 0);
    }
    DWORD error = GetLastError();
    ClosePrinter(printer);
    SetLastError(error);
    return Report(ok);
}

int CmdSetKey(wchar_t* printerName, const wchar_t* key) {
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(printerName, &printer, &access)) return Report(FALSE);
    std::string value = Utf8(key);
    DWORD status = SetPrinterDataA(printer, const_cast<char*>("SubKey"), REG_SZ, reinterpret_cast<BYTE*>(&value[0]),
                                   static_cast<DWORD>(value.size() + 1));
    ClosePrinter(printer);
    SetLastError(status);
    return Report(status == ERROR_SUCCESS);
}

int CmdPending(const wchar_t* source, const wchar_t* target) {
    return Report(MoveFileExW(source, target, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
}

int CmdHold(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return Report(FALSE);
    StayAlive("holding");
    return 0;
}

int CmdLoad(const wchar_t* dll) {
    if (LoadLibraryW(dll) == nullptr) return Report(FALSE);
    StayAlive("loaded");
    return 0;
}

int CmdPrint(const wchar_t* printerName, const wchar_t* text) {
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<WCHAR*>(printerName), &printer, nullptr)) return Report(FALSE);
    DOC_INFO_1W document = {};
    document.pDocName = const_cast<WCHAR*>(L"e2e job");
    document.pDatatype = const_cast<WCHAR*>(L"RAW");
    DWORD job = StartDocPrinterW(printer, 1, reinterpret_cast<BYTE*>(&document));
    if (job == 0) {
        DWORD error = GetLastError();
        ClosePrinter(printer);
        SetLastError(error);
        return Report(FALSE);
    }
    std::string bytes = Utf8(text);
    DWORD written = 0;
    BOOL ok = StartPagePrinter(printer) &&
              WritePrinter(printer, &bytes[0], static_cast<DWORD>(bytes.size()), &written) &&
              written == bytes.size() && EndPagePrinter(printer);
    DWORD error = GetLastError();
    ok = EndDocPrinter(printer) && ok;
    ClosePrinter(printer);
    if (!ok) SetLastError(error);
    if (ok) Line("job " + std::to_string(job));
    return Report(ok);
}

int CmdTrayExit() {
    HWND window = FindWindowW(L"mbs::{05759F8E-103D-41B6-8A61-EFAA89516692}", nullptr);
    if (window == nullptr) {
        SetLastError(ERROR_NOT_FOUND);
        return Report(FALSE);
    }
    return Report(PostMessageW(window, WM_USER + 2, 0, 0));
}

// Looked up at run time, so that this tool still loads where winspool.drv lacks the export.
int CmdConnection2(const wchar_t* name, const wchar_t* level) {
    using AddConnection2 = BOOL(WINAPI*)(HWND, LPCWSTR, DWORD, PVOID);
    HMODULE winspool = LoadLibraryW(L"winspool.drv");
    auto add = winspool ? reinterpret_cast<AddConnection2>(
                              reinterpret_cast<void*>(GetProcAddress(winspool, "AddPrinterConnection2W")))
                        : nullptr;
    if (add == nullptr) {
        Line("error missing");
        return 1;
    }
    PRINTER_CONNECTION_INFO_1 info = {PRINTER_CONNECTION_NO_UI, nullptr};
    return Report(add(nullptr, name, static_cast<DWORD>(wcstoul(level, nullptr, 0)), &info));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"addmonitor" && argc == 3) return CmdAddMonitor(argv[2]);
    if (command == L"delmonitor" && (argc == 2 || argc == 3))
        return Report(DeleteMonitorW(nullptr, const_cast<WCHAR*>(L"Windows x64"),
                                     argc == 3 ? argv[2] : const_cast<WCHAR*>(L"MarbleleafServer:")));
    if (command == L"setport" && argc == 4) return CmdSetPort(argv[2], argv[3]);
    if (command == L"adddriver" && argc >= 4 && argc <= 6)
        return CmdAddDriver(argv[2], argv[3], argc >= 5 ? argv[4] : L"Marbleleaf Server", argc == 6 ? argv[5] : L"mlx");
    if (command == L"addprinter" && argc >= 3) return CmdAddPrinter(argc, argv);
    if (command == L"setdefault" && argc == 3) return Report(SetDefaultPrinterW(argv[2]));
    if (command == L"setkey" && argc == 4) return CmdSetKey(argv[2], argv[3]);
    if (command == L"pending" && (argc == 3 || argc == 4)) return CmdPending(argv[2], argc == 4 ? argv[3] : nullptr);
    if (command == L"deldriver" && argc == 3)  // the registration only: flags 0
        return Report(DeletePrinterDriverW(nullptr, argv[2], const_cast<WCHAR*>(L"Marbleleaf Server")));
    if (command == L"deldriverex" && (argc == 4 || argc == 5))  // with delete flags, as the installer deletes
        return Report(DeletePrinterDriverExW(nullptr, argv[2], const_cast<WCHAR*>(argc == 5 ? argv[4] : L"Marbleleaf Server"),
                                             static_cast<DWORD>(wcstoul(argv[3], nullptr, 0)), 0));
    if (command == L"delprinter" && argc == 3) {
        HANDLE printer = nullptr;
        PRINTER_DEFAULTSW access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        if (!OpenPrinterW(argv[2], &printer, &access)) return Report(FALSE);
        BOOL deleted = DeletePrinter(printer);
        DWORD error = GetLastError();
        ClosePrinter(printer);
        SetLastError(error);
        return Report(deleted);
    }
    if (command == L"hold" && argc == 3) return CmdHold(argv[2]);
    if (command == L"load" && argc == 3) return CmdLoad(argv[2]);
    if (command == L"print" && argc == 4) return CmdPrint(argv[2], argv[3]);
    if (command == L"trayexit" && argc == 2) return CmdTrayExit();
    if (command == L"connection2" && argc == 4) return CmdConnection2(argv[2], argv[3]);
    Line("usage: setup addmonitor|adddriver|addprinter|setdefault|pending|hold|load|print|trayexit ...");
    return 2;
}
