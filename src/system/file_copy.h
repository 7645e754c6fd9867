// Copying product files from the installer's folder, and reading a module's build number.
#pragma once
#include "platform/win32.h"

struct InstallerState;

HANDLE OpenForWriteWithRetry(InstallerState* state, LPCWSTR path);
HRESULT CopyProductFile(InstallerState* state, LPCWSTR targetDir, LPCWSTR fileName, LPWSTR outTargetPath,
                        bool reportErrors);
int GetFileBuildNumber(LPCWSTR path);
