#include "monitor/monitor_removal.h"

#include <cstring>

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "monitor/port_text.h"
#include "system/file_copy.h"
#include "system/deferred_deletes.h"
#include "system/spooler_service.h"

namespace {
// A path that names a folder rather than the module: a found monitor record without a DLL name
// leaves the system folder alone. Such a path must never be deleted nor handed to Windows for
// deletion at reboot, which would remove the folder.
bool NamesFolder(LPCWSTR path) {
  const int length = lstrlenW(path);
  if (length == 0) return true;
  if (path[length - 1] == TEXT('\\') || path[length - 1] == TEXT('/')) return true;
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void DeleteMonitorModule(InstallerState* state, LPCWSTR path) {
  if (NamesFolder(path)) return;
  if (!DeleteFileW(path)) DeferDelete(&state->deferredDeletes, path);
}

// Moves every printer on the product port to "file:", so that the port no longer holds the
// monitor, and records each for InstallMonitor to move back.
void SwitchPrintersToFile(InstallerState* state) {
  if (state->repointedPrinters) GlobalFree(state->repointedPrinters);
  if (state->repointedPorts) GlobalFree(state->repointedPorts);
  state->repointedPrinters = nullptr;
  state->repointedPorts = nullptr;
  const DWORD count = state->printers.entries ? state->printers.count : 0;
  if (count == 0) return;

  const SIZE_T pointerBytes = (count + 1) * sizeof(PRINTER_INFO_2W*);
  const SIZE_T portBytes = (count + 1) * sizeof(RepointedPort);
  PRINTER_INFO_2W** printers = static_cast<PRINTER_INFO_2W**>(GlobalAlloc(GMEM_FIXED, pointerBytes));
  RepointedPort* ports = printers ? static_cast<RepointedPort*>(GlobalAlloc(GMEM_FIXED, portBytes)) : nullptr;
  if (!ports) {
    // Without the list the printers could never be moved back: leave them on the product port.
    if (printers) GlobalFree(printers);
    LogLine(state, TEXT("Can't allocate the list of switched printers: printers stay on %s"), PRODUCT_MONITOR_NAME);
    return;
  }
  std::memset(printers, 0, pointerBytes);
  std::memset(ports, 0, portBytes);
  state->repointedPrinters = printers;
  state->repointedPorts = ports;

  DWORD recorded = 0;
  for (DWORD i = 0; i < count; ++i) {
    PRINTER_INFO_2W* record = &state->printers.entries[i];
    // A connection's port is its server's: repointing it through its handle would change the
    // server's queue for every user of that server.
    if (IsPrinterConnection(record)) continue;
    RepointedPort switched = {0, 0};
    if (!SwitchPortToFile(record->pPortName, &switched)) continue;
    printers[recorded] = record;
    ports[recorded] = switched;
    ++recorded;
    WritePrinterRecord(state, record);
  }
  printers[recorded] = nullptr;
}

bool DeleteProductMonitor(LPCWSTR environment) {
  return DeleteMonitorW(nullptr, const_cast<LPWSTR>(environment), const_cast<LPWSTR>(PRODUCT_MONITOR_NAME)) != FALSE;
}
}  // namespace

void RemoveMonitor(InstallerState* state, const MonitorInventory* inventory) {
  LogLine(state, TEXT(">DeleteMonitor"));
  LogSection section(state);
  if (inventory->buffer && inventory->count > 0)
    ListMonitors(state, inventory);
  else
    LogLine(state, TEXT("BTW, there is no port monitors on this system."));

  const int index = FindProductMonitor(inventory);
  const bool found = index >= 0;
  if (found)
    LogLine(state, TEXT("Port monitor is found. Index=%d"), index + 1);
  else
    LogLine(state, TEXT("No Marbleleaf port monitor was found."));

  CountedString path = Copy(state->systemDir);
  if (!found) {
    LogLine(state, TEXT("Computing monitor filename"));
    Append(path, state->monitorFile);
  } else {
    LogLine(state, TEXT("Trying to get monitor filename from MONITOR_INFO_2"));
    // FindProductMonitor only matches level 1 or 2 records; level 1 carries no DLL name.
    LPCWSTR dll = inventory->level == 2 ? reinterpret_cast<const MONITOR_INFO_2W*>(inventory->buffer)[index].pDLLName
                                        : nullptr;
    if (dll && dll[0]) Append(path, dll);
  }
  LogLine(state, TEXT("Auto calculated monitor file name: %s"), Text(path));

  if (!state->checkMonitorVersion) {
    LogLine(state, TEXT("There is no check for monitor version"));
  } else {
    const int build = GetFileBuildNumber(Text(path));
    if (build >= kOldestCompatibleBuild && build <= kProductBuild) {
      LogLine(state, TEXT("Version (%d) is compatible, proceed without uninstall"), build);
      if (found)
        state->installMonitor = false;
      else
        state->copyMonitor = false;
      LogLine(state, TEXT("InstallMonitor == %d, CopyMonitor == %d"), state->installMonitor ? 1 : 0,
              state->copyMonitor ? 1 : 0);
      Release(path);
      return;
    }
    if (build < 0)
      LogLine(state, TEXT("Version is unknown, proceed with reinstall"));
    else
      LogLine(state, TEXT("Version (%d) is not supported, proceed with reinstall"), build);
  }

  bool deleted = DeleteProductMonitor(state->environment);
  if (!deleted && !found) {
    LogLine(state, TEXT("Can't delete monitor and monitor was not found. So everything should be ok"));
    Release(path);
    return;
  }
  if (!deleted) {
    LogLine(state, TEXT("Can't delete monitor from the first try"));
    SwitchPrintersToFile(state);
    deleted = DeleteProductMonitor(state->environment);
    if (!deleted) {
      RestartSpooler(state);
      deleted = DeleteProductMonitor(state->environment);
    }
    if (!deleted) {
      LogError(state, 12, TEXT("Can`t remove the port monitor 'MarbleleafServer:'"));
      Release(path);
      return;
    }
  }
  DeleteMonitorModule(state, Text(path));
  LogLine(state, TEXT("Monitor was removed :)"));
  Release(path);
}
