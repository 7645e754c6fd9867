#pragma once
#include "platform/win32.h"

struct InstallerState;

HANDLE AddProductPrinter(InstallerState* state, LPCWSTR name);
void RestorePrinters(InstallerState* state);
