#include "monitor/monitor_inventory.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "monitor/port_switch.h"
#include "support/ascii_text.h"
#include "support/counted_string.h"
#include "system/file_copy.h"
#include "system/spooler_calls.h"
#include "system/spooler_service.h"

namespace {
const int kAddMonitorAttempts = 5;
const DWORD kAddMonitorPauseMs = 50;

LPCWSTR MonitorName(const MonitorInventory* inventory, DWORD index) {
  if (inventory->level == 1) return reinterpret_cast<const MONITOR_INFO_1W*>(inventory->buffer)[index].pName;
  if (inventory->level == 2) return reinterpret_cast<const MONITOR_INFO_2W*>(inventory->buffer)[index].pName;
  return nullptr;
}

// Logs an enumeration failure with the system's text for the error as Windows gives it, line
// break included.
void LogEnumFailure(InstallerState* state, LPCWSTR format, DWORD code) {
  LPWSTR text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                     nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<LPWSTR>(&text), 0,
                     nullptr);
  LogLine(state, format, (length && text) ? text : TEXT("No Error or no description"));
  if (text) LocalFree(text);
}

// The module of a monitor record names the product's: its file name as AddMonitorW is given it,
// or that file in the system folder, compared as Windows compares file names.
bool IsProductModule(const InstallerState* state, LPCWSTR dll) {
  if (!dll || !state->monitorFile) return false;
  if (EqualsAsciiNoCase(dll, state->monitorFile)) return true;
  CountedString path = Copy(state->systemDir);
  Append(path, state->monitorFile);
  const bool same = EqualsAsciiNoCase(dll, Text(path));
  Release(path);
  return same;
}

// After 3006: the monitor registered under the product's name is the product's only when its
// module is; another program's, or an older module name, is logged and refused.
bool ProductMonitorRegistered(InstallerState* state) {
  MonitorInventory monitors;
  EnumerateMonitors(&monitors, state);
  const int index = FindProductMonitor(&monitors);
  LPCWSTR dll = index >= 0 ? reinterpret_cast<const MONITOR_INFO_2W*>(monitors.buffer)[index].pDLLName : nullptr;
  const bool ours = IsProductModule(state, dll);
  if (!ours)
    LogLine(state, TEXT("AddMonitor - the monitor is registered with another module: %s"),
            (dll && dll[0]) ? dll : TEXT("***EMPTY***"));
  if (monitors.buffer) GlobalFree(monitors.buffer);
  return ours;
}
}  // namespace

void EnumerateMonitors(MonitorInventory* inventory, InstallerState* state) {
  inventory->level = 2;
  inventory->buffer = nullptr;
  inventory->count = 0;
  int calls = 0;
  bool firstSucceeded = false;
  DWORD returned = 0;
  DWORD code = 0;
  LPBYTE block = FetchSpoolerBlock([&](LPBYTE buffer, DWORD size, DWORD* needed) {
    const bool ok = EnumMonitorsW(nullptr, 2, buffer, size, needed, &returned) != FALSE;
    code = GetLastError();
    if (++calls == 1) firstSucceeded = ok;
    return ok;
  });
  if (block) {
    inventory->buffer = block;
    inventory->count = returned;
    return;
  }
  if (calls == 1 && firstSucceeded) {
    LogLine(state, TEXT("1. EnumMonitors returns true"));
  } else if (calls == 1 && code != ERROR_INSUFFICIENT_BUFFER) {
    LogEnumFailure(state, TEXT("2. EnumMonitors  failed with code: %s"), code);
  } else if (calls == 1) {
    LogLine(state, TEXT("3. EnumMonitors - can't allocate memory for buffer"));
    SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
  } else {
    LogEnumFailure(state, TEXT("3. EnumMonitors  failed with code: %s"), code);
  }
}

int FindProductMonitor(const MonitorInventory* inventory) {
  if (!inventory->buffer) return -1;
  for (DWORD i = 0; i < inventory->count; ++i)
    if (IsProductMonitorName(MonitorName(inventory, i))) return static_cast<int>(i);
  return -1;
}

void ListMonitors(InstallerState* state, const MonitorInventory* inventory) {
  const DWORD count = inventory->buffer ? inventory->count : 0;
  LogLine(state, TEXT("------- %d existing monitors ----------"), static_cast<int>(count));
  for (DWORD i = 0; i < count; ++i) {
    LPCWSTR name = MonitorName(inventory, i);
    LogLine(state, TEXT("%d. %s"), static_cast<int>(i + 1), name ? name : TEXT("***EMPTY***"));
  }
  LogLine(state, TEXT("---------------------------------------"));
}

void InstallMonitor(InstallerState* state) {
  LogLine(state, TEXT(">AddMonitor"));
  LogSection section(state);
  if (state->copyMonitor) {
    LogLine(state, TEXT("Copy monitor file"));
    WCHAR path[MAX_PATH] = {0};
    if (CopyProductFile(state, Text(state->systemDir), state->monitorFile, path, false) != S_OK) {
      // The running spooler may hold the old module: copy again while it is stopped.
      SpoolerRestart guard;
      BeginSpoolerRestart(&guard, state);
      CopyProductFile(state, Text(state->systemDir), state->monitorFile, path, true);
      EndSpoolerRestart(&guard);
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
