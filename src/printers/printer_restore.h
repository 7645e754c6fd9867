// Adding the product's printers back after a reinstall, with what was saved of each.
#pragma once
#include "platform/win32.h"

struct InstallerState;

// `afterDeletion`: this run deleted a printer of that name, so a name still taken is one whose
// deletion is pending; a spooler restart completes it and the printer is added once more.
HANDLE AddProductPrinter(InstallerState* state, LPCWSTR name, bool afterDeletion = false);
void RestorePrinters(InstallerState* state);
