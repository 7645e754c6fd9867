// The tray companion: ask it to exit and remove it; register and start it.
#pragma once

#include "platform/win32.h"
#include "support/counted_string.h"

struct InstallerState;

// keepFile: the program file that a reinstall is about to start again; it is not deleted when
// the Run value names it. Null for "removetray" and uninstall runs.
void StopTray(LPCWSTR keepFile = nullptr);
void RegisterAndStartTray(InstallerState* state);
// The companion's path: "mbltray.exe" in the parent folder of the installer's folder.
CountedString TrayProgramPath(const InstallerState* state);
CountedString TrayProgramPath(const CountedString& installerDir);
