// The uninstall and reinstall procedures, and the run functions around them.
#include "app/procedures.h"

#include <cstring>

#include "app/installer_state.h"
#include "app/log.h"
#include "app/preflight.h"
#include "app/product.h"
#include "app/product_files.h"
#include "app/run_lock.h"
#include "driver/driver_install.h"
#include "driver/driver_removal.h"
#include "driver/platform.h"
#include "log/log_presentation.h"
#include "monitor/monitor_install.h"
#include "monitor/monitor_inventory.h"
#include "monitor/monitor_removal.h"
#include "printers/printer_journal.h"
#include "printers/printer_removal.h"
#include "printers/printer_restore.h"
#include "system/deferred_deletes.h"
#include "system/pending_renames.h"
#include "system/spooler_service.h"
#include "tray/tray.h"

namespace {
void ReleaseBlock(LPBYTE block) {
  if (block) GlobalFree(block);
}

// Carries out the pending deletes of the product's files and takes them out of both values, so
// that the next restart does not delete what this run leaves; a reinstall also takes out those it
// is about to put back, and the tray program's, whose file the setup program has just laid down.
// A monitor module that the build check kept and the clean-up deleted is copied again.
void PurgePendingFileOperations(InstallerState* state, bool installing) {
  ProductFiles files;
  FindProductFiles(&files, state->systemDir, state->installerDir);
  for (LPCWSTR valueName : kPendingValues) {
    PendingRenameTable table;
    ReadPendingRenames(&table, valueName);
    MarkProductDeletes(&table, &files, installing);
    PurgePendingDeletes(&table);
    if (installing && state->installMonitor && !state->copyMonitor) {
      CountedString module = Copy(state->systemDir);
      Append(module, state->monitorFile);
      if (PendingDeleteCarriedOut(&table, Text(module))) {
        state->copyMonitor = true;
        LogLine(state, TEXT("Monitor file was a pending delete, CopyMonitor == 1"));
      }
      Release(module);
    }
    TakeOutPendingDeletes(state, &table, installing);
    FreePendingRenames(&table);
  }
  ReleaseProductFiles(&files);
}

// Retries the deferred deletes, and once more with the spooler stopped when some still resist.
void RetryDeferredDeletesTwice(InstallerState* state) {
  if (!state->deferredDeletes) return;
  RetryDeferredDeletes(state);
  if (!state->deferredDeletes) return;
  SpoolerRestart whileStopped(state);
  RetryDeferredDeletes(state);
}

// One run: the machine-wide lock, its own state, the procedure, the reboot hand-over, the dialog,
// the log file or the event log, the release. A run that another one keeps out touches nothing:
// its log is the banner and the reason.
bool RunProcedure(void (*procedure)(InstallerState*), HWND parentWindow, DWORD* rebootDeletes, LPCWSTR logFile) {
  InstallerState state;
  *rebootDeletes = 0;
  {
    RunLock lock;
    if (lock.Busy()) {
      std::memset(&state, 0, sizeof(state));
      LogLine(&state, TEXT("Marbleleaf %d"), kProductBuild);
      lock.Report(&state);
    } else {
      InitInstallerState(&state);
      lock.Report(&state);
      procedure(&state);
      *rebootDeletes = static_cast<DWORD>(ScheduleDeletesAtReboot(&state));
    }
  }  // the machine is done with: a person reading the dialog keeps no other run waiting
  PresentRunLog(&state, parentWindow, *rebootDeletes, logFile);
  const bool errorsCounted = state.errorCount != 0;
  FreeInstallerState(&state);
  return errorsCounted;
}
}  // namespace

static void UninstallAllPlatforms(InstallerState* state) {
  LogLine(state, TEXT(">UnInstall Server"));
  LogSection section(state);
  // A reinstall starts the companion again from the same file: stopping it must not delete it.
  CountedString keep = state->kind == RunKind::Reinstall ? TrayProgramPath(state) : nullptr;
  StopTray(keep ? Text(keep) : nullptr);
  Release(keep);

  // Every inventory is taken before anything is removed.
  LogLine(state, TEXT("EnumMonitors"));
  MonitorInventory monitors;
  EnumerateMonitors(&monitors, state);
  LogLine(state, TEXT("%d Monitors found"), static_cast<int>(monitors.count));
  LogLine(state, TEXT("EnumPrinterDrivers for %s"), state->environment);
  DriverInventory currentDrivers;
  EnumerateDrivers(&currentDrivers, state->environment);
  LPCWSTR otherEnvironment = EnvironmentName(PlatformOf(!state->isX64));
  LogLine(state, TEXT("EnumPrinterDrivers for %s"), otherEnvironment);
  DriverInventory otherDrivers;
  EnumerateDrivers(&otherDrivers, otherEnvironment);

  DeleteAllProductPrinters(state);
  RemoveDriver(state, &currentDrivers);
  RemoveMonitor(state, &monitors);
  SelectPlatform(state, !state->isX64);
  RemoveDriver(state, &otherDrivers);
  SelectPlatform(state, !state->isX64);
  if (state->deferredDeletes) RetryDeferredDeletes(state);

  ReleaseBlock(otherDrivers.buffer);
  ReleaseBlock(currentDrivers.buffer);
  ReleaseBlock(monitors.buffer);
}

static void UninstallProduct(InstallerState* state) {
  LogLine(state, TEXT(">UnInstall"));
  LogSection section(state);
  UninstallAllPlatforms(state);
}

static void UninstallAndPurge(InstallerState* state) {
  UninstallProduct(state);
  ClearJournal(state);
  PurgePendingFileOperations(state, false);
  RetryDeferredDeletesTwice(state);
}

bool RunUninstall(HWND parentWindow, DWORD* rebootDeletes, LPCWSTR logFile) {
  return RunProcedure(UninstallAndPurge, parentWindow, rebootDeletes, logFile);
}

static void Reinstall(InstallerState* state) {
  LogLine(state, TEXT(">ReInstall"));
  LogSection section(state, 2);
  state->checkMonitorVersion = true;
  state->kind = RunKind::Reinstall;
  TakeOverJournal(state);
  UninstallProduct(state);

  // What the old installation left is tried once more with the spooler stopped, then given up:
  // only files of this run's own work reach the reboot hand-over.
  if (state->deferredDeletes) {
    SpoolerRestart whileStopped(state);
    RetryDeferredDeletes(state);
    FreeDeferredDeletes(&state->deferredDeletes);
  }
  PurgePendingFileOperations(state, true);

  if (state->installMonitor) InstallMonitor(state);
  InstallDriver(state);
  if (state->serverMode) {
    SelectPlatform(state, !state->isX64);
    InstallDriver(state);
    SelectPlatform(state, !state->isX64);
  }
  RestorePrinters(state);
  RegisterAndStartTray(state);
  RetryDeferredDeletesTwice(state);
}

namespace {
// An installation that cannot finish removes nothing: the old one stays whole.
void ReinstallUnlessRefused(InstallerState* state) {
  if (!InstallCannotFinish(state)) Reinstall(state);
}
}  // namespace

bool RunReinstall(HWND parentWindow, DWORD* rebootDeletes, LPCWSTR logFile) {
  return RunProcedure(ReinstallUnlessRefused, parentWindow, rebootDeletes, logFile);
}
