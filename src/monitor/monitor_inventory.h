// The port monitors the spooler knows.
#pragma once
#include "platform/win32.h"

struct InstallerState;

struct MonitorInventory {
  LPBYTE buffer;  // MONITOR_INFO_2W records followed by their strings, or null
  DWORD level;
  DWORD count;
};

void EnumerateMonitors(MonitorInventory* inventory, InstallerState* state);
int FindProductMonitor(const MonitorInventory* inventory);
void ListMonitors(InstallerState* state, const MonitorInventory* inventory);
// The module of a monitor record names the product's: its file name as AddMonitorW is given it,
// or that file in the system folder, compared as Windows compares file names.
bool IsProductMonitorModule(const InstallerState* state, LPCWSTR dll);
