#include "printers/printer_restore.h"

#include <cstring>

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "monitor/monitor_inventory.h"
#include "printers/printer_inventory.h"
#include "printers/printer_journal.h"
#include "printers/saved_printers.h"
#include "printers/user_context.h"
#include "system/sessions.h"
#include "system/spooler_service.h"

namespace {
const char kSettingsFolder[] = "Marbleleafs\\";

// Logs whether the product's port monitor is registered. The printer is added either way: this
// only tells a reader of the log why a new printer might not print.
void ReportProductMonitor(InstallerState* state) {
  LogLine(state, TEXT("Let's check our port monitors"));
  MonitorInventory monitors = {nullptr, 0, 0};
  EnumerateMonitors(&monitors, state);
  if (FindProductMonitor(&monitors) >= 0) {
    LogLine(state, TEXT("Port monitor is found"));
  } else {
    LogLine(state, TEXT("No Marbleleaf port monitor was found."));
    if (monitors.count > 0)
      ListMonitors(state, &monitors);
    else
      LogLine(state, TEXT("BTW, there is no port monitors on this system."));
  }
  if (monitors.buffer) GlobalFree(monitors.buffer);
}

// Writes the settings key name back to the new printer and, when the spooler kept it, clears the
// "deleted" mark of the per-user settings under that name: the signed-in user's, in their hive
// (the running account's HKCU is SYSTEM's or a helping administrator's).
void RestoreSettingsKey(InstallerState* state, HANDLE printer, LPCSTR settingsKey) {
  if (!WriteSettingsKey(printer, settingsKey)) return;
  char path[260] = {0};
  std::memcpy(path, kSettingsFolder, sizeof(kSettingsFolder) - 1);
  const size_t prefix = sizeof(kSettingsFolder) - 1;
  ReadSettingsKey(printer, path + prefix);
  if (!path[prefix]) return;
  ActingForUser user = BeginActingForUser();
  if (!user.acting) {
    LogLine(state, TEXT("The user's settings stay marked deleted: no signed-in user to act for (%s, %d)"),
            user.failedCall, static_cast<int>(user.error));
    return;
  }
  HKEY userRoot = nullptr;
  if (RegOpenCurrentUser(KEY_ALL_ACCESS, &userRoot) == ERROR_SUCCESS) {
    ClearDeletedMark(userRoot, path);
    RegCloseKey(userRoot);
  }
  if (!EndActingForUser(&user)) LogError(state, 15, TEXT("Can`t return from the signed-in user's context"));
}

// The signed-in user's default printer again, set in their context; left as it is, and said so,
// when there is nobody to act for.
void SetUsersDefaultPrinter(InstallerState* state, LPWSTR name) {
  ActingForUser user = BeginActingForUser();
  if (!user.acting) {
    LogLine(state, TEXT("The default printer is left as it is: no signed-in user to act for (%s, %d)"),
            user.failedCall, static_cast<int>(user.error));
    return;
  }
  SetDefaultPrinterW(name);
  if (!EndActingForUser(&user)) LogError(state, 15, TEXT("Can`t return from the signed-in user's context"));
}

// Gives the new printer the old one's comment, location, default status and share.
void RestoreDescription(InstallerState* state, HANDLE printer, const PRINTER_INFO_2W* saved, LPWSTR name) {
  PrinterInfo2Result description = GetPrinterInfo2(printer);
  PRINTER_INFO_2W* info = description.info;
  if (!info) return;
  info->pComment = saved->pComment;
  info->pLocation = saved->pLocation;
  SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), 0);
  if ((saved->Attributes & PRINTER_ATTRIBUTE_DEFAULT) && IsProductDriverName(saved->pDriverName))
    SetUsersDefaultPrinter(state, info->pPrinterName);
  if (state->serverMode) {
    info->Attributes |= PRINTER_ATTRIBUTE_SHARED;
    info->pShareName = saved->pShareName ? saved->pShareName : name;
    SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), 0);
  }
  GlobalFree(info);
}

