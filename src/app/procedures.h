// The two runs: uninstall and reinstall, each with its own state, log and reboot hand-over.
#pragma once
#include "platform/win32.h"

struct InstallerState;

bool RunUninstall(HWND parentWindow, DWORD* rebootDeletes);
bool RunReinstall(HWND parentWindow, DWORD* rebootDeletes);
