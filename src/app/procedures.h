// The uninstall and reinstall procedures and the two run functions.
#pragma once
#include "platform/win32.h"

struct InstallerState;

void UninstallAllPlatforms(InstallerState* state);
void UninstallProduct(InstallerState* state);
void UninstallAndPurge(InstallerState* state);
// The run functions: one run at a time on the machine (RunLock); logFile, when not null, receives
// the log instead of the dialog.
bool RunUninstall(HWND parentWindow, DWORD* rebootDeletes, LPCWSTR logFile = nullptr);
void Reinstall(InstallerState* state);
bool RunReinstall(HWND parentWindow, DWORD* rebootDeletes, LPCWSTR logFile = nullptr);
