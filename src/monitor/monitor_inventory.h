// The port monitors the spooler knows, and writing back a printer whose port was switched.
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

// Opens the printer that a switched inventory record names and writes the whole level-2 record,
// port text included, back to the spooler; logs the outcome with informative lines.
void WritePrinterRecord(InstallerState* state, PRINTER_INFO_2W* record);
