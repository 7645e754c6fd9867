#include "monitor/monitor_inventory.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "support/ascii_text.h"
#include "support/counted_string.h"
#include "support/system_message.h"
#include "support/size_then_fill.h"

namespace {
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

bool IsProductMonitorModule(const InstallerState* state, LPCWSTR dll) {
  if (!dll || !state->monitorFile) return false;
  if (EqualsAsciiNoCase(dll, state->monitorFile)) return true;
  CountedString path = Copy(state->systemDir);
  Append(path, state->monitorFile);
  const bool same = EqualsAsciiNoCase(dll, Text(path));
  Release(path);
  return same;
}
