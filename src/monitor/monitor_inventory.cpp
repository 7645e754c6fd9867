#include "monitor/monitor_inventory.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "monitor/port_text.h"
#include "support/system_message.h"
#include "system/file_copy.h"
#include "support/size_then_fill.h"
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
  LPWSTR text = SystemMessage(code);
  LogLine(state, format, text ? text : TEXT("No Error or no description"));
  if (text) LocalFree(text);
}

void SwitchPrintersBack(InstallerState* state) {
  if (!state->repointedPrinters || !state->repointedPorts) return;
  for (int i = 0; state->repointedPrinters[i]; ++i) {
    PRINTER_INFO_2W* record = state->repointedPrinters[i];
    if (!SwitchPortBack(record->pPortName, state->repointedPorts[i])) continue;
    WritePrinterRecord(state, record);
  }
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
  LPBYTE block = FetchBlock([&](LPBYTE buffer, DWORD size, DWORD* needed) {
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

void WritePrinterRecord(InstallerState* state, PRINTER_INFO_2W* record) {
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE printer = nullptr;
  if (!OpenPrinterW(record->pPrinterName, &printer, &defaults) || !printer) {
    LogLine(state, TEXT("Can't open printer %s"), record->pPrinterName);
    return;
  }
  if (SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(record), 0))
    LogLine(state, TEXT("SetPrinter(%s) - ok"), record->pPrinterName);
  else
    LogLine(state, TEXT("SetPrinter(%s) - failed"), record->pPrinterName);
  ClosePrinter(printer);
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
      // printers moved to "file:" can go back.
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
