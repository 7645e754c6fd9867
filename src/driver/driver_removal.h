// The product driver among the spooler's drivers of an environment, and removing it.
#pragma once
#include "platform/win32.h"

struct InstallerState;

struct DriverInventory {
  LPBYTE buffer;  // DRIVER_INFO_n records of `level` followed by their strings, or null
  DWORD level;
  DWORD count;
};

void EnumerateDrivers(DriverInventory* inventory, LPCWSTR environment);
int FindProductDriver(const DriverInventory* inventory);
void RemoveDriver(InstallerState* state, const DriverInventory* inventory);
