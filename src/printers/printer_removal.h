#pragma once
#include "platform/win32.h"

struct InstallerState;

void DeleteAllProductPrinters(InstallerState* state);
bool DeletePrinterByName(InstallerState* state, LPCWSTR name);
BOOL ClosePrinterHandle(HANDLE printer);
