// The unattended side of a deployment, for the end-to-end scenarios.
//   run <program> [arguments...]   runs the program in a window station of its own that is not
//                                  visible (as a service's is), waits for it and exits with its code
//   source                         prints the registration of the event source "Marbleleaf Install":
//                                  "file <EventMessageFile>" and "types <TypesSupported>"
//   message <id> <text>            prints "message <description>": event <id> with <text> as its
//                                  one insertion string, formatted from the registered message file
//                                  as Event Viewer formats it
#include "common.h"

namespace {

const wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Marbleleaf Install";

int CmdRun(int argc, wchar_t** argv) {
    std::wstring command;
    for (int i = 2; i < argc; ++i) {
        if (i > 2) command += L' ';
        command += L'"' + std::wstring(argv[i]) + L'"';
    }
    HWINSTA station = CreateWindowStationW(L"MarbleleafUnattended", 0, WINSTA_ALL_ACCESS, nullptr);
    if (!station) {
        Line("error CreateWindowStationW " + std::to_string(GetLastError()));
        return 255;
    }
    HWINSTA own = GetProcessWindowStation();
    SetProcessWindowStation(station);
    HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(own);
    if (!desktop) {
        Line("error CreateDesktopW " + std::to_string(GetLastError()));
        return 255;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.lpDesktop = const_cast<LPWSTR>(L"MarbleleafUnattended\\Default");
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        Line("error CreateProcessW " + std::to_string(GetLastError()));
        return 255;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 255;
    GetExitCodeProcess(process.hProcess, &code);
    Line("exit " + std::to_string(code));
    return static_cast<int>(code);
}

bool ReadSource(std::wstring& file, DWORD& types) {
    WCHAR path[MAX_PATH] = L"";
    DWORD size = sizeof(path);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSourceKey, L"EventMessageFile", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ |
                     RRF_NOEXPAND, nullptr, path, &size) != ERROR_SUCCESS) {
        return false;
    }
    file = path;
    size = sizeof(types);
    return RegGetValueW(HKEY_LOCAL_MACHINE, kSourceKey, L"TypesSupported", RRF_RT_REG_DWORD, nullptr, &types,
                        &size) == ERROR_SUCCESS;
}

int CmdSource() {
    std::wstring file;
    DWORD types = 0;
    if (!ReadSource(file, types)) {
        Line("source (none)");
        return 1;
    }
    Line("file " + Utf8(file.c_str()));
    Line("types " + std::to_string(types));
    return 0;
}

int CmdMessage(const wchar_t* id, const wchar_t* text) {
    std::wstring file;
    DWORD types = 0;
    if (!ReadSource(file, types)) {
        Line("source (none)");
        return 1;
    }
    HMODULE messages = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!messages) {
        Line("error LoadLibraryExW " + std::to_string(GetLastError()));
        return 1;
    }
    DWORD_PTR inserts[1] = {reinterpret_cast<DWORD_PTR>(text)};
    LPWSTR description = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                      FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                  messages, static_cast<DWORD>(_wtoi(id)), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                  reinterpret_cast<LPWSTR>(&description), 0, reinterpret_cast<va_list*>(inserts));
    if (length == 0) {
        Line("error FormatMessageW " + std::to_string(GetLastError()));
        return 1;
    }
    Line("message " + Utf8(description));
    LocalFree(description);
    FreeLibrary(messages);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"run" && argc > 2) return CmdRun(argc, argv);
    if (command == L"source") return CmdSource();
    if (command == L"message" && argc == 4) return CmdMessage(argv[2], argv[3]);
    Line("usage: unattended run <program> [arguments] | source | message <id> <text>");
    return 2;
}
