#include "printers/printer_removal.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "printers/printer_inventory.h"
#include "printers/printer_journal.h"
#include "printers/saved_printers.h"
#include "printers/user_context.h"

namespace {
// Takes the node just saved off the saved list: its printer stays, so there is nothing to bring
// back.
void ForgetSavedPrinter(InstallerState* state, SavedPrinter* node) {
  if (state->savedPrinters == node) DropNewestSavedPrinter(state);
}

// Whether the connection's print server answers, asked read-only: a handle for use only changes
// nothing there, and is closed at once.
bool PrintServerAnswers(LPWSTR name) {
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
  HANDLE printer = nullptr;
  if (!OpenPrinterW(name, &printer, &defaults) || !printer) return false;
  ClosePrinter(printer);
  return true;
}

// A connection to another machine's queue is removed from this machine only: a handle on it
// would reach the server's queue, which must never be deleted or changed from here. It is
// remembered with its default status, so that a reinstall can add it back; so it is removed only
// when its server answers now, since adding it back needs the server. A connection is its user's:
// the server is asked, and the connection removed, in their context; the journal is written with
// the installer's own rights.
void RemoveConnection(InstallerState* state, PRINTER_INFO_2W* entry, SavedPrinter* node) {
  LPWSTR name = entry->pPrinterName;
  LogLine(state, TEXT(">DeletePrinterConnection(%s)"), name);
  LogSection section(state);
  ActingForUser user;
  bool answers = false;
  if (EnterUserContext(state, &user)) {
    answers = PrintServerAnswers(name);
    const DWORD error = GetLastError();
    LeaveUserContext(state, &user);
    // Left in place it keeps the driver in use: the driver's removal reports that.
    if (!answers) LogLine(state, TEXT("The print server does not answer (%d): the connection stays"), static_cast<int>(error));
  }
  if (!answers) {
    if (node && !node->gone) UnjournalSavedPrinter(state, node);
    return;
  }
  if (!node) {
    node = PushSavedPrinter(state, nullptr, entry);
    if (node) {
      node->connection = true;
      if (state->kind == RunKind::Reinstall && !JournalSavedPrinter(state, node)) {
        ForgetSavedPrinter(state, node);
        return;
      }
    }
  }
  bool deleted = false;
  if (EnterUserContext(state, &user)) {
    deleted = DeletePrinterConnectionW(name) != FALSE;
    const DWORD error = GetLastError();
    LeaveUserContext(state, &user);
    if (!deleted) {
      SetLastError(error);
      LogError(state, 17, TEXT("Can`t delete printer connection '%s'"), name);
    }
  }
  if (deleted) {
    LogLine(state, TEXT("OK"));
    if (node) node->gone = true;
    return;
  }
  // Still in place: there is nothing to add back.
  if (node && !node->gone) UnjournalSavedPrinter(state, node);
}

// A product printer of this machine: its settings key saved (and, in a reinstall, its entry
// written to the journal) just before it is deleted. An entry taken over from the journal already
// holds what the printer had before an earlier run was interrupted.
void RemoveLocalPrinter(InstallerState* state, PRINTER_INFO_2W* entry, SavedPrinter* node) {
  // An interrupted run's deletion that waits for the spooler: no handle can be opened to delete it
  // again or to read its settings key, and the restart before it is added back completes it as it
  // does this run's own. Unless an earlier run's journal holds it, it comes back without its key.
  if (entry->Status & PRINTER_STATUS_PENDING_DELETION) {
    LogLine(state, TEXT(">DeletePrinter(%s)"), entry->pPrinterName);
    LogSection section(state);
    LogLine(state, TEXT("Pending deletion already"));
    if (!node) node = PushSavedPrinter(state, nullptr, entry);
    if (node) node->gone = true;
    return;
  }
  if (!node) {
    SavedPrinter* before = state->savedPrinters;
    SavePrinterSettingsKey(state, entry);
    if (state->savedPrinters != before) {
      node = state->savedPrinters;
      if (state->kind == RunKind::Reinstall && !JournalSavedPrinter(state, node)) {
        ForgetSavedPrinter(state, node);
        return;
      }
    }
  }
  if (DeletePrinterByName(state, entry->pPrinterName) && node) node->gone = true;
}
}  // namespace

void DeleteAllProductPrinters(InstallerState* state) {
  LogLine(state, TEXT(">DeleteAllPrinters"));
  LogSection section(state);
  // The count is read again on every step; entries stay in the inventory after their printer is
  // gone, because the saved list points at them.
  for (DWORD i = 0; i < state->printers.count; ++i) {
    PRINTER_INFO_2W* entry = &state->printers.entries[i];
    if (!IsProductDriverName(entry->pDriverName)) continue;
    SavedPrinter* known = FindSavedPrinter(state, entry->pPrinterName);
    if (IsPrinterConnection(entry))
      RemoveConnection(state, entry, known);
    else
      RemoveLocalPrinter(state, entry, known);
  }
}

bool DeletePrinterByName(InstallerState* state, LPCWSTR name) {
  LogLine(state, TEXT(">DeletePrinter(%s)"), name ? name : TEXT("*"));
  LogSection section(state);
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, DELETE | PRINTER_ACCESS_ADMINISTER};
  HANDLE printer = nullptr;
  // Each failure is reported before anything else can replace its last-error code.
  if (!OpenPrinterW(const_cast<LPWSTR>(name), &printer, &defaults)) {
    LogError(state, 16, TEXT("Can`t open printer '%s'"), name);
    return false;
  }
  SetPrinterW(printer, 0, nullptr, PRINTER_CONTROL_PURGE);
  const bool deleted = DeletePrinter(printer) != FALSE;
  if (deleted)
    LogLine(state, TEXT("OK"));
  else
    LogError(state, 17, TEXT("Can`t delete printer '%s'"), name);
  ClosePrinter(printer);
  return deleted;
}

BOOL ClosePrinterHandle(HANDLE printer) { return ClosePrinter(printer); }
