// Test-side access to the machine's files, registry, services and spooler data. These model the
// machine directly; none of them is a Windows call, so none counts or fails.
#include <cstdlib>
#include <cstring>

#include "winsim/machine.h"

namespace winsim {

namespace {
char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }
std::u16string UpperCopy(const std::u16string& text) {
  std::u16string out = text;
  for (auto& c : out) c = Upper(c);
  return out;
}
std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }
}  // namespace

// ---- files
// Windows normalises a path before it looks it up: "/" is a backslash, and a run of separators
// inside the path is one ("C:\\Dest/\\x.dll" names "C:\\Dest\\x.dll"); a UNC path keeps its leading pair.
std::u16string PathKey(const std::u16string& path) {
  std::u16string key;
  for (char16_t c : UpperCopy(path)) {
    if (c == u'/') c = u'\\';
    if (c == u'\\' && key.size() >= 2 && key.back() == u'\\') continue;
    key += c;
  }
  while (key.size() > 3 && key.back() == u'\\') key.pop_back();
  return key;
}

FileSystemState::FileSystemState() {
  // The host tests run once more on the form of earlier builds (ctest's "documented_form." tests).
  const char* form = std::getenv("WINSIM_PENDING_FORM");
  pendingFormOfEarlierBuilds = form && std::strcmp(form, "documented") == 0;
  for (const char16_t* folder :
       {u"C:\\Windows", u"C:\\Windows\\system32", u"C:\\Windows\\system32\\spool",
        u"C:\\Windows\\system32\\spool\\DRIVERS", u"C:\\Windows\\system32\\spool\\DRIVERS\\x64",
        u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86", u"C:\\Program Files"}) {
    FileEntry& entry = entries[PathKey(folder)];
    entry.path = folder;
    entry.isDirectory = true;
    entry.attributes = FILE_ATTRIBUTE_DIRECTORY;
  }
}

FileEntry* FindFile(const std::u16string& path) {
  auto it = M().files.entries.find(PathKey(path));
  return it == M().files.entries.end() ? nullptr : &it->second;
}

static void PutParents(const std::u16string& path) {
  const size_t slash = path.find_last_of(u"\\/");
  if (slash == std::u16string::npos || slash < 3) return;
  const std::u16string parent = path.substr(0, slash);
  if (!FindFile(parent)) PutFolder(parent);
}

FileEntry& PutFile(const std::u16string& path, const std::string& content, std::optional<VersionResource> version) {
  PutParents(path);
  FileEntry& entry = M().files.entries[PathKey(path)];
  entry = FileEntry{};
  entry.path = path;
  entry.content.assign(content.begin(), content.end());
  entry.version = version;
  return entry;
}

FileEntry& PutFolder(const std::u16string& path) {
  PutParents(path);
  FileEntry& entry = M().files.entries[PathKey(path)];
  entry = FileEntry{};
  entry.path = path;
  entry.isDirectory = true;
  entry.attributes = FILE_ATTRIBUTE_DIRECTORY;
  return entry;
}

bool FileExists(const std::u16string& path) {
  const FileEntry* entry = FindFile(path);
  return entry && !entry->isDirectory;
}

void RemoveFile(const std::u16string& path) { M().files.entries.erase(PathKey(path)); }

void LockFile(const std::u16string& path, uint64_t until) {
  if (FileEntry* entry = FindFile(path)) entry->lockedUntil = until;
}

namespace {
// The NT path "\??\X:\..." as the Win32 path "X:\..."; empty for anything else: Session Manager
// runs before the network and works on NT paths only, so "\??\UNC\..." and bare Win32 paths fail.
std::u16string BootPath(std::u16string entry) {
  // Current builds mark a source "*1\??\..." ("*2" has been seen too): a "*" and digits in front.
  if (!entry.empty() && entry[0] == u'*') {
    size_t digits = 1;
    while (digits < entry.size() && entry[digits] >= u'0' && entry[digits] <= u'9') ++digits;
    if (digits > 1) entry.erase(0, digits);
  }
  if (entry.size() < 7 || entry.compare(0, 4, u"\\??\\") != 0) return std::u16string();
  const char16_t drive = Upper(entry[4]);
  if (drive < u'A' || drive > u'Z' || entry[5] != u':' || entry[6] != u'\\') return std::u16string();
  return entry.substr(4);
}

bool HasChildren(const std::u16string& key) {
  const std::u16string prefix = key + u"\\";
  auto it = M().files.entries.lower_bound(prefix);
  return it != M().files.entries.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}
}  // namespace

// Session Manager at boot: PendingFileRenameOperations, then PendingFileRenameOperations2, each
// value's pairs in order until an empty source, sources with or without the marker of current
// builds; an empty target deletes the source (a folder only when empty), a target renames it,
// replacing an existing file only when the target starts with "!". A pair that can't be carried
// out is skipped.
void Reboot() {
  for (const char16_t* name : {kPendingRenamesValue, kPendingRenames2Value}) {
    const RegValue* value = GetRegValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, name);
    if (!value) continue;
    std::vector<std::u16string> strings;
    std::u16string current;
    for (size_t i = 0; i + 1 < value->data.size(); i += 2) {
      const char16_t c = static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8));
      if (c) {
        current += c;
      } else {
        strings.push_back(current);
        current.clear();
      }
    }
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
      if (strings[i].empty()) break;
      const std::u16string source = BootPath(strings[i]);
      FileEntry* entry = source.empty() ? nullptr : FindFile(source);
      if (!entry) continue;
      if (strings[i + 1].empty()) {
        if (!(entry->isDirectory && HasChildren(PathKey(source)))) RemoveFile(source);
        continue;
      }
      const bool replace = strings[i + 1][0] == u'!';
      const std::u16string target = BootPath(replace ? strings[i + 1].substr(1) : strings[i + 1]);
      if (target.empty()) continue;
      const FileEntry* existing = FindFile(target);
      if (existing && (!replace || existing->isDirectory)) continue;
      const size_t slash = target.find_last_of(u'\\');
      const FileEntry* parent = FindFile(target.substr(0, slash));
      if (slash > 2 && (!parent || !parent->isDirectory)) continue;
      FileEntry moved = *entry;
      moved.path = target;
      RemoveFile(source);
      M().files.entries[PathKey(target)] = moved;
    }
    DeleteRegValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, name);
  }
  // Nothing stays open or loaded across a reboot; the clock goes on.
  for (auto& item : M().files.entries) {
    item.second.lockedUntil = 0;
    item.second.openHandles = 0;
  }
}

