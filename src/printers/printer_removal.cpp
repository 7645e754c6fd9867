#include "printers/printer_removal.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "printers/printer_inventory.h"

void DeleteAllProductPrinters(InstallerState* state) {
  LogLine(state, TEXT(">DeleteAllPrinters"));
  LogSection section(state);
  // The count is read again on every step; entries stay in the inventory after their printer is
  // gone, because the saved list points at them.
  for (DWORD i = 0; i < state->printers.count; ++i) {
    PRINTER_INFO_2W* entry = &state->printers.entries[i];
    if (!IsProductDriverName(entry->pDriverName)) continue;
    SavePrinterSettingsKey(state, entry);
    DeletePrinterByName(state, entry->pPrinterName);
  }
}

void DeletePrinterByName(InstallerState* state, LPCWSTR name) {
  LogLine(state, TEXT(">DeletePrinter(%s)"), name ? name : TEXT("*"));
  LogSection section(state);
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, DELETE | PRINTER_ACCESS_ADMINISTER};
  HANDLE printer = nullptr;
  // Each failure is reported before anything else can replace its last-error code.
  if (!OpenPrinterW(const_cast<LPWSTR>(name), &printer, &defaults)) {
    LogError(state, 16, TEXT("Can`t open printer '%s'"), name);
    return;
  }
  SetPrinterW(printer, 0, nullptr, PRINTER_CONTROL_PURGE);
  if (DeletePrinter(printer))
    LogLine(state, TEXT("OK"));
  else
    LogError(state, 17, TEXT("Can`t delete printer '%s'"), name);
  ClosePrinter(printer);
}

BOOL ClosePrinterHandle(HANDLE printer) { return ClosePrinter(printer); }
