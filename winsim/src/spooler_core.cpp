// The spooler model's common ground: the service check, environments, handles, the block packer's
// argument rules, which files the running spooler holds loaded, and the test-side helpers that
// register monitors and drivers the way the spooler calls would.
//
// Where Wine 8 differs from Windows: Wine answers every spooler call whether the spooler service
// runs or not; Windows fails them with 1722 (RPC_S_SERVER_UNAVAILABLE) while it is stopped.
// Not modelled: print processors, forms, remote spooler administration beyond the print servers'
// queues, and more environments than "Windows x64" and "Windows NT x86".
#include "spooler_internal.h"
#include "name_keys.h"

namespace winsim {
namespace spool {

const char16_t* const kLocalEnvironment = u"Windows x64";

std::u16string Upper(const std::u16string& text) {
  std::u16string out = text;
  for (auto& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return out;
}

bool SameName(const std::u16string& a, const std::u16string& b) { return SameNoCase(a, b); }

std::u16string Text(LPCWSTR text) { return text ? std::u16string(text) : std::u16string(); }

std::optional<std::u16string> OptionalText(LPCWSTR text) {
  if (!text) return std::nullopt;
  return std::u16string(text);
}

bool SpoolerAvailable() {
  if (SpoolerRunning()) return true;
  SetLastError(RPC_S_SERVER_UNAVAILABLE);
  return false;
}

EnvironmentEntry* ResolveEnvironment(LPCWSTR environment) {
  const std::u16string name = (environment && *environment) ? std::u16string(environment) : kLocalEnvironment;
  EnvironmentEntry* entry = FindEnvironment(name);
  if (!entry) SetLastError(ERROR_INVALID_ENVIRONMENT);
  return entry;
}

PrinterHandle* UsableHandle(HANDLE handle) {
  auto& handles = M().spooler.handles;
  auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == handles.end() || it->second.stale || it->second.deleted) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &it->second;
}

PrinterEntry* HandlePrinter(PrinterHandle* handle) {
  PrinterEntry* printer = nullptr;
  if (handle->server.empty()) {
    printer = FindPrinter(handle->printer);
  } else {
    for (PrintServer& machine : M().spooler.servers)
      if (SameName(machine.name, handle->server))
        for (PrinterEntry& queue : machine.printers)
          if (SameName(queue.name, handle->printer)) printer = &queue;
  }
  if (!printer) SetLastError(ERROR_INVALID_HANDLE);
  return printer;
}

std::vector<std::u16string> SplitPorts(const std::u16string& list) {
  std::vector<std::u16string> ports;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(u',', start);
    if (comma == std::u16string::npos) comma = list.size();
    std::u16string port = list.substr(start, comma - start);
    while (!port.empty() && port.front() == u' ') port.erase(port.begin());
    while (!port.empty() && port.back() == u' ') port.pop_back();
    if (!port.empty()) ports.push_back(port);
    start = comma + 1;
  }
  return ports;
}

bool BufferArgumentsValid(LPBYTE buffer, DWORD size, LPDWORD needed, bool needsReturned, LPDWORD returned) {
  if (!needed || (needsReturned && !returned)) {
    SetLastError(RPC_X_NULL_REF_POINTER);
    return false;
  }
  if (!buffer && size != 0) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return false;
  }
  return true;
}

}  // namespace spool

// ---- modules the running spooler holds loaded

static std::u16string MonitorDllPath(const MonitorEntry& monitor) { return M().systemDir + u"\\" + monitor.dllName; }

