// The driver environment of the run: its name, its module names and the spooler's driver folder.
#pragma once
#include "platform/win32.h"
#include "support/counted_string.h"

struct InstallerState;

// The spooler's driver folder for the environment, with a final backslash; false when the spooler
// can't tell it.
bool QueryDriverDir(LPCWSTR environment, CountedString& driverDir);
void SelectPlatform(InstallerState* state, bool isX64);

// The machine Windows runs on (IMAGE_FILE_MACHINE_...): an x64 program emulated on ARM64 learns
// it only from IsWow64Process2. IMAGE_FILE_MACHINE_UNKNOWN when Windows can't tell.
WORD QueryNativeMachine();
