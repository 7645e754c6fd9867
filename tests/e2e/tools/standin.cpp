// A stand-in for install.exe inside a setup program under test: answers each
// verb with a chosen exit code and records how it was called.
//   C:\e2e\standin\codes.txt   lines "<verb> <code>"; a verb without a line gets
//                              the code of a clean machine (onInit 3, removetray 6,
//                              install 1, onChkDrv 103, def.set 4, un 2)
//   C:\e2e\standin\calls.txt   one line per call: the verb, then "window <title>"
//                              when a third argument names a window, "window none"
//                              when it names none, "log" when it is /LOG=<file>
//                              (the stand-in then writes a two-line log there, as
//                              install.exe does: UTF-16LE with a byte-order mark)
#include "common.h"

namespace {

const wchar_t kFolder[] = L"C:\\e2e\\standin\\";

int DefaultCode(const std::wstring& verb) {
    if (verb == L"onInit") return 3;
    if (verb == L"install") return 1;
    if (verb == L"onChkDrv") return 103;
    if (verb == L"def.set") return 4;
    if (verb == L"un") return 2;
    return 6;
}

int ChosenCode(const std::wstring& verb) {
    FILE* codes = _wfopen((std::wstring(kFolder) + L"codes.txt").c_str(), L"r");
    int code = DefaultCode(verb);
    if (codes == nullptr) return code;
    char name[64];
    int value;
    while (fscanf(codes, "%63s %d", name, &value) == 2) {
        if (Wide(name) == verb) code = value;
    }
    fclose(codes);
    return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring verb = argc > 1 ? argv[1] : L"";
    std::string line = Utf8(verb.c_str());
    if (argc > 2 && _wcsnicmp(argv[2], L"/LOG=", 5) == 0) {
        line += " log";
        FILE* log = _wfopen(argv[2] + 5, L"wb");
        if (log != nullptr) {
            const std::wstring text = L"\xFEFFstand-in install.exe\r\nverb " + verb + L"\r\n";
            fwrite(text.data(), sizeof(wchar_t), text.size(), log);
            fclose(log);
        }
    } else if (argc > 2) {
        HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(_wtol(argv[2])));
        WCHAR title[128] = {};
        if (IsWindow(window)) {
            GetWindowTextW(window, title, 128);
            line += " window " + Utf8(title);
        } else {
            line += " window none";
        }
    }
    FILE* calls = _wfopen((std::wstring(kFolder) + L"calls.txt").c_str(), L"a");
    if (calls != nullptr) {
        fprintf(calls, "%s\n", line.c_str());
        fclose(calls);
    }
    return ChosenCode(verb);
}
