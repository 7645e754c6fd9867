// The per-run state of an install or uninstall run.
#pragma once
#include "platform/win32.h"
#include "printers/printer_inventory.h"
#include "printers/saved_printers.h"
#include "system/sessions.h"
#include "support/counted_string.h"
#include "system/deferred_deletes.h"

struct SwitchedPrinter;

// What a run is for. A reinstall removes the product to put it back: the companion's file is
// started again rather than deleted, and removed printers are journaled until they are back.
enum class RunKind { Uninstall, Reinstall };

struct InstallerState {
  CountedString installerDir;
  CountedString systemDir;
  CountedString logText;
  CountedString driverDir;
  LPCWSTR environment;
  LPCWSTR monitorFile;
  LPCWSTR driverFile;
  LPCWSTR helpFile;
  LPCWSTR uiFile;
  bool isX64;
  bool checkMonitorVersion;
  bool installMonitor;
  bool copyMonitor;
  int errorCount;
  int depth;
  bool serverMode;
  RunKind kind;
  DeferredDelete* deferredDeletes;
  SavedPrinter* savedPrinters;  // the newest first
  NameIndex savedIndex;         // savedPrinters by name
  PrinterInventory printers;
  SwitchedPrinter* repointedPrinters;  // owned by monitor/port_switch; ends with a null record
  // Whose connections and default the inventory holds: the signed-in user the run acts for, or
  // with nobody to act for the running account (see printers/user_context.h).
  bool actsForUser;
  WCHAR userSid[kSidChars];  // their SID; empty when it could not be read
};

// The module instance of the program, stored first thing by the entry point.
extern HINSTANCE programInstance;

InstallerState* InitInstallerState(InstallerState* state);
// The installer's own folder with its final separator; the system folder with a final "\" (false
// when Windows can't tell it; left empty when it does not fit MAX_PATH).
void QueryInstallerDir(CountedString& installerDir);
bool QuerySystemDir(CountedString& systemDir);
void FreeInstallerState(InstallerState* state);
