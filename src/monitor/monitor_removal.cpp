#include "monitor/monitor_removal.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "monitor/monitor_inventory.h"
#include "monitor/port_switch.h"
#include "support/ascii_text.h"
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
  // A monitor registered under the product's name with another module (another program's, or an
  // older module name) loses its registration, but its file is not ours to delete.
  bool foreignModule = false;
  if (!found) {
    LogLine(state, TEXT("Computing monitor filename"));
    Append(path, state->monitorFile);
  } else {
    LogLine(state, TEXT("Trying to get monitor filename from MONITOR_INFO_2"));
    // FindProductMonitor only matches level 1 or 2 records; level 1 carries no DLL name.
    LPCWSTR dll = inventory->level == 2 ? reinterpret_cast<const MONITOR_INFO_2W*>(inventory->buffer)[index].pDLLName
                                        : nullptr;
    if (dll && dll[0]) {
      foreignModule = !IsProductMonitorModule(state, dll);
      // The product's module named by its full path is that path, not one inside the system folder.
      if (!foreignModule && !EqualsAsciiNoCase(dll, state->monitorFile))
        Assign(path, dll);
      else
        Append(path, dll);
    }
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
  if (foreignModule)
    LogLine(state, TEXT("The monitor's module is not the product's, left in place: %s"), Text(path));
  else
    DeleteMonitorModule(state, Text(path));
  LogLine(state, TEXT("Monitor was removed :)"));
  Release(path);
}