void SyncSpoolerModules() {
  SpoolerState& spooler = M().spooler;
  const bool running = Spooler().state == SERVICE_RUNNING;
  std::set<std::u16string> wanted;
  if (running) {
    auto want = [&wanted](const std::u16string& path) {
      if (!path.empty() && FileExists(path)) wanted.insert(PathKey(path));
    };
    for (const MonitorEntry& monitor : spooler.monitors)
      if (!monitor.dllName.empty()) want(MonitorDllPath(monitor));
    for (const DriverEntry& driver : spooler.drivers) {
      want(driver.driverPath);
      want(driver.dataFile);
      want(driver.configFile);
      want(driver.helpFile);
    }
  } else {
    // The RPC connection of every open printer handle died with the service, those of other
    // processes too; the job being printed is abandoned, so printers pending deletion go.
    for (auto& item : spooler.handles) item.second.stale = true;
    for (PrinterEntry& printer : spooler.printers) {
      printer.otherHandles = 0;
      printer.jobPrinting = false;
    }
    for (auto it = spooler.printers.begin(); it != spooler.printers.end();)
      it = it->pendingDeletion ? spooler.printers.erase(it) : std::next(it);
  }
  for (const std::u16string& key : spooler.loadedModules)
    if (!wanted.count(key))
      if (FileEntry* file = FindFile(key)) file->loadedBySpooler = false;
  for (const std::u16string& key : wanted)
    if (FileEntry* file = FindFile(key)) file->loadedBySpooler = true;
  spooler.loadedModules = wanted;
  spooler.modulesSyncedFor = Spooler().state;
}

// ---- test-side helpers

void SetMonitorPorts(const std::u16string& monitor, const std::vector<std::u16string>& ports) {
  M().spooler.monitorPorts[spool::Upper(monitor)] = ports;
  if (MonitorEntry* entry = FindMonitor(monitor)) entry->ports = ports;
}

MonitorEntry& PutMonitor(const std::u16string& name, const std::u16string& dllName,
                         std::optional<VersionResource> version, const std::u16string& environment) {
  const std::u16string dllPath = M().systemDir + u"\\" + dllName;
  if (!FileExists(dllPath)) PutFile(dllPath, "monitor", version);
  MonitorEntry monitor;
  monitor.name = name;
  monitor.environment = environment;
  monitor.dllName = dllName;
  auto ports = M().spooler.monitorPorts.find(spool::Upper(name));
  monitor.ports = ports != M().spooler.monitorPorts.end() ? ports->second : std::vector<std::u16string>{name};
  M().spooler.monitors.push_back(monitor);
  SyncSpoolerModules();
  return M().spooler.monitors.back();
}

DriverEntry& PutDriver(const std::u16string& name, const std::u16string& environment, const std::u16string& driverFile,
                       const std::u16string& configFile, const std::u16string& helpFile,
                       std::optional<VersionResource> version) {
  const EnvironmentEntry* env = FindEnvironment(environment);
  const std::u16string store = (env ? env->driverDir : std::u16string(u"C:\\drivers")) + u"\\3\\";
  DriverEntry driver;
  driver.name = name;
  driver.environment = env ? env->name : environment;
  driver.driverPath = driver.dataFile = store + driverFile;
  driver.configFile = store + configFile;
  driver.helpFile = helpFile.empty() ? std::u16string() : store + helpFile;
  PutFile(driver.driverPath, "driver", version);
  PutFile(driver.configFile, "ui", version);
  if (!helpFile.empty()) PutFile(driver.helpFile, "help");
  M().spooler.drivers.push_back(driver);
  SyncSpoolerModules();
  return M().spooler.drivers.back();
}

// ---- test-side access (not Windows calls: nothing here counts or fails)
SpoolerState::SpoolerState() {
  environments.push_back({u"Windows x64", u"C:\\Windows\\system32\\spool\\DRIVERS\\x64"});
  environments.push_back({u"Windows NT x86", u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86"});
  monitors.push_back({u"Local Port", u"Windows x64", u"localspl.dll", {u"LPT1:", u"COM1:", u"FILE:", u"PORTPROMPT:"}});
  monitors.push_back({u"Standard TCP/IP Port", u"Windows x64", u"tcpmon.dll", {}});
}

EnvironmentEntry* FindEnvironment(const std::u16string& name) {
  for (EnvironmentEntry& e : M().spooler.environments)
    if (SameNoCase(e.name, name)) return &e;
  return nullptr;
}

}  // namespace winsim
