#include "monitor/monitor_install.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "monitor/monitor_inventory.h"
#include "monitor/port_switch.h"
#include "support/counted_string.h"
#include "system/file_copy.h"
#include "system/spooler_service.h"

namespace {
const int kAddMonitorAttempts = 5;
const DWORD kAddMonitorPauseMs = 50;

// After 3006: the monitor registered under the product's name is the product's only when its
// module is; another program's, or an older module name, is logged and refused.
bool ProductMonitorRegistered(InstallerState* state) {
  MonitorInventory monitors;
  EnumerateMonitors(&monitors, state);
  const int index = FindProductMonitor(&monitors);
  LPCWSTR dll = index >= 0 ? reinterpret_cast<const MONITOR_INFO_2W*>(monitors.buffer)[index].pDLLName : nullptr;
  const bool ours = IsProductMonitorModule(state, dll);
  if (!ours)
    LogLine(state, TEXT("AddMonitor - the monitor is registered with another module: %s"),
            (dll && dll[0]) ? dll : TEXT("***EMPTY***"));
  if (monitors.buffer) GlobalFree(monitors.buffer);
  return ours;
}
}  // namespace

void InstallMonitor(InstallerState* state) {
  LogLine(state, TEXT(">AddMonitor"));
  LogSection section(state);
  if (state->copyMonitor) {
    LogLine(state, TEXT("Copy monitor file"));
    WCHAR path[MAX_PATH] = {0};
    if (CopyProductFile(state, Text(state->systemDir), state->monitorFile, path, false) != S_OK) {
      // The running spooler may hold the old module: copy again while it is stopped.
      SpoolerRestart whileStopped(state);
      CopyProductFile(state, Text(state->systemDir), state->monitorFile, path, true);
    }
  } else {
    LogLine(state, TEXT("Skip copy monitor file"));
  }

  MONITOR_INFO_2W monitor = {const_cast<LPWSTR>(PRODUCT_MONITOR_NAME), const_cast<LPWSTR>(state->environment),
                             const_cast<LPWSTR>(state->monitorFile)};
  bool added = false;
  for (int attempt = 1; attempt <= kAddMonitorAttempts && !added; ++attempt) {
    if (attempt > 1) Sleep(kAddMonitorPauseMs);
    added = AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&monitor)) != FALSE;
    if (added) {
      LogLine(state, TEXT("AddMonitor - OK :)"));
    } else if (GetLastError() == ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
      // The monitor that could not be removed is still registered, its port with it: the
      // printers moved to "file:" can go back. A monitor of that name with another module is not
      // ours, and asking again will not make it so.
      if (!ProductMonitorRegistered(state)) {
        SetLastError(ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
        break;
      }
      LogLine(state, TEXT("AddMonitor - monitor is already installed"));
      added = true;
    } else {
      LogLine(state, TEXT("AddMonitor - failed. Trying to wait and install again"));
    }
  }
  if (!added) {
    LogError(state, 11, TEXT("Can`t install a local port monitor'MarbleleafServer:'"));
    return;
  }
  SwitchPrintersBack(state);
}
