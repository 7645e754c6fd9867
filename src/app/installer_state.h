// The per-run state of an install or uninstall run.
#pragma once
#include "platform/win32.h"
#include "printers/printer_inventory.h"
#include "support/counted_string.h"
#include "system/deferred_deletes.h"

struct RepointedPort;

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
  bool keepTrayProgram;  // a reinstall: the companion's file is started again, not deleted
  bool journalPrinters;  // a reinstall: removed printers are kept in the journal until they are back
  bool installMonitor;
  bool copyMonitor;
  int errorCount;
  int depth;
  bool serverMode;
  DeferredDelete* deferredDeletes;
  SavedPrinter* savedPrinters;
  PrinterInventory printers;
  PRINTER_INFO_2W** repointedPrinters;  // null-terminated; points into printers.entries
  RepointedPort* repointedPorts;        // parallel to repointedPrinters: where each port text was switched
};

// The module instance of the program, stored first thing by the entry point.
extern HINSTANCE programInstance;

InstallerState* InitInstallerState(InstallerState* state);
// The installer's own folder with its final separator; the system folder with a final "\" (false
// when Windows can't tell it; left empty when it does not fit MAX_PATH).
void QueryInstallerDir(CountedString& installerDir);
bool QuerySystemDir(CountedString& systemDir);
void FreeInstallerState(InstallerState* state);
