// The printers a run removed and means to add back: their settings keys and entries, found by name.
#pragma once
#include "platform/win32.h"

struct InstallerState;

struct SavedPrinter {
  LPSTR settingsKey;         // 1 to 63 characters, or null when its copy could not be made
  PRINTER_INFO_2W* entry;    // into the state's inventory (not owned), or ownEntry
  SavedPrinter* next;
  bool connection;           // a connection to another machine's queue: removed and added back here only
  bool gone;                 // not on the machine any more: this run or an interrupted one removed it
  bool journaled;            // the journal holds its entry
  bool ownEntry;             // entry is a C-heap copy of a journal entry, freed with the node
  bool userJournal;          // its journal entry is under its user's own key (a connection's)
  // The SID of another user whose default this printer was, as an earlier run's journal entry
  // says (in the entry's block); their default status stays journaled for them.
  LPCWSTR defaultOwner;
};

// A new node at the head of the saved list (the key copied), or null when it cannot be had.
SavedPrinter* PushSavedPrinter(InstallerState* state, LPCSTR settingsKey, PRINTER_INFO_2W* entry);
// The node saved last under exactly this name, or null.
SavedPrinter* FindSavedPrinter(const InstallerState* state, LPCWSTR name);
// Takes the node saved last off the list again (its printer stays where it is); its name then
// finds the node saved before it under that name, if any.
void DropNewestSavedPrinter(InstallerState* state);
void FreeSavedPrinters(InstallerState* state);
