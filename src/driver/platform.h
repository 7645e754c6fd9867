// The driver environment of the run, and installing the product driver into it.
#pragma once
#include "platform/win32.h"
#include "support/counted_string.h"

struct InstallerState;

// The spooler's driver folder for the environment, with a final backslash; false when the spooler
// can't tell it.
bool QueryDriverDir(LPCWSTR environment, CountedString& driverDir);
void SelectPlatform(InstallerState* state, bool isX64);
void InstallDriver(InstallerState* state);
bool AddProductDriver(DRIVER_INFO_6W* driverInfo);

// The machine Windows runs on (IMAGE_FILE_MACHINE_...): an x64 program emulated on ARM64 learns
// it only from IsWow64Process2. IMAGE_FILE_MACHINE_UNKNOWN when Windows can't tell.
WORD QueryNativeMachine();

// A product file in the installer's folder that the installation could not use.
struct UnusableProductFile {
  LPCWSTR file;
  bool missing;  // not there, or unreadable: `error` tells which
  DWORD error;
  int build;     // when present: the module's build, -1 when it has none
};
// The first file that an install copies from `folder` (the modules of both environments, the help
// file) that is not there or belongs to another build than this installer's; false when every
// one is there and of this build.
bool FindUnusableProductFile(const CountedString& folder, UnusableProductFile* found);
