// Prints the machine state that an installer run leaves behind, as stable
// text for the scenarios to compare:
//   inspect [monitors|ports|drivers|printers|default|run|pending|tray|all]
//   inspect files <folder> [pattern]     names, sizes and build numbers
#include "common.h"
#include <aclapi.h>
#include <sddl.h>
#include <algorithm>

namespace {

const WCHAR kTrayClass[] = L"mbs::{05759F8E-103D-41B6-8A61-EFAA89516692}";
const char kTrayMutex[] = "{A9CA955A-0A8A-4C32-AAC6-888FB5F83BDC}";

void Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    for (const auto& line : lines) Line(line);
}

void Monitors() {
    std::vector<BYTE> buffer;
    DWORD count = 0;
    if (!Enumerate([](BYTE* b, DWORD s, DWORD* n, DWORD* c) { return EnumMonitorsW(nullptr, 2, b, s, n, c); },
                   buffer, count)) {
        Line("monitors error " + std::to_string(GetLastError()));
        return;
    }
    std::vector<std::string> lines;
    auto* info = reinterpret_cast<MONITOR_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        lines.push_back("monitor " + Utf8(info[i].pName) + " | " + Utf8(info[i].pDLLName));
    if (lines.empty()) Line("monitors (none)");
    Sorted(lines);
}

void Ports() {
    std::vector<BYTE> buffer;
    DWORD count = 0;
    if (!Enumerate([](BYTE* b, DWORD s, DWORD* n, DWORD* c) { return EnumPortsW(nullptr, 2, b, s, n, c); },
                   buffer, count)) {
        Line("ports error " + std::to_string(GetLastError()));
        return;
    }
    std::vector<std::string> lines;
    auto* info = reinterpret_cast<PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        lines.push_back("port " + Utf8(info[i].pPortName) + " | " + Utf8(info[i].pMonitorName) + " | " +
                        Utf8(info[i].pDescription));
    if (lines.empty()) Line("ports (none)");
    Sorted(lines);
}

void Drivers() {
    for (const WCHAR* environment : {L"Windows x64", L"Windows NT x86"}) {
        std::vector<BYTE> buffer;
        DWORD count = 0;
        auto fill = [environment](BYTE* b, DWORD s, DWORD* n, DWORD* c) {
            return EnumPrinterDriversW(nullptr, const_cast<WCHAR*>(environment), 6, b, s, n, c);
        };
        if (!Enumerate(fill, buffer, count)) {
            Line("drivers " + Utf8(environment) + " error " + std::to_string(GetLastError()));
            continue;
        }
        std::vector<std::string> blocks;
        auto* info = reinterpret_cast<DRIVER_INFO_6W*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            std::string block = "driver " + Utf8(environment) + " | " + Utf8(info[i].pName) + "\n";
            block += "  version " + std::to_string(info[i].cVersion) + "\n";
            block += "  driver " + Utf8(info[i].pDriverPath) + "\n";
            block += "  config " + Utf8(info[i].pConfigFile) + "\n";
            block += "  data " + Utf8(info[i].pDataFile) + "\n";
            block += "  help " + Utf8(info[i].pHelpFile);
            for (const WCHAR* file = info[i].pDependentFiles; file != nullptr && *file; file += lstrlenW(file) + 1)
                block += "\n  dependent " + Utf8(file);
            blocks.push_back(block);
        }
        if (blocks.empty()) Line("drivers " + Utf8(environment) + " (none)");
        Sorted(blocks);
    }
}

std::string PrinterData(HANDLE printer) {
    char value[256] = {};
    DWORD type = 0, needed = 0;
    std::string out;
    DWORD status = GetPrinterDataA(printer, const_cast<char*>("SubKey"), &type, reinterpret_cast<BYTE*>(value),
                                   sizeof(value) - 1, &needed);
    out += status == ERROR_SUCCESS ? "  subkey " + std::to_string(type) + " " + value : "  subkey (none)";
    ZeroMemory(value, sizeof(value));
    status = GetPrinterDataExA(printer, "DsUser", "SubKey", &type, reinterpret_cast<BYTE*>(value), sizeof(value) - 1,
                               &needed);
    out += status == ERROR_SUCCESS ? "\n  dsuser " + std::to_string(type) + " " + value : "\n  dsuser (none)";
    return out;
}

void Printers() {
    std::vector<BYTE> buffer;
    DWORD count = 0;
    auto fill = [](BYTE* b, DWORD s, DWORD* n, DWORD* c) {
        return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, b, s, n, c);
    };
    if (!Enumerate(fill, buffer, count)) {
        Line("printers error " + std::to_string(GetLastError()));
        return;
    }
    std::vector<std::string> blocks;
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        const PRINTER_INFO_2W& p = info[i];
        std::string block = "printer " + Utf8(p.pPrinterName) + "\n";
        block += "  port " + Utf8(p.pPortName) + "\n";
        block += "  driver " + Utf8(p.pDriverName) + "\n";
        block += "  comment " + Utf8(p.pComment) + "\n";
        block += "  location " + Utf8(p.pLocation) + "\n";
        block += "  share " + Utf8(p.pShareName) + "\n";
        block += std::string("  shared ") + ((p.Attributes & PRINTER_ATTRIBUTE_SHARED) ? "yes" : "no") + "\n";
        char attributes[32];
        snprintf(attributes, sizeof(attributes), "  attributes 0x%lx\n", p.Attributes);
        block += attributes;
        HANDLE printer = nullptr;
        if (OpenPrinterW(p.pPrinterName, &printer, nullptr)) {
            block += PrinterData(printer);
            ClosePrinter(printer);
        } else {
            block += "  open error " + std::to_string(GetLastError());
        }
        blocks.push_back(block);
    }
    if (blocks.empty()) Line("printers (none)");
    Sorted(blocks);
}

