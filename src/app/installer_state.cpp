#include "app/installer_state.h"

#include <cstring>

#include "app/log.h"
#include "app/product.h"
#include "driver/platform.h"
#include "monitor/port_switch.h"
#include "printers/user_context.h"
#include "system/deferred_deletes.h"
#include "system/spooler_service.h"

HINSTANCE programInstance = nullptr;

namespace {
void StoreSystemDir(InstallerState* state) {
  if (!QuerySystemDir(state->systemDir)) LogError(state, 7, TEXT("Can`t retrieve system directory."));
}
}  // namespace

// Keeps the part of the executable's path up to and including its last separator.
void QueryInstallerDir(CountedString& installerDir) {
  WCHAR path[MAX_PATH] = {0};
  GetModuleFileNameW(programInstance, path, MAX_PATH);
  path[MAX_PATH - 1] = 0;
  int cut = 0;
  for (int i = 0; path[i]; ++i)
    if (path[i] == TEXT('\\') || path[i] == TEXT('/') || path[i] == TEXT(':')) cut = i + 1;
  path[cut] = 0;
  Assign(installerDir, path);
}

bool QuerySystemDir(CountedString& systemDir) {
  WCHAR path[MAX_PATH + 1] = {0};
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0) return false;
  if (length >= MAX_PATH) return true;  // the folder does not fit; leave it empty rather than read garbage
  if (path[0] && path[length - 1] != TEXT('\\')) lstrcatW(path, TEXT("\\"));
  Assign(systemDir, path);
  return true;
}

InstallerState* InitInstallerState(InstallerState* state) {
  std::memset(state, 0, sizeof(*state));
  LogLine(state, TEXT("Marbleleaf %d"), kProductBuild);
  state->checkMonitorVersion = false;
  state->installMonitor = true;
  state->copyMonitor = true;
  state->monitorFile = nullptr;
  CheckSpooler(state);
  state->serverMode = true;
  SelectPlatform(state, true);
  state->kind = RunKind::Uninstall;
  state->repointedPrinters = nullptr;
  QueryInstallerDir(state->installerDir);
  StoreSystemDir(state);
  MarkDefaultPrinter(state);
  return state;
}

void FreeInstallerState(InstallerState* state) {
  FreeSwitchedPrinters(state);
  ReleasePrinterInventory(&state->printers);
  FreeSavedPrinters(state);
  FreeDeferredDeletes(&state->deferredDeletes);
  Release(state->driverDir);
  Release(state->logText);
  Release(state->systemDir);
  Release(state->installerDir);
}