// ---- registry
const char* const kSessionManagerKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char16_t* const kPendingRenamesValue = u"PendingFileRenameOperations";
const char16_t* const kPendingRenames2Value = u"PendingFileRenameOperations2";

RegistryState::RegistryState() {
  for (const char16_t* key : {u"HKLM", u"HKLM\\SOFTWARE", u"HKLM\\SOFTWARE\\MICROSOFT", u"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS",
                              u"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION",
                              u"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN", u"HKLM\\SYSTEM",
                              u"HKLM\\SYSTEM\\CURRENTCONTROLSET", u"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL",
                              u"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SESSION MANAGER",
                              u"HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES", u"HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\EVENTLOG",
                              u"HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\EVENTLOG\\APPLICATION", u"HKCU", u"HKCU\\SOFTWARE"})
    keys[key];
}

std::u16string RegKeyName(HKEY root, const std::string& path) {
  std::u16string name = root == HKEY_CURRENT_USER ? u"HKCU" : u"HKLM";
  std::u16string rest = UpperCopy(Widen(path));
  while (!rest.empty() && rest.back() == u'\\') rest.pop_back();
  if (!rest.empty()) name += u"\\" + rest;
  return name;
}

void CreateRegKey(HKEY root, const std::string& path) {
  // Parents exist whenever a child does, as in the real registry.
  std::u16string name = RegKeyName(root, path);
  for (size_t pos = name.find(u'\\'); pos != std::u16string::npos; pos = name.find(u'\\', pos + 1))
    M().registry.keys[name.substr(0, pos)];
  M().registry.keys[name];
}

bool RegKeyExists(HKEY root, const std::string& path) {
  return M().registry.keys.count(RegKeyName(root, path)) != 0;
}

void SetRegValue(HKEY root, const std::string& path, const std::u16string& name, DWORD type,
                 const std::vector<uint8_t>& data) {
  CreateRegKey(root, path);
  RegValue& value = M().registry.keys[RegKeyName(root, path)].values[UpperCopy(name)];
  value.name = name;
  value.type = type;
  value.data = data;
}

static std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

void SetRegString(HKEY root, const std::string& path, const std::u16string& name, const std::u16string& text) {
  SetRegValue(root, path, name, REG_SZ, Utf16Bytes(text + u'\0'));
}

void SetRegMultiString(HKEY root, const std::string& path, const std::u16string& name,
                       const std::vector<std::u16string>& strings) {
  std::u16string all;
  for (const auto& s : strings) all += s + u'\0';
  all += u'\0';
  SetRegValue(root, path, name, REG_MULTI_SZ, Utf16Bytes(all));
}

const RegValue* GetRegValue(HKEY root, const std::string& path, const std::u16string& name) {
  auto key = M().registry.keys.find(RegKeyName(root, path));
  if (key == M().registry.keys.end()) return nullptr;
  auto value = key->second.values.find(UpperCopy(name));
  return value == key->second.values.end() ? nullptr : &value->second;
}

void DeleteRegValue(HKEY root, const std::string& path, const std::u16string& name) {
  auto key = M().registry.keys.find(RegKeyName(root, path));
  if (key != M().registry.keys.end()) key->second.values.erase(UpperCopy(name));
}

