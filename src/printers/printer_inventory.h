// The snapshot of all printers taken at the start of a run, and the printers' settings keys.
#pragma once
#include "platform/win32.h"
#include "support/name_index.h"

struct InstallerState;

struct PrinterInventory {
  PRINTER_INFO_2W* entries;  // one global block: count records followed by their strings
  DWORD count;
};

struct PrinterInfo2Result {
  PRINTER_INFO_2W* info;
  DWORD needed;
};

void EnumerateLocalPrinters(PrinterInventory* inventory);
void ReleasePrinterInventory(PrinterInventory* inventory);
PrinterInfo2Result GetPrinterInfo2(HANDLE printer);
void SavePrinterSettingsKey(InstallerState* state, PRINTER_INFO_2W* entry);
bool WriteSettingsKey(HANDLE printer, LPCSTR settingsKey);
DWORD ReadSettingsKey(HANDLE printer, LPSTR out);
// Under `userRoot`, a user's hive.
bool ClearDeletedMark(HKEY userRoot, LPCSTR relativePath);
PRINTER_INFO_2W* FindInventoryPrinter(const PrinterInventory* inventory, LPCWSTR name);
// The inventory's entries filed by name (the first of a name wins), for many lookups in one pass.
void IndexInventory(const PrinterInventory* inventory, NameIndex* index);
// A connection to a queue of another machine rather than a printer of this one.
bool IsPrinterConnection(const PRINTER_INFO_2W* entry);
