// Port monitors: enumeration, registration (the spooler loads the monitor's DLL from the system
// folder and takes the ports it enumerates) and removal (refused while a printer prints to one of
// its ports).
//
// Where Wine 8 differs from Windows (the model follows Windows):
// - Wine answers whether the spooler service runs or not; Windows fails with 1722 while it is
//   stopped.
// - EnumMonitorsW: Wine reports every monitor with the environment "Windows NT x86"; Windows
//   reports the environment the monitor was registered for ("Windows x64" on the 64-bit machine).
// - DeleteMonitorW: Wine ignores the environment (no 1805) and never reports 3008 (in use).
// - AddMonitorW: Wine loads the DLL from the program's own folder before the system folder, and
//   into the calling process; Windows takes it from the system folder only, and the spooler
//   service holds it (FileEntry::loadedBySpooler) until the monitor is deleted or the service
//   stops.
//
// Assumptions, since Microsoft documents no error for them:
// - Windows protected print mode loads no third-party monitor: AddMonitorW fails with 5
//   (ERROR_ACCESS_DENIED). Every monitor added through the call is taken as a third-party one;
//   the inbox monitors are there before.
// - An ARM64 spooler cannot load the x64 module that the product registers: 193
//   (ERROR_BAD_EXE_FORMAT), as LoadLibrary reports for a module of another machine.
// Not modelled: what a monitor does with its ports once registered (it prints nowhere), its
// configuration UI, port monitors' own registry keys beyond their port lists.
#include "spooler_internal.h"
#include "name_keys.h"

using namespace winsim;
using namespace winsim::spool;

namespace {

void FillMonitor1(MONITOR_INFO_1W& r, Packer& p, const MonitorEntry& m) { r.pName = p.Put(m.name); }

void FillMonitor2(MONITOR_INFO_2W& r, Packer& p, const MonitorEntry& m) {
  r.pName = p.Put(m.name);
  r.pEnvironment = p.Put(m.environment);
  r.pDLLName = p.Put(m.dllName);
}

// An environment argument that names one of the known environments, or none (the local one).
bool EnvironmentKnown(LPCWSTR environment) { return ResolveEnvironment(environment) != nullptr; }

}  // namespace

BOOL WINAPI EnumMonitorsW(LPWSTR, DWORD level, LPBYTE monitors, DWORD size, LPDWORD needed, LPDWORD returned) {
  WINSIM_ENTER("EnumMonitorsW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  if (!BufferArgumentsValid(monitors, size, needed, true, returned)) return FALSE;
  std::vector<const MonitorEntry*> items;
  for (const MonitorEntry& monitor : M().spooler.monitors) items.push_back(&monitor);
  switch (level) {
    case 1: return PackRecords<MONITOR_INFO_1W>(items, FillMonitor1, monitors, size, needed, returned);
    case 2: return PackRecords<MONITOR_INFO_2W>(items, FillMonitor2, monitors, size, needed, returned);
    default: return Fail(ERROR_INVALID_LEVEL);
  }
}

// Level 2 only. Checks in this order: the record (87), the environment (1805: the record must name
// the server's own, "Windows x64"; a null one is not taken for the caller's), a monitor of that
// name (3006, whatever module that monitor was registered with: a monitor of the same name from
// another program or an older module name is put with PutMonitor and its own DLL name), its DLL in
// the system folder (126). The ports come from the DLL: those configured
// with SetMonitorPorts, else one port named as the monitor.
BOOL WINAPI AddMonitorW(LPWSTR, DWORD level, LPBYTE monitorInfo) {
  WINSIM_ENTER("AddMonitorW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  if (level != 2) return Fail(ERROR_INVALID_LEVEL);
  if (!monitorInfo) return Fail(ERROR_INVALID_PARAMETER);
  MONITOR_INFO_2W info;
  std::memcpy(&info, monitorInfo, sizeof(info));
  if (!info.pName || !*info.pName || !info.pDLLName || !*info.pDLLName) return Fail(ERROR_INVALID_PARAMETER);
  if (!info.pEnvironment || !SameName(info.pEnvironment, kLocalEnvironment)) return Fail(ERROR_INVALID_ENVIRONMENT);
  const EnvironmentEntry* environment = ResolveEnvironment(info.pEnvironment);
  if (!environment) return FALSE;
  if (FindMonitor(info.pName)) return Fail(ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
  if (!FileExists(M().systemDir + u"\\" + info.pDLLName)) return Fail(ERROR_MOD_NOT_FOUND);
  if (ProtectedPrintOn()) return Fail(ERROR_ACCESS_DENIED);
  if (M().system.nativeMachine != IMAGE_FILE_MACHINE_AMD64) return Fail(ERROR_BAD_EXE_FORMAT);

  MonitorEntry monitor;
  monitor.name = info.pName;
  monitor.environment = environment->name;
  monitor.dllName = info.pDLLName;
  auto ports = M().spooler.monitorPorts.find(Upper(monitor.name));
  monitor.ports = ports != M().spooler.monitorPorts.end() ? ports->second : std::vector<std::u16string>{monitor.name};
  M().spooler.monitors.push_back(monitor);
  SyncSpoolerModules();
  return TRUE;
}

// Checks in this order: the environment (1805; null is the caller's, "Windows x64"), the monitor
// (3000), printers on its ports (3008).
// A deleted monitor's ports go with it and its DLL is released.
BOOL WINAPI DeleteMonitorW(LPWSTR, LPWSTR environment, LPWSTR monitorName) {
  WINSIM_ENTER("DeleteMonitorW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  if (!EnvironmentKnown(environment)) return FALSE;
  SpoolerState& spooler = M().spooler;
  MonitorEntry* monitor = monitorName ? FindMonitor(monitorName) : nullptr;
  if (!monitor) return Fail(ERROR_UNKNOWN_PRINT_MONITOR);
  // A connection prints through its server's port, not through one of this machine.
  for (const PrinterEntry& printer : spooler.printers) {
    if (printer.connection) continue;
    for (const std::u16string& port : SplitPorts(printer.portName))
      for (const std::u16string& own : monitor->ports)
        if (SameName(port, own)) return Fail(ERROR_PRINT_MONITOR_IN_USE);
  }
  for (auto it = spooler.monitors.begin(); it != spooler.monitors.end(); ++it)
    if (&*it == monitor) {
      spooler.monitors.erase(it);
      break;
    }
  SyncSpoolerModules();
  return TRUE;
}

namespace winsim {

// ---- test-side access (not Windows calls: nothing here counts or fails)
MonitorEntry* FindMonitor(const std::u16string& name) {
  for (MonitorEntry& m : M().spooler.monitors)
    if (SameNoCase(m.name, name)) return &m;
  return nullptr;
}

bool PortExists(const std::u16string& port) {
  for (const auto& p : M().spooler.builtinPorts)
    if (SameNoCase(p, port)) return true;
  for (const MonitorEntry& m : M().spooler.monitors)
    for (const auto& p : m.ports)
      if (SameNoCase(p, port)) return true;
  return false;
}

}  // namespace winsim
