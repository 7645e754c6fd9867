// The print spooler: monitors and ports, environments and drivers, printers and their data.
#pragma once
#include <cstdint>
#include <functional>
#include <iterator>
#include <list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>
#include "winsim/state_files.h"
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
  std::optional<std::u16string> monitorName, defaultDataType, hardwareId;
  std::vector<std::u16string> dependentFiles, previousNames;  // multi-strings of levels 3, 4 and 6
  uint64_t driverDate = 0;     // FILETIME of DRIVER_INFO_6W
  uint64_t driverVersion = 0;  // dwlDriverVersion of DRIVER_INFO_6W
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
  // A connection is per user: the SIDs of the accounts that have it (each one's own list).
  std::set<std::string> owners;
  ACCESS_MASK grantedAccess = PRINTER_ALL_ACCESS;  // what the printer's security grants this process
  // Pending deletion: DeletePrinter on a printer that other processes hold open, or whose job is
  // being printed (a purge does not stop a job the port is printing), only marks it. It goes
  // when the spooler stops (its clients' handles die with it and the job is abandoned); until
  // then its name is taken, it gives no new handle and it keeps its driver in use.
  int otherHandles = 0;
  bool jobPrinting = false;
  bool pendingDeletion = false;
};

// The printers of one machine in enumeration order, found by name (without regard to case)
// through an index instead of a walk, and erased without moving the others: each entry keeps its
// place in memory, so a PrinterEntry& stays valid until that printer is erased. A rename goes
// through Rename, so that the index follows; a name changed in place is not found under its new
// name until the index is built again (which a lookup that meets the old one does).
// Positions (operator[], begin() + n) are walked to: they serve tests, not the model.
class PrinterList {
  using Items = std::list<PrinterEntry>;

 public:
  template <class Base, class Value>
  class Iterator {
   public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = PrinterEntry;
    using difference_type = std::ptrdiff_t;
    using pointer = Value*;
    using reference = Value&;
    Iterator() = default;
    explicit Iterator(Base base) : base_(base) {}
    template <class B, class V>
    Iterator(const Iterator<B, V>& other) : base_(other.base()) {}
    reference operator*() const { return *base_; }
    pointer operator->() const { return &*base_; }
    Iterator& operator++() {
      ++base_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator old = *this;
      ++base_;
      return old;
    }
    Iterator& operator--() {
      --base_;
      return *this;
    }
    Iterator operator+(difference_type n) const { return Iterator(std::next(base_, n)); }
    bool operator==(const Iterator& other) const { return base_ == other.base_; }
    bool operator!=(const Iterator& other) const { return base_ != other.base_; }
    const Base& base() const { return base_; }

   private:
    Base base_{};
  };
  using iterator = Iterator<Items::iterator, PrinterEntry>;
  using const_iterator = Iterator<Items::const_iterator, const PrinterEntry>;

  PrinterList() = default;
  PrinterList(const PrinterList& other) : items_(other.items_) { Reindex(); }
  PrinterList& operator=(const PrinterList& other);

  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  PrinterEntry& operator[](size_t i) { return *std::next(items_.begin(), static_cast<std::ptrdiff_t>(i)); }
  const PrinterEntry& operator[](size_t i) const { return *std::next(items_.begin(), static_cast<std::ptrdiff_t>(i)); }
  PrinterEntry& front() { return items_.front(); }
  PrinterEntry& back() { return items_.back(); }
  iterator begin() { return iterator(items_.begin()); }
  iterator end() { return iterator(items_.end()); }
  const_iterator begin() const { return const_iterator(items_.begin()); }
  const_iterator end() const { return const_iterator(items_.end()); }

  PrinterEntry& push_back(const PrinterEntry& entry);
  iterator erase(const_iterator position);
  iterator erase(const_iterator first, const_iterator last);
  void clear();
  // The first printer of that name, or null.
  PrinterEntry* Find(const std::u16string& name);
  // Erases this entry, found through its name.
  void Erase(const PrinterEntry* entry);
  void Rename(PrinterEntry& entry, const std::u16string& name);

 private:
  bool Unindex(Items::const_iterator position);
  void Reindex();
  Items items_;
  std::unordered_map<std::u16string, Items::iterator> byName_;  // upper-cased name -> the first of it
  size_t duplicates_ = 0;  // entries whose name an earlier one has
};

// Another machine on the network that shares printers: its own queues and the rights this
// machine's user has there. A connection "\\server\queue" on this machine names one of them.
struct PrintServer {
  std::u16string name;                 // "\\HOST", with its two backslashes
  PrinterList printers;                // found by share name or by name
  bool administrator = false;          // this user may administer and delete its queues
  // Off the network (a laptop away from the office, the server down): every call that needs it
  // waits for the RPC timeout and fails with 1722.
  bool reachable = true;
  // Point and Print policy refuses this server's driver: a connection to one of its queues needs
  // that driver installed from the server, which this user may not do. Asked with a prompt, the
  // user is refused (1223); without UI the call fails with 3019.
  bool pointAndPrintRefused = false;
};