// ---- services
ServicesState::ServicesState() {
  Service spooler;
  spooler.name = u"Spooler";
  services[u"SPOOLER"] = spooler;
}

Service& Spooler() { return M().services.services[u"SPOOLER"]; }

void UpdateService(Service& service) {
  const uint64_t now = M().clock.now;
  if (service.state == SERVICE_START_PENDING && !service.neverStarts && now >= service.transitionAt)
    service.state = SERVICE_RUNNING;
  if (service.state == SERVICE_STOP_PENDING && !service.neverStops && now >= service.transitionAt)
    service.state = SERVICE_STOPPED;
  // The spooler loads its monitors and drivers when it starts and releases them when it stops.
  if (UpperCopy(service.name) == u"SPOOLER") SyncSpoolerModules();
}

Service& PutService(const std::u16string& name, const std::vector<std::u16string>& dependsOn) {
  Service& service = M().services.services[UpperCopy(name)];
  service = Service{};
  service.name = name;
  service.dependsOn = dependsOn;
  return service;
}

namespace {
void CollectDependents(const std::u16string& key, std::vector<Service*>& out) {
  for (auto& item : M().services.services) {
    Service& candidate = item.second;
    bool depends = false;
    for (const std::u16string& needed : candidate.dependsOn) depends = depends || UpperCopy(needed) == key;
    if (!depends) continue;
    CollectDependents(item.first, out);  // those that need the dependent start after it
    bool listed = false;
    for (Service* s : out) listed = listed || s == &candidate;
    if (!listed) out.push_back(&candidate);
  }
}
}  // namespace

std::vector<Service*> DependentServices(const std::u16string& name) {
  std::vector<Service*> out;
  CollectDependents(UpperCopy(name), out);
  return out;
}

bool SpoolerRunning() {
  Service& spooler = Spooler();
  UpdateService(spooler);
  return spooler.state == SERVICE_RUNNING;
}

// ---- spooler
SpoolerState::SpoolerState() {
  environments.push_back({u"Windows x64", u"C:\\Windows\\system32\\spool\\DRIVERS\\x64"});
  environments.push_back({u"Windows NT x86", u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86"});
  monitors.push_back({u"Local Port", u"Windows x64", u"localspl.dll", {u"LPT1:", u"COM1:", u"FILE:", u"PORTPROMPT:"}});
  monitors.push_back({u"Standard TCP/IP Port", u"Windows x64", u"tcpmon.dll", {}});
}

namespace {
bool SameTextNoCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && Upper(a[i]) != Upper(b[i])) return false;
  return true;
}
}  // namespace

// Looked up on every handle operation: the last printer found is tried first, and names are
// compared in place, so that a machine of thousands of printers costs the model little per call.
PrinterEntry* FindPrinter(const std::u16string& name) {
  static size_t lastFound = 0;
  std::vector<PrinterEntry>& printers = M().spooler.printers;
  if (lastFound < printers.size() && SameTextNoCase(printers[lastFound].name, name)) return &printers[lastFound];
  for (size_t i = 0; i < printers.size(); ++i) {
    if (SameTextNoCase(printers[i].name, name)) {
      lastFound = i;
      return &printers[i];
    }
  }
  return nullptr;
}

PrinterEntry& PutPrinter(const std::u16string& name, const std::u16string& driver, const std::u16string& port) {
  PrinterEntry printer;
  printer.name = name;
  printer.driverName = driver;
  printer.portName = port;
  M().spooler.printers.push_back(printer);
  return M().spooler.printers.back();
}

MonitorEntry* FindMonitor(const std::u16string& name) {
  for (MonitorEntry& m : M().spooler.monitors)
    if (UpperCopy(m.name) == UpperCopy(name)) return &m;
  return nullptr;
}

DriverEntry* FindDriver(const std::u16string& name, const std::u16string& environment) {
  for (DriverEntry& d : M().spooler.drivers)
    if (UpperCopy(d.name) == UpperCopy(name) && UpperCopy(d.environment) == UpperCopy(environment)) return &d;
  return nullptr;
}

EnvironmentEntry* FindEnvironment(const std::u16string& name) {
  for (EnvironmentEntry& e : M().spooler.environments)
    if (UpperCopy(e.name) == UpperCopy(name)) return &e;
  return nullptr;
}

void SetPrinterDataString(PrinterEntry& printer, const std::string& key, const std::string& value,
                          const std::string& text, DWORD type) {
  PrinterDataValue data;
  data.type = type;
  data.data.assign(text.begin(), text.end());
  data.data.push_back(0);
  printer.data[key][value] = data;
}

bool PortExists(const std::u16string& port) {
  for (const auto& p : M().spooler.builtinPorts)
    if (UpperCopy(p) == UpperCopy(port)) return true;
  for (const MonitorEntry& m : M().spooler.monitors)
    for (const auto& p : m.ports)
      if (UpperCopy(p) == UpperCopy(port)) return true;
  return false;
}

}  // namespace winsim
