// The driver environment of the run: its name, its module names and the spooler's driver folder.
#pragma once
#include "platform/win32.h"
#include "support/counted_string.h"

struct InstallerState;

// The spooler's driver folder for the environment, with a final backslash; false when the spooler
// can't tell it.
bool QueryDriverDir(LPCWSTR environment, CountedString& driverDir);
void SelectPlatform(InstallerState* state, bool isX64);
