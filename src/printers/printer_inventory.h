// The snapshot of all printers taken at the start of a run, and the printers' settings keys.
#pragma once
#include "platform/win32.h"

struct InstallerState;

struct PrinterInventory {
  PRINTER_INFO_2W* entries;  // one global block: count records followed by their strings
  DWORD count;
};

struct SavedPrinter {
  LPSTR settingsKey;         // 1 to 63 characters, or null when its copy could not be made
  PRINTER_INFO_2W* entry;    // into the state's inventory; not owned
  SavedPrinter* next;
};

struct PrinterInfo2Result {
  PRINTER_INFO_2W* info;
  DWORD needed;
};

void EnumerateLocalPrinters(PrinterInventory* inventory);
void ReleasePrinterInventory(PrinterInventory* inventory);
void MarkDefaultPrinter(InstallerState* state);
PrinterInfo2Result GetPrinterInfo2(HANDLE printer);
void SavePrinterSettingsKey(InstallerState* state, PRINTER_INFO_2W* entry);
bool WriteSettingsKey(HANDLE printer, LPCSTR settingsKey);
DWORD ReadSettingsKey(HANDLE printer, LPSTR out);
bool ClearDeletedMark(LPCSTR relativePath);
void FreeSavedPrinters(SavedPrinter** list);