// A connection removed from this machine comes back as it was, for its user: the default printer
// again when it was the default. Point and Print may want to install the server's driver; without
// UI no prompt can appear (nobody may be there to answer it), and a refusal is an error. When the
// user cannot be acted for, the journal keeps the connection for their next run.
void AddConnectionBack(InstallerState* state, SavedPrinter* node) {
  LPWSTR name = node->entry->pPrinterName;
  LogLine(state, TEXT(">AddPrinterConnection(%s)"), name);
  LogSection section(state);
  ActingForUser user;
  if (!EnterUserContext(state, &user)) return;
  PRINTER_CONNECTION_INFO_1 connection = {PRINTER_CONNECTION_NO_UI, nullptr};
  const bool added = AddPrinterConnection2W(nullptr, name, 1, &connection) != FALSE;
  const DWORD error = GetLastError();
  if (added && (node->entry->Attributes & PRINTER_ATTRIBUTE_DEFAULT)) SetDefaultPrinterW(name);
  LeaveUserContext(state, &user);
  if (!added) {
    SetLastError(error);
    LogError(state, 15, TEXT("Can`t add printer connection '%s'"), name);
    return;
  }
  LogLine(state, TEXT("OK :)"));
  node->gone = false;
  // The journal is the machine's: written with the installer's own rights, never the user's.
  UnjournalSavedPrinter(state, node);
}

// The printer made when no saved printer came back, so a reinstall leaves one product printer.
void AddServerPrinter(InstallerState* state) {
  WCHAR name[] = PRODUCT_SERVER_PRINTER;
  HANDLE printer = AddProductPrinter(state, name);
  if (!printer) return;
  if (state->serverMode) {
    PrinterInfo2Result description = GetPrinterInfo2(printer);
    if (PRINTER_INFO_2W* info = description.info) {
      info->Attributes |= PRINTER_ATTRIBUTE_SHARED;
      if (!info->pShareName) info->pShareName = name;
      SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), 0);
      GlobalFree(info);
    }
  }
  ClosePrinter(printer);
}
}  // namespace

HANDLE AddProductPrinter(InstallerState* state, LPCWSTR name, bool afterDeletion) {
  LogLine(state, TEXT(">AddPrinter(%s)"), name ? name : TEXT("*"));
  LogSection section(state);
  ReportProductMonitor(state);

  WCHAR port[] = PRODUCT_MONITOR_NAME;
  WCHAR driver[] = PRODUCT_DRIVER_NAME;
  WCHAR comment[] = TEXT("");
  WCHAR printProcessor[] = TEXT("WinPrint");
  PRINTER_INFO_2W info;
  std::memset(&info, 0, sizeof(info));
  info.pPrinterName = const_cast<LPWSTR>(name);
  info.pPortName = port;
  info.pDriverName = driver;
  info.pComment = comment;
  info.pPrintProcessor = printProcessor;
  HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
  if (!printer && afterDeletion && GetLastError() == ERROR_PRINTER_ALREADY_EXISTS) {
    // The old queue was still held open by another process or printing a job when it was
    // deleted: Windows only marked it, and it goes when the spooler restarts.
    LogLine(state, TEXT("Printer is pending deletion. Trying to restart spooler"));
    RestartSpooler(state);
    printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
  }
  if (printer)
    LogLine(state, TEXT("OK :)"));
  else
    LogError(state, 15, TEXT("Can`t add printer '%s'"), name);
  return printer;
}

void RestorePrinters(InstallerState* state) {
  int recreated = 0;
  // The list runs from the last printer saved to the first; printers come back in that order.
  for (SavedPrinter* node = state->savedPrinters; node; node = node->next) {
    if (node->connection) continue;
    const PRINTER_INFO_2W* saved = node->entry;
    HANDLE printer = AddProductPrinter(state, saved->pPrinterName, node->gone);
    if (!printer) continue;
    RestoreSettingsKey(state, printer, node->settingsKey);
    RestoreDescription(state, printer, saved, saved->pPrinterName);
    ClosePrinter(printer);
    ++recreated;
    node->gone = false;
    UnjournalSavedPrinter(state, node);
  }
  if (recreated == 0) AddServerPrinter(state);
  for (SavedPrinter* node = state->savedPrinters; node; node = node->next)
    if (node->connection && node->gone) AddConnectionBack(state, node);
}
