// Acts as the person in front of a setup program.
//   answer <timeout-ms> <text> <button-id>
//       waits for a visible top-level window whose title or any control's text
//       holds <text>, prints "title: ..." and "text: ..." (its static texts),
//       and clicks the button <button-id> (1 OK/Install/Close, 6 Yes, 7 No);
//       exit 0, or 1 on time-out (with the visible windows' titles)
//   answer run <program> [args...]
//       prints "start <command line>", runs the program to its end and prints
//       "exit <code>" in full (Wine's own exit status is only the code modulo 256),
//       or "error <code>" when it could not be started
#include "common.h"

namespace {

struct Search {
    std::wstring text;
    HWND found = nullptr;
};

std::wstring TextOf(HWND window) {
    WCHAR text[1024] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    return text;
}

BOOL CALLBACK VisitChild(HWND child, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    if (IsWindowVisible(child) && TextOf(child).find(search->text) != std::wstring::npos) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK VisitTop(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    if (!IsWindowVisible(window)) return TRUE;
    Search inner{search->text};
    if (TextOf(window).find(search->text) == std::wstring::npos) {
        EnumChildWindows(window, VisitChild, reinterpret_cast<LPARAM>(&inner));
        if (inner.found == nullptr) return TRUE;
    }
    search->found = window;
    return FALSE;
}

BOOL CALLBACK PrintStatic(HWND child, LPARAM) {
    WCHAR name[32] = {};
    GetClassNameW(child, name, 32);
    LONG type = GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK;
    if (IsWindowVisible(child) && lstrcmpiW(name, L"Static") == 0 && type != SS_ICON && type != SS_BITMAP) {
        std::wstring text = TextOf(child);
        if (!text.empty()) Line("text: " + Utf8(text.c_str()));
    }
    return TRUE;
}

BOOL CALLBACK PrintTitle(HWND window, LPARAM) {
    if (IsWindowVisible(window)) Line("visible: " + Utf8(TextOf(window).c_str()));
    return TRUE;
}

int Run(int argc, wchar_t** argv) {
    // The program quoted; the arguments quoted only when they hold a blank (NSIS
    // takes /S only unquoted).
    std::wstring command = std::wstring(L"\"") + argv[2] + L"\"";
    for (int i = 3; i < argc; ++i) {
        std::wstring argument = argv[i];
        command += argument.find(L' ') == std::wstring::npos ? L" " + argument : L" \"" + argument + L"\"";
    }
    // Printed first: a run that printed nothing never started the program.
    Line("start " + Utf8(command.c_str()));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        Line("error " + std::to_string(GetLastError()));
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    Line("exit " + std::to_string(code));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 2 && lstrcmpW(argv[1], L"run") == 0) return Run(argc, argv);
    if (argc != 4) {
        Line("usage: answer <timeout-ms> <text> <button-id> | answer run <program> [args...]");
        return 2;
    }
    DWORD timeout = static_cast<DWORD>(_wtoi(argv[1]));
    Search search{argv[2]};
    int button = _wtoi(argv[3]);
    DWORD start = GetTickCount();
    for (;;) {
        search.found = nullptr;
        EnumWindows(VisitTop, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) break;
        if (GetTickCount() - start > timeout) {
            Line("no window with '" + Utf8(search.text.c_str()) + "'");
            EnumWindows(PrintTitle, 0);
            return 1;
        }
        Sleep(50);
    }
    Sleep(200);  // the dialog finishes its set-up before it is read and answered
    Line("title: " + Utf8(TextOf(search.found).c_str()));
    EnumChildWindows(search.found, PrintStatic, 0);
    HWND control = GetDlgItem(search.found, button);
    PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    return 0;
}
