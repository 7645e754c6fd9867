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
  PRINTER_INFO_2W* entry;    // into the state's inventory (not owned), or ownEntry
  SavedPrinter* next;
  bool connection;           // a connection to another machine's queue: removed and added back here only
  bool gone;                 // not on the machine any more: this run or an interrupted one removed it
  bool journaled;            // the journal holds its entry
  bool ownEntry;             // entry is a C-heap copy of a journal entry, freed with the node
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
// A new node at the head of the saved list (the key copied), or null when it cannot be had.
SavedPrinter* PushSavedPrinter(InstallerState* state, LPCSTR settingsKey, PRINTER_INFO_2W* entry);
SavedPrinter* FindSavedPrinter(const InstallerState* state, LPCWSTR name);
PRINTER_INFO_2W* FindInventoryPrinter(const PrinterInventory* inventory, LPCWSTR name);
// A connection to a queue of another machine rather than a printer of this one.
bool IsPrinterConnection(const PRINTER_INFO_2W* entry);