struct PrinterHandle {
  std::u16string printer;  // name of the printer it was opened on
  std::u16string server;   // set: a queue of that print server ("\\HOST"), not of this machine
  ACCESS_MASK access = 0;  // as asked for (OpenPrinterW) or given (AddPrinterW)
  bool deleted = false;    // DeletePrinter was called through this handle
  bool stale = false;      // its printer was deleted, or the spooler stopped, since it was opened
};

struct SpoolerState {
  std::vector<MonitorEntry> monitors;
  std::vector<EnvironmentEntry> environments;
  std::vector<DriverEntry> drivers;
  PrinterList printers;                // in enumeration order, connections included
  std::vector<PrintServer> servers;    // the other machines on the network
  int pointAndPrintPrompts = 0;        // Point and Print prompts shown to the user
  DWORD serverTimeoutMs = 21000;       // how long a call waits for a server that does not answer
  std::vector<std::u16string> builtinPorts = {u"LPT1:", u"COM1:", u"FILE:", u"PORTPROMPT:"};
  std::vector<std::u16string> printProcessors = {u"WinPrint"};
  std::u16string defaultPrinter;  // the machine's first administrator's default; empty: none
  std::map<std::string, std::u16string> userDefaults;  // every other account's, by SID
  std::map<uintptr_t, PrinterHandle> handles;
  uintptr_t nextHandle = 0x6000;
  std::vector<PrinterHandle> opened;  // every handle OpenPrinterW gave, in order, for assertions
  // Ports a monitor's DLL enumerates when AddMonitorW loads it, keyed by the monitor's name in
  // upper case (use SetMonitorPorts). A monitor not listed enumerates one port named as itself.
  std::map<std::u16string, std::vector<std::u16string>> monitorPorts;
  // Test hook: runs once, at the next EnumPrintersW call that brings a buffer (the fill call of a
  // size-then-fill pair), before the spooler looks at its printers; then it is cleared.
  std::function<void()> beforeEnumPrintersFill;
  // Datatypes the print processor accepts (pDatatype of printers and printer defaults).
  std::vector<std::u16string> datatypes = {u"RAW", u"RAW [FF appended]", u"RAW [FF auto]", u"NT EMF 1.003",
                                           u"NT EMF 1.006", u"NT EMF 1.007", u"NT EMF 1.008", u"TEXT"};
  std::set<std::u16string> loadedModules;  // path keys of the files the spooler model marked loaded
  DWORD modulesSyncedFor = 0;              // the spooler state the loaded modules were last brought in line for
  SpoolerState();
};

// Test-side helpers.
// An account's default printer (each user has their own).
std::u16string& DefaultPrinterOf(const std::string& sid);
PrinterEntry* FindPrinter(const std::u16string& name);
PrinterEntry& PutPrinter(const std::u16string& name, const std::u16string& driver, const std::u16string& port);
MonitorEntry* FindMonitor(const std::u16string& name);
DriverEntry* FindDriver(const std::u16string& name, const std::u16string& environment);
EnvironmentEntry* FindEnvironment(const std::u16string& name);
void SetPrinterDataString(PrinterEntry& printer, const std::string& key, const std::string& value,
                          const std::string& text, DWORD type = REG_SZ);
bool PortExists(const std::u16string& port);
// A print server reachable from this machine, and a queue it shares.
PrintServer& PutPrintServer(const std::u16string& name, bool administrator = false);
PrinterEntry& PutServerQueue(const std::u16string& server, const std::u16string& share, const std::u16string& driver,
                             const std::u16string& port);
PrinterEntry* FindServerQueue(const std::u16string& connectionName);
// A connection on this machine to a queue of a print server, as AddPrinterConnectionW makes it
// for the account (empty: the installer's own account).
PrinterEntry& PutConnection(const std::u16string& connectionName, const std::string& owner = std::string());
// Whether the account has the connection, or the local printer, of that name.
bool PrinterVisibleTo(const PrinterEntry& printer, const std::string& sid);

// The monitor of that name (existing or added later by AddMonitorW) enumerates these ports.
void SetMonitorPorts(const std::u16string& monitor, const std::vector<std::u16string>& ports);
// A registered monitor, as AddMonitorW leaves it: its DLL is put into the system folder when
// missing (with the given version resource) and loaded by the running spooler.
MonitorEntry& PutMonitor(const std::u16string& name, const std::u16string& dllName,
                         std::optional<VersionResource> version = std::nullopt,
                         const std::u16string& environment = u"Windows x64");
// A registered driver, as AddPrinterDriverExW leaves it: its files are put into the environment's
// store (driverDir\3\) with the given version resource and loaded by the running spooler.
// dataFile is driverFile; an empty helpFile means none.
DriverEntry& PutDriver(const std::u16string& name, const std::u16string& environment, const std::u16string& driverFile,
                       const std::u16string& configFile, const std::u16string& helpFile = u"",
                       std::optional<VersionResource> version = std::nullopt);
// Brings FileEntry::loadedBySpooler in line with the spooler: while the service runs, the DLLs
// of its monitors (in the system folder) and the store files of its drivers are loaded; when it
// stops, all are released, and printer handles opened before die with the RPC connection.
// Runs on every spooler state change (UpdateService) and after each spooler call that changes
// monitors or drivers; tests that edit M().spooler or the files of its modules by hand call it
// themselves.
void SyncSpoolerModules();

}  // namespace winsim