void Default() {
    WCHAR name[512] = {};
    DWORD size = 512;
    Line(GetDefaultPrinterW(name, &size) ? "default " + Utf8(name) : "default (none)");
}

void Run() {
    WCHAR value[1024] = {};
    DWORD size = sizeof(value) - sizeof(WCHAR);
    LONG status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                               L"MarbleleafTray", RRF_RT_ANY, nullptr, value, &size);
    Line(status == ERROR_SUCCESS ? "run " + Utf8(value) : "run (none)");
}

// One pending value as lines "<label> source -> target"; "<label> (none)" when it is missing.
void PendingValue(const wchar_t* name, const std::string& label) {
    std::vector<WCHAR> value(65536);
    DWORD size = static_cast<DWORD>((value.size() - 2) * sizeof(WCHAR));
    LONG status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                               name, RRF_RT_REG_MULTI_SZ | RRF_NOEXPAND, nullptr, value.data(), &size);
    if (status != ERROR_SUCCESS) {
        Line(label + " (none)");
        return;
    }
    const WCHAR* end = value.data() + size / sizeof(WCHAR);
    const WCHAR* at = value.data();
    // Pairs of source and target; an empty target is a deletion. A value whose list starts
    // with an empty string says so: Windows would carry out none of it.
    if (at == end || !*at) Line(label + " (empty)");
    while (at < end && *at) {
        const WCHAR* source = at;
        at += lstrlenW(at) + 1;
        const WCHAR* target = at < end ? at : L"";
        at += lstrlenW(target) + 1;
        Line(label + " " + Utf8(source) + " -> " + (*target ? Utf8(target) : std::string("(delete)")));
    }
}

// Both values that Windows carries out at boot: "pending ..." lines, then "pending2 ..." lines.
void Pending() {
    PendingValue(L"PendingFileRenameOperations", "pending");
    PendingValue(L"PendingFileRenameOperations2", "pending2");
}

void Tray() {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, kTrayMutex);
    if (mutex) CloseHandle(mutex);
    HWND window = FindWindowW(kTrayClass, nullptr);
    Line(std::string("tray mutex ") + (mutex ? "yes" : "no") + " window " + (window ? "yes" : "no"));
}

int BuildNumber(const WCHAR* path) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0) return -1;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path, 0, size, block.data())) return -1;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr) return -1;
    return static_cast<int>(LOWORD(info->dwProductVersionLS));
}

void Files(const std::wstring& folder, const std::wstring& pattern) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        Line("files (none)");
        return;
    }
    std::vector<std::string> lines;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::wstring path = folder + L"\\" + found.cFileName;
        int build = BuildNumber(path.c_str());
        std::string name = Utf8(found.cFileName);
        for (auto& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        lines.push_back("file " + name + " size " + std::to_string(found.nFileSizeLow) +
                        (build >= 0 ? " build " + std::to_string(build) : std::string(" noversion")));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    Sorted(lines);
}

}  // namespace

// The DACL of a file or folder in SDDL: "acl D:P(A;OICI;FA;;;SY)...", or "acl error N".
void Acl(const wchar_t* path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD status = GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                         nullptr, &descriptor);
    LPWSTR text = nullptr;
    if (status == ERROR_SUCCESS && !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                                       descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        status = GetLastError();
    Line(status == ERROR_SUCCESS ? "acl " + Utf8(text) : "acl error " + std::to_string(status));
    if (text) LocalFree(text);
    if (descriptor) LocalFree(descriptor);
}

int wmain(int argc, wchar_t** argv) {
    std::wstring what = argc > 1 ? argv[1] : L"all";
    if (what == L"acl" && argc == 3) {
        Acl(argv[2]);
        return 0;
    }
    if (what == L"files") {
        if (argc < 3) return 2;
        Files(argv[2], argc > 3 ? argv[3] : L"*");
        return 0;
    }
    bool all = what == L"all";
    bool known = false;
    struct { const wchar_t* name; void (*run)(); } sections[] = {
        {L"monitors", Monitors}, {L"ports", Ports},     {L"drivers", Drivers}, {L"printers", Printers},
        {L"default", Default},   {L"run", Run},         {L"pending", Pending}, {L"tray", Tray},
    };
    for (const auto& section : sections) {
        if (all || what == section.name) {
            if (all) Line(std::string("[") + Utf8(section.name) + "]");
            section.run();
            known = true;
        }
    }
    return known ? 0 : 2;
}
