// The tray companion. While it runs it holds the named mutex and owns a window
// of the companion class; message WM_USER + 2 asks it to exit.
//
// For tests, a file "mbltray.behaviour" beside the program changes how it
// answers the exit request:
//   slow <ms>   closes its window at once but keeps the mutex <ms> longer
//   never       ignores the request
// Without the file it exits at once.
// The names it shares with the installer, first: they bring <windows.h> with them.
#include "tray/tray_protocol.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kMutexName[] = TRAY_MUTEX_NAME;
const WCHAR kClassName[] = TRAY_WINDOW_CLASS;
const UINT kExitMessage = kTrayExitMessage;

enum class Behaviour { Normal, Slow, Never };

struct Settings {
    Behaviour behaviour = Behaviour::Normal;
    DWORD delayMs = 0;
};

Settings g_settings;

Settings ReadSettings() {
    Settings settings;
    char path[MAX_PATH + 32];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return settings;
    char* slash = strrchr(path, '\\');
    if (slash == nullptr) return settings;
    lstrcpyA(slash + 1, "mbltray.behaviour");

    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return settings;
    char text[64] = {};
    DWORD read = 0;
    ReadFile(file, text, sizeof(text) - 1, &read, nullptr);
    CloseHandle(file);
    text[read] = 0;
    if (strncmp(text, "never", 5) == 0) {
        settings.behaviour = Behaviour::Never;
    } else if (strncmp(text, "slow", 4) == 0) {
        settings.behaviour = Behaviour::Slow;
        settings.delayMs = (DWORD)strtoul(text + 4, nullptr, 10);
    }
    return settings;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kExitMessage:
        if (g_settings.behaviour != Behaviour::Never) DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, kMutexName);
    if (mutex == nullptr) return 1;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);  // another companion runs already
        return 0;
    }
    g_settings = ReadSettings();

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassW(&windowClass)) return 2;
    // A hidden top-level window: FindWindow does not see message-only windows.
    HWND window = CreateWindowExW(0, kClassName, L"Marbleleaf", WS_OVERLAPPED, 0, 0, 0, 0,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 3;

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (g_settings.behaviour == Behaviour::Slow) Sleep(g_settings.delayMs);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}
