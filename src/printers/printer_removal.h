// Deleting the product's printers and connections, each saved first so that a reinstall brings it back.
#pragma once
#include "platform/win32.h"

struct InstallerState;

void DeleteAllProductPrinters(InstallerState* state);
bool DeletePrinterByName(InstallerState* state, LPCWSTR name);
BOOL ClosePrinterHandle(HANDLE printer);
