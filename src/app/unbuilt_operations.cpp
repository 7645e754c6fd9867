// Operations whose subsystems are still being built. Each definition here is removed when its
// real implementation lands; nothing in this file is meant to stay.
#include "app/procedures.h"
#include "probes/probes.h"
#include "tray/tray.h"

bool ProbeDriverCurrent() { return false; }
bool ProbePendingProductFiles() { return false; }
bool ProbeDefaultPrinterIsOther() { return true; }
void CloseHelpWindows() {}
void SetDefaultToProductPrinter() {}
void StopTray() {}
bool RunUninstall(HWND, DWORD* rebootDeletes) {
  *rebootDeletes = 0;
  return false;
}
bool RunReinstall(HWND, DWORD* rebootDeletes) {
  *rebootDeletes = 0;
  return false;
}

// TEMPORARY until the monitor subsystem lands: enough of the monitor inventory for the printer
// creation to log whether the product's monitor is present. Removed when the real one lands.
#include <cstring>
#include "app/installer_state.h"
#include "app/product.h"
#include "monitor/monitor_inventory.h"

void EnumerateMonitors(MonitorInventory* inventory, InstallerState*) {
  inventory->level = 2;
  inventory->buffer = nullptr;
  inventory->count = 0;
  DWORD needed = 0;
  if (EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &inventory->count) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return;
  inventory->buffer = static_cast<LPBYTE>(GlobalAlloc(GMEM_FIXED, needed));
  if (!inventory->buffer) return;
  std::memset(inventory->buffer, 0, needed);
  if (!EnumMonitorsW(nullptr, 2, inventory->buffer, needed, &needed, &inventory->count)) {
    GlobalFree(inventory->buffer);
    inventory->buffer = nullptr;
    inventory->count = 0;
  }
}

int FindProductMonitor(const MonitorInventory* inventory) {
  const MONITOR_INFO_2W* records = reinterpret_cast<const MONITOR_INFO_2W*>(inventory->buffer);
  for (DWORD i = 0; records && i < inventory->count; ++i)
    if (IsProductMonitorName(records[i].pName)) return static_cast<int>(i);
  return -1;
}

void ListMonitors(InstallerState* state, const MonitorInventory* inventory) {
  const MONITOR_INFO_2W* records = reinterpret_cast<const MONITOR_INFO_2W*>(inventory->buffer);
  LogLine(state, TEXT("------- %d existing monitors ----------"), static_cast<int>(inventory->count));
  for (DWORD i = 0; records && i < inventory->count; ++i)
    LogLine(state, TEXT("%d. %s"), static_cast<int>(i + 1), records[i].pName ? records[i].pName : TEXT("***EMPTY***"));
  LogLine(state, TEXT("---------------------------------------"));
}
