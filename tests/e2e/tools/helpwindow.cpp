// Plays an open product help window: class "HH Parent", title "Marbleleaf Help".
//   helpwindow [stubborn]    stubborn ignores SC_CLOSE
#include "common.h"

namespace {
bool g_stubborn = false;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE && g_stubborn) return 0;
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    g_stubborn = argc > 1 && lstrcmpW(argv[1], L"stubborn") == 0;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"HH Parent";
    if (!RegisterClassW(&windowClass)) return 1;
    HWND window = CreateWindowExW(0, L"HH Parent", L"Marbleleaf Help", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) return 1;
    Line("open");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    Line("closed");
    return 0;
}
