// The two runs: uninstall and reinstall, each with its own state, log and reboot hand-over.
#pragma once
#include "platform/win32.h"

struct InstallerState;

// The run functions: one run at a time on the machine (RunLock); logFile, when not null, receives
// the log instead of the dialog.
bool RunUninstall(HWND parentWindow, DWORD* rebootDeletes, LPCWSTR logFile = nullptr);
bool RunReinstall(HWND parentWindow, DWORD* rebootDeletes, LPCWSTR logFile = nullptr);
