// Rewrites the pending file operations the way Windows 10 from build 19045.6218 and Windows 11
// write them, which Wine does not: every source "\??\..." becomes "*1\??\...", and the pairs move
// into PendingFileRenameOperations2. PendingFileRenameOperations then holds only another
// program's marked pending delete of <other-file> (the file is created when missing), written
// first, so that the installer meets both values and both programs' entries.
//   currentform <other-file>
#include <string>
#include <vector>

#include "common.h"

namespace {
const wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// The pairs of the value as strings, source then target (empty for a delete), up to an empty
// source or the end of the data.
std::vector<std::wstring> Pairs(const std::vector<WCHAR>& block, DWORD bytes) {
    std::vector<std::wstring> strings;
    const WCHAR* at = block.data();
    const WCHAR* end = block.data() + bytes / sizeof(WCHAR);
    while (at < end && *at) {
        strings.emplace_back(at);
        at += lstrlenW(at) + 1;
        strings.emplace_back(at < end ? at : L"");
        at += at < end ? lstrlenW(at) + 1 : 1;
    }
    return strings;
}

LONG Write(HKEY key, const wchar_t* name, const std::vector<std::wstring>& strings) {
    std::vector<WCHAR> block;
    for (const std::wstring& s : strings) {
        block.insert(block.end(), s.begin(), s.end());
        block.push_back(0);
    }
    block.push_back(0);
    return RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(block.data()),
                          static_cast<DWORD>(block.size() * sizeof(WCHAR)));
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        Line("usage: currentform <other-file>");
        return 2;
    }
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS) {
        Line("open " + std::to_string(status));
        return 1;
    }
    std::vector<WCHAR> block(65536);
    DWORD bytes = static_cast<DWORD>((block.size() - 2) * sizeof(WCHAR));
    DWORD type = 0;
    status = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(block.data()),
                              &bytes);
    if (status != ERROR_SUCCESS || type != REG_MULTI_SZ) {
        Line("read " + std::to_string(status));
        RegCloseKey(key);
        return 1;
    }
    std::vector<std::wstring> moved = Pairs(block, bytes);
    for (size_t i = 0; i < moved.size(); i += 2)
        if (moved[i].compare(0, 4, L"\\??\\") == 0) moved[i] = L"*1" + moved[i];

    HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    status = Write(key, L"PendingFileRenameOperations", {L"*1\\??\\" + std::wstring(argv[1]), L""});
    if (status == ERROR_SUCCESS) status = Write(key, L"PendingFileRenameOperations2", moved);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        Line("write " + std::to_string(status));
        return 1;
    }
    for (const std::wstring& s : moved) Line("moved " + Utf8(s.c_str()));
    return 0;
}
