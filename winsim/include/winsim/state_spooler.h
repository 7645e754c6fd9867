// The print spooler: monitors and ports, environments and drivers, printers and their data.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>
#include "winsim/types.h"

namespace winsim {

struct MonitorEntry {
  std::u16string name;
  std::u16string environment;
  std::u16string dllName;             // bare file name, in the system folder
  std::vector<std::u16string> ports;  // the ports the monitor enumerates
};

struct EnvironmentEntry {
  std::u16string name;       // "Windows x64", "Windows NT x86"
  std::u16string driverDir;  // e.g. C:\Windows\system32\spool\drivers\x64 (no final backslash)
};

struct DriverEntry {
  std::u16string name;
  std::u16string environment;
  DWORD version = 3;
  // Full paths of the driver's files in the versioned store (driverDir\3\...).
  std::u16string driverPath, dataFile, configFile, helpFile;
  std::optional<std::u16string> mfgName, oemUrl, provider;
};

struct PrinterDataValue {
  DWORD type = REG_SZ;
  std::vector<uint8_t> data;
};

struct PrinterEntry {
  std::u16string name;
  std::optional<std::u16string> shareName, comment, location, sepFile, parameters, datatype;
  std::u16string portName;
  std::u16string driverName;
  std::u16string printProcessor = u"WinPrint";
  DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
  DWORD priority = 1, defaultPriority = 0, status = 0, jobs = 0;
  // Printer data: key "" is the plain data (GetPrinterData), other keys as named ("DsUser").
  std::map<std::string, std::map<std::string, PrinterDataValue>> data;
  int purges = 0;
  bool connection = false;  // a printer connection rather than a local printer
};

struct PrinterHandle {
  std::u16string printer;  // name of the printer it was opened on
  ACCESS_MASK access = 0;
  bool deleted = false;    // DeletePrinter was called through this handle
};

struct SpoolerState {
  std::vector<MonitorEntry> monitors;
  std::vector<EnvironmentEntry> environments;
  std::vector<DriverEntry> drivers;
  std::vector<PrinterEntry> printers;  // in enumeration order
  std::vector<std::u16string> builtinPorts = {u"LPT1:", u"COM1:", u"FILE:", u"PORTPROMPT:"};
  std::vector<std::u16string> printProcessors = {u"WinPrint"};
  std::u16string defaultPrinter;  // empty: none
  std::map<uintptr_t, PrinterHandle> handles;
  uintptr_t nextHandle = 0x6000;
  SpoolerState();
};

// Test-side helpers.
PrinterEntry* FindPrinter(const std::u16string& name);
PrinterEntry& PutPrinter(const std::u16string& name, const std::u16string& driver, const std::u16string& port);
MonitorEntry* FindMonitor(const std::u16string& name);
DriverEntry* FindDriver(const std::u16string& name, const std::u16string& environment);
EnvironmentEntry* FindEnvironment(const std::u16string& name);
void SetPrinterDataString(PrinterEntry& printer, const std::string& key, const std::string& value,
                          const std::string& text, DWORD type = REG_SZ);
bool PortExists(const std::u16string& port);

}  // namespace winsim
