// The uninstall and reinstall procedures and the two run functions.
#pragma once
#include "platform/win32.h"

struct InstallerState;

void UninstallAllPlatforms(InstallerState* state);
void UninstallProduct(InstallerState* state);
void UninstallAndPurge(InstallerState* state);
bool RunUninstall(HWND parentWindow, DWORD* rebootDeletes);
void Reinstall(InstallerState* state);
bool RunReinstall(HWND parentWindow, DWORD* rebootDeletes);
