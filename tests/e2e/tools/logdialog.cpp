// Reads the installer's log dialog as a person would see it, then closes it:
// waits for a visible window with the edit control 1001 and a "Close" button,
// prints its title and the text of 1001, and posts WM_COMMAND IDOK.
//   logdialog [timeout-ms] [--keep]   exit 0 when read (and closed unless --keep), 1 on time-out
#include "common.h"

namespace {

struct Found {
    HWND dialog = nullptr;
};

bool HasCloseButton(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        WCHAR text[64] = {};
        GetWindowTextW(child, text, 64);
        if (lstrcmpiW(text, L"Close") == 0 || lstrcmpiW(text, L"&Close") == 0) return true;
    }
    return false;
}

BOOL CALLBACK Visit(HWND window, LPARAM context) {
    if (!IsWindowVisible(window) || GetDlgItem(window, 1001) == nullptr || !HasCloseButton(window)) return TRUE;
    reinterpret_cast<Found*>(context)->dialog = window;
    return FALSE;
}

std::string WindowText(HWND window) {
    LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::vector<WCHAR> text(static_cast<size_t>(length) + 1, 0);
    SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return Utf8(text.data());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD timeout = argc > 1 ? static_cast<DWORD>(_wtoi(argv[1])) : 30000;
    DWORD start = GetTickCount();
    Found found;
    while (found.dialog == nullptr) {
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&found));
        if (found.dialog != nullptr) break;
        if (GetTickCount() - start > timeout) {
            Line("no log dialog");
            return 1;
        }
        Sleep(50);
    }
    Sleep(100);  // let the dialog finish WM_INITDIALOG before reading
    Line("title: " + WindowText(found.dialog));
    Line("text:");
    std::string text = WindowText(GetDlgItem(found.dialog, 1001));
    std::string line;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            Line(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) Line(line);
    bool keep = argc > 2 && lstrcmpW(argv[2], L"--keep") == 0;
    if (!keep) PostMessageW(found.dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return 0;
}
