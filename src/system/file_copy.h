// Copying product files from the installer's folder, reading a module's build number, and checking
// beforehand that every file to copy is there and of this installer's build.
#pragma once
#include "platform/win32.h"
#include "support/counted_string.h"

struct InstallerState;

HANDLE OpenForWriteWithRetry(InstallerState* state, LPCWSTR path);
HRESULT CopyProductFile(InstallerState* state, LPCWSTR targetDir, LPCWSTR fileName, LPWSTR outTargetPath,
                        bool reportErrors);
int GetFileBuildNumber(LPCWSTR path);

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
