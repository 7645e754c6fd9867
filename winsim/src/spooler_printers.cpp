// Printers: enumeration, handles, level-2 settings, adding and deleting, the default printer.
//
// Where Wine 8 differs from Windows (the model follows Windows):
// - Every call here works in Wine whether the spooler service runs or not; Windows fails them
//   with 1722 (RPC_S_SERVER_UNAVAILABLE) while it is stopped.
// - AddPrinterW with a null pDatatype: Wine fails with 1801 and leaves a half-made printer that
//   EnumPrintersW lists; Windows gives the printer the datatype "RAW".
// - AddPrinterW with the name of an existing printer: Wine overwrites it; Windows fails with 1802.
// - AddPrinterW and SetPrinterW with an unknown port: Wine accepts it; Windows fails with 1796.
// - SetPrinterW level 0 with PRINTER_CONTROL_PURGE: Wine fails with 124; Windows purges the queue.
// - SetPrinterW level 2 with a null string member (pShareName, pComment, pLocation, pSepFile,
//   pParameters): Wine leaves the stored value as it was; Windows writes the whole record, so the
//   value is cleared (only a null pDevMode or pSecurityDescriptor means "unchanged").
//
// Print servers: a name "\\server\queue" opens a queue of another machine (PrintServer), with
// the rights this user has there; every call on such a handle acts on that machine's queue. A
// connection is this machine's record of such a queue: AddPrinterConnectionW and
// DeletePrinterConnectionW make and remove it here only, and while it exists it keeps the local
// driver of its name in use. A server off the network makes every call that needs it wait for the
// RPC timeout and fail with 1722 (RPC_S_SERVER_UNAVAILABLE); a connection to it stays listed here.
// Point and Print policy may refuse a server's driver: adding a connection then prompts the user
// (who is refused, 1223), or, with PRINTER_CONNECTION_NO_UI, fails with 3019 without a prompt.
// Connections are per user (they live in the user's profile): the calls list, add, delete and
// make the default only the connections of the account the calling thread acts as, whichever
// account made the others; every user's connection keeps its driver in use all the same.
//
// Pending deletion: DeletePrinter on a printer that other processes hold open or whose job is
// being printed only marks it; its name stays taken and no new handle is given on it until the
// spooler stops. Any other deletion removes the printer at once and its other handles go stale.
//
// Not modelled: DEVMODEs and security descriptors (reported as null; PrinterEntry::grantedAccess
// stands for what a printer's security grants), print jobs beyond their count and the printing
// one. Queued jobs keep a deleted printer pending too, until a purge empties its queue.
#include "spooler_internal.h"
#include "name_keys.h"

using namespace winsim;
using namespace winsim::spool;

namespace {

// "\\server\share" -> "\\server"; local printers have no server name.
std::optional<std::u16string> ServerOf(const PrinterEntry& printer) {
  if (!printer.connection || printer.name.rfind(u"\\\\", 0) != 0) return std::nullopt;
  const size_t slash = printer.name.find(u'\\', 2);
  return printer.name.substr(0, slash);
}

void FillInfo1(PRINTER_INFO_1W& r, Packer& p, const PrinterEntry& e) {
  r.Flags = PRINTER_ENUM_ICON8;
  r.pDescription = p.Put(e.name + u"," + e.driverName + u"," + e.location.value_or(u""));
  r.pName = p.Put(e.name);
  r.pComment = p.Put(e.comment);
}

void FillInfo2(PRINTER_INFO_2W& r, Packer& p, const PrinterEntry& e) {
  r.pServerName = p.Put(ServerOf(e));
  r.pPrinterName = p.Put(e.name);
  r.pShareName = p.Put(e.shareName);
  r.pPortName = p.Put(e.portName);
  r.pDriverName = p.Put(e.driverName);
  r.pComment = p.Put(e.comment);
  r.pLocation = p.Put(e.location);
  r.pDevMode = nullptr;
  r.pSepFile = p.Put(e.sepFile);
  r.pPrintProcessor = p.Put(e.printProcessor);
  r.pDatatype = p.Put(e.datatype ? e.datatype : std::optional<std::u16string>(u"RAW"));
  r.pParameters = p.Put(e.parameters);
  r.pSecurityDescriptor = nullptr;
  r.Attributes = e.attributes;
  r.Priority = e.priority;
  r.DefaultPriority = e.defaultPriority;
  r.Status = e.status;
  r.cJobs = e.jobs;
}

void FillInfo4(PRINTER_INFO_4W& r, Packer& p, const PrinterEntry& e) {
  r.pPrinterName = p.Put(e.name);
  r.pServerName = p.Put(ServerOf(e));
  r.Attributes = e.attributes;
}

BOOL PackPrinters(const std::vector<const PrinterEntry*>& items, DWORD level, LPBYTE buffer, DWORD size,
                  LPDWORD needed, LPDWORD returned) {
  switch (level) {
    case 1: return PackRecords<PRINTER_INFO_1W>(items, FillInfo1, buffer, size, needed, returned);
    case 2: return PackRecords<PRINTER_INFO_2W>(items, FillInfo2, buffer, size, needed, returned);
    case 4: return PackRecords<PRINTER_INFO_4W>(items, FillInfo4, buffer, size, needed, returned);
    default: SetLastError(ERROR_INVALID_LEVEL); return FALSE;
  }
}

bool ValidPrinterName(LPCWSTR name) {
  if (!name || !*name) return false;
  for (LPCWSTR c = name; *c; ++c)
    if (*c == u'\\' || *c == u',') return false;
  return true;
}

// Every port of a comma-separated list must exist.
bool PortsKnown(LPCWSTR list) {
  const std::vector<std::u16string> ports = SplitPorts(Text(list));
  if (ports.empty()) return false;
  for (const auto& port : ports)
    if (!PortExists(port)) return false;
  return true;
}

const std::u16string* FindPrintProcessor(LPCWSTR name) {
  if (!name) return nullptr;
  for (const auto& processor : M().spooler.printProcessors)
    if (SameName(processor, name)) return &processor;
  return nullptr;
}

bool DatatypeKnown(LPCWSTR datatype) {
  for (const auto& known : M().spooler.datatypes)
    if (SameName(known, datatype)) return true;
  return false;
}

bool Shared(DWORD attributes, LPCWSTR shareName) {
  return !(attributes & PRINTER_ATTRIBUTE_SHARED) || (shareName && *shareName);
}

HANDLE NewHandle(const std::u16string& printer, ACCESS_MASK access) {
  SpoolerState& spooler = M().spooler;
  const uintptr_t value = spooler.nextHandle;
  spooler.nextHandle += 8;
  PrinterHandle handle;
  handle.printer = printer;
  handle.access = access;
  spooler.handles[value] = handle;
  return reinterpret_cast<HANDLE>(value);
}

// "\\server\queue": the server part ("\\server") and the queue; false for any other form.
bool SplitConnectionName(const std::u16string& name, std::u16string* server, std::u16string* queue) {
  if (name.size() < 5 || name.compare(0, 2, u"\\\\") != 0) return false;
  const size_t slash = name.find(u'\\', 2);
  if (slash == std::u16string::npos || slash == 2 || slash + 1 >= name.size()) return false;
  if (name.find(u'\\', slash + 1) != std::u16string::npos) return false;
  *server = name.substr(0, slash);
  *queue = name.substr(slash + 1);
  return true;
}

// Removes a printer of this machine or of a print server, and makes every other handle on it
// stale.
void RemovePrinter(PrinterEntry* entry, const std::u16string& server) {
  SpoolerState& spooler = M().spooler;
  for (auto& item : spooler.handles)
    if (SameName(item.second.printer, entry->name) && SameName(item.second.server, server)) item.second.stale = true;
  PrinterList* list = &spooler.printers;
  if (!server.empty())
    for (PrintServer& machine : spooler.servers)
      if (SameName(machine.name, server)) list = &machine.printers;
  if (server.empty()) {
    // Each account's default goes with the printer.
    if (SameName(spooler.defaultPrinter, entry->name)) spooler.defaultPrinter.clear();
    for (auto& item : spooler.userDefaults)
      if (SameName(item.second, entry->name)) item.second.clear();
  }
  list->Erase(entry);
}

// The print server of a "\\server\queue" name, or null.
PrintServer* ServerNamed(const std::u16string& server) {
  for (PrintServer& machine : M().spooler.servers)
    if (SameName(machine.name, server)) return &machine;
  return nullptr;
}

// A server that does not answer: the caller waits for the RPC timeout, then gets 1722.
BOOL ServerTimedOut() {
  Advance(M().spooler.serverTimeoutMs);
  return Fail(RPC_S_SERVER_UNAVAILABLE);
}

// The connection "\\server\queue" on this machine. The queue must exist on a server that answers,
// and the driver it names must be installed here (this model does not download drivers: the
// user may not install them from a server); Point and Print policy may refuse the server's driver.
// A connection that exists already is kept.
BOOL AddConnection(LPCWSTR name, bool withUi) {
  std::u16string server, queueName;
  if (!name || !SplitConnectionName(name, &server, &queueName)) return Fail(ERROR_INVALID_PRINTER_NAME);
  const PrintServer* machine = ServerNamed(server);
  if (machine && !machine->reachable) return ServerTimedOut();
  const PrinterEntry* queue = FindServerQueue(name);
  if (!queue) return Fail(ERROR_INVALID_PRINTER_NAME);
  const PrinterEntry* existing = FindPrinter(name);
  if (existing && !existing->connection) return Fail(ERROR_PRINTER_ALREADY_EXISTS);
  if (existing && existing->owners.count(ActingSid())) return TRUE;
  if (machine && machine->pointAndPrintRefused) {
    if (!withUi) return Fail(ERROR_PRINTER_DRIVER_DOWNLOAD_NEEDED);
    M().spooler.pointAndPrintPrompts++;
    return Fail(ERROR_CANCELLED);
  }
  if (!FindDriver(queue->driverName, kLocalEnvironment)) return Fail(ERROR_UNKNOWN_PRINTER_DRIVER);
  PutConnection(name, ActingSid());
  return TRUE;
}

// The handle's printer, or null with ERROR_INVALID_HANDLE.
PrinterEntry* PrinterOf(HANDLE handle, PrinterHandle** out = nullptr) {
  PrinterHandle* h = UsableHandle(handle);
  if (!h) return nullptr;
  if (out) *out = h;
  return HandlePrinter(h);
}

}  // namespace

BOOL WINAPI EnumPrintersW(DWORD flags, LPWSTR, DWORD level, LPBYTE printers, DWORD size, LPDWORD needed,
                          LPDWORD returned) {
  WINSIM_ENTER("EnumPrintersW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  if (!BufferArgumentsValid(printers, size, needed, true, returned)) return FALSE;
  if (level != 1 && level != 2 && level != 4) return Fail(ERROR_INVALID_LEVEL);
  SpoolerState& spooler = M().spooler;
  if (printers && spooler.beforeEnumPrintersFill) {
    auto hook = std::move(spooler.beforeEnumPrintersFill);
    spooler.beforeEnumPrintersFill = nullptr;
    hook();
  }
  std::vector<const PrinterEntry*> items;
  for (const PrinterEntry& printer : spooler.printers) {
    const bool wanted = printer.connection
                            ? (flags & PRINTER_ENUM_CONNECTIONS) != 0 && printer.owners.count(ActingSid()) != 0
                            : (flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME)) != 0;
    if (wanted) items.push_back(&printer);
  }
  return PackPrinters(items, level, printers, size, needed, returned);
}

// A null defaults record, or a DesiredAccess of 0, asks for PRINTER_ACCESS_USE; access the
// printer does not grant is refused with 5. The access asked for is recorded.
BOOL WINAPI OpenPrinterW(LPWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
  WINSIM_ENTER("OpenPrinterW", FALSE);
  if (printer) *printer = nullptr;
  if (!SpoolerAvailable()) return FALSE;
  if (!printer) return Fail(ERROR_INVALID_PARAMETER);
  const ACCESS_MASK access = (defaults && defaults->DesiredAccess) ? defaults->DesiredAccess : PRINTER_ACCESS_USE;
  std::u16string server, queue;
  if (printerName && SplitConnectionName(printerName, &server, &queue)) {
    // A queue of another machine, whether or not this one has a connection to it: the server
    // decides what this user may do with it.
    const PrintServer* machine = ServerNamed(server);
    if (machine && !machine->reachable) return ServerTimedOut();
    PrinterEntry* remote = FindServerQueue(printerName);
    if (!remote) return Fail(ERROR_INVALID_PRINTER_NAME);
    if (defaults && defaults->pDatatype && !DatatypeKnown(defaults->pDatatype)) return Fail(ERROR_INVALID_DATATYPE);
    bool administrator = false;
    for (const PrintServer& machine : M().spooler.servers)
      if (SameName(machine.name, server)) administrator = machine.administrator;
    if ((access & (PRINTER_ACCESS_ADMINISTER | DELETE)) && !administrator) return Fail(ERROR_ACCESS_DENIED);
    *printer = NewHandle(remote->name, access);
    M().spooler.handles[reinterpret_cast<uintptr_t>(*printer)].server = server;
    return TRUE;
  }
  PrinterEntry* entry = printerName ? FindPrinter(printerName) : nullptr;
  if (!entry || entry->pendingDeletion) return Fail(ERROR_INVALID_PRINTER_NAME);
  if (defaults && defaults->pDatatype && !DatatypeKnown(defaults->pDatatype)) return Fail(ERROR_INVALID_DATATYPE);
  if (access & ~entry->grantedAccess) return Fail(ERROR_ACCESS_DENIED);
  *printer = NewHandle(entry->name, access);
  M().spooler.opened.push_back(M().spooler.handles[reinterpret_cast<uintptr_t>(*printer)]);
  return TRUE;
}

// Closing releases the handle even when its printer is gone or the spooler restarted under it.
BOOL WINAPI ClosePrinter(HANDLE printer) {
  WINSIM_ENTER("ClosePrinter", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  if (!M().spooler.handles.erase(reinterpret_cast<uintptr_t>(printer))) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

BOOL WINAPI GetPrinterW(HANDLE printer, DWORD level, LPBYTE info, DWORD size, LPDWORD needed) {
  WINSIM_ENTER("GetPrinterW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  PrinterHandle* handle = nullptr;
  PrinterEntry* entry = PrinterOf(printer, &handle);
  if (!entry) return FALSE;
  if (!BufferArgumentsValid(info, size, needed, false, nullptr)) return FALSE;
  if (handle->server.empty()) return PackPrinters({entry}, level, info, size, needed, nullptr);
  // A queue of another machine is described under its full name, with its server.
  PrinterEntry remote = *entry;
  remote.name = handle->server + u"\\" + entry->name;
  remote.connection = true;
  return PackPrinters({&remote}, level, info, size, needed, nullptr);
}

// Level 2 (command 0) writes the whole record: name (a new one renames the printer), share name,
// ports, driver, comment, location, separator file, print processor, datatype (null: "RAW"),
// parameters, attributes and priorities. pServerName, pDevMode, pSecurityDescriptor, Status,
// cJobs and AveragePPM are not taken; a priority outside 1..99 keeps the printer's own, and
// PRINTER_ATTRIBUTE_DEFAULT is not stored (SetDefaultPrinterW makes a printer the default).
// Level 0 carries a command: purge, pause or resume. Both need PRINTER_ACCESS_ADMINISTER.
BOOL WINAPI SetPrinterW(HANDLE printer, DWORD level, LPBYTE info, DWORD command) {
  WINSIM_ENTER("SetPrinterW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  PrinterHandle* handle = nullptr;
  PrinterEntry* entry = PrinterOf(printer, &handle);
  if (!entry) return FALSE;
  if (level == 0) {
    if (command != PRINTER_CONTROL_PURGE && command != PRINTER_CONTROL_PAUSE && command != PRINTER_CONTROL_RESUME)
      return Fail(ERROR_INVALID_PARAMETER);
    if (!(handle->access & PRINTER_ACCESS_ADMINISTER)) return Fail(ERROR_ACCESS_DENIED);
    if (command == PRINTER_CONTROL_PURGE) {
      entry->jobs = 0;
      entry->purges++;
      if (entry->pendingDeletion && entry->otherHandles == 0 && !entry->jobPrinting) RemovePrinter(entry, handle->server);
    } else if (command == PRINTER_CONTROL_PAUSE) {
      entry->status |= PRINTER_STATUS_PAUSED;
    } else {
      entry->status &= ~static_cast<DWORD>(PRINTER_STATUS_PAUSED);
    }
    return TRUE;
  }
  if (command != 0) return Fail(ERROR_INVALID_PARAMETER);
  if (level != 2) return Fail(ERROR_INVALID_LEVEL);
  if (!info) return Fail(ERROR_INVALID_PARAMETER);
  if (!(handle->access & PRINTER_ACCESS_ADMINISTER)) return Fail(ERROR_ACCESS_DENIED);

  PRINTER_INFO_2W record;
  std::memcpy(&record, info, sizeof(record));
  const bool remote = !handle->server.empty();
  if (remote) {
    // A queue of another machine: its server checks the record against its own drivers and
    // ports, which this model does not keep; the queue is neither renamed nor made local.
    const std::u16string fullName = handle->server + u"\\" + entry->name;
    if (!record.pPrinterName || (!SameName(record.pPrinterName, entry->name) && !SameName(record.pPrinterName, fullName)))
      return Fail(ERROR_INVALID_PRINTER_NAME);
    if (!record.pDriverName || !record.pPortName) return Fail(ERROR_INVALID_PARAMETER);
    entry->shareName = OptionalText(record.pShareName);
    entry->portName = record.pPortName;
    entry->driverName = record.pDriverName;
    entry->comment = OptionalText(record.pComment);
    entry->location = OptionalText(record.pLocation);
    entry->attributes = record.Attributes & ~static_cast<DWORD>(PRINTER_ATTRIBUTE_DEFAULT | PRINTER_ATTRIBUTE_NETWORK);
    return TRUE;
  }
  // A connection keeps its "\\server\share" name; only a new name must be a valid one.
  if (!record.pPrinterName ||
      (!SameName(record.pPrinterName, entry->name) && !ValidPrinterName(record.pPrinterName)))
    return Fail(ERROR_INVALID_PRINTER_NAME);
  const PrinterEntry* sameName = FindPrinter(record.pPrinterName);
  if (sameName && sameName != entry) return Fail(ERROR_PRINTER_ALREADY_EXISTS);
  // A printer's own driver cannot be deleted while it exists, so only a new one is looked up.
  if (!record.pDriverName ||
      (!SameName(record.pDriverName, entry->driverName) && !FindDriver(record.pDriverName, kLocalEnvironment)))
    return Fail(ERROR_UNKNOWN_PRINTER_DRIVER);
  if (!PortsKnown(record.pPortName)) return Fail(ERROR_UNKNOWN_PORT);
  const std::u16string* processor = FindPrintProcessor(record.pPrintProcessor);
  if (!processor) return Fail(ERROR_UNKNOWN_PRINTPROCESSOR);
  if (record.pDatatype && !DatatypeKnown(record.pDatatype)) return Fail(ERROR_INVALID_DATATYPE);
  if (!Shared(record.Attributes, record.pShareName)) return Fail(ERROR_INVALID_SHARENAME);

  const std::u16string oldName = entry->name;
  const std::u16string newName = record.pPrinterName;
  if (newName != oldName) {
    for (auto& item : M().spooler.handles)
      if (SameName(item.second.printer, oldName)) item.second.printer = newName;
    if (SameName(M().spooler.defaultPrinter, oldName)) M().spooler.defaultPrinter = newName;
    for (auto& item : M().spooler.userDefaults)
      if (SameName(item.second, oldName)) item.second = newName;
    M().spooler.printers.Rename(*entry, newName);
  }
  entry->shareName = OptionalText(record.pShareName);
  entry->portName = record.pPortName;
  entry->driverName = record.pDriverName;
  entry->comment = OptionalText(record.pComment);
  entry->location = OptionalText(record.pLocation);
  entry->sepFile = OptionalText(record.pSepFile);
  entry->printProcessor = *processor;
  entry->datatype = record.pDatatype ? std::u16string(record.pDatatype) : std::u16string(u"RAW");
  entry->parameters = OptionalText(record.pParameters);
  entry->attributes = (record.Attributes & ~static_cast<DWORD>(PRINTER_ATTRIBUTE_DEFAULT)) |
                      (entry->connection ? 0 : PRINTER_ATTRIBUTE_LOCAL);
  if (record.Priority >= 1 && record.Priority <= 99) entry->priority = record.Priority;
  if (record.DefaultPriority <= 99) entry->defaultPriority = record.DefaultPriority;
  return TRUE;
}

// Checks in this order: the name (1801, then 1802 when a printer of that name exists, compared
// without regard to case), the driver for the local environment (1797), every port of the list
// (1796), the print processor (1798), the datatype (1804; a null one is kept null and reported as
// "RAW"), and a share name
// when PRINTER_ATTRIBUTE_SHARED is asked for (1215). The new printer is local, has priority 1
// unless the record gives one from 1 to 99, no jobs, and the handle has PRINTER_ALL_ACCESS.
HANDLE WINAPI AddPrinterW(LPWSTR, DWORD level, LPBYTE printer) {
  WINSIM_ENTER("AddPrinterW", nullptr);
  if (!SpoolerAvailable()) return nullptr;
  if (level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return nullptr;
  }
  if (!printer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  PRINTER_INFO_2W record;
  std::memcpy(&record, printer, sizeof(record));
  DWORD error = ERROR_SUCCESS;
  const std::u16string* processor = FindPrintProcessor(record.pPrintProcessor);
  if (!ValidPrinterName(record.pPrinterName))
    error = ERROR_INVALID_PRINTER_NAME;
  else if (FindPrinter(record.pPrinterName))
    error = ERROR_PRINTER_ALREADY_EXISTS;
  else if (!record.pDriverName || !FindDriver(record.pDriverName, kLocalEnvironment))
    error = ERROR_UNKNOWN_PRINTER_DRIVER;
  else if (!PortsKnown(record.pPortName))
    error = ERROR_UNKNOWN_PORT;
  else if (!processor)
    error = ERROR_UNKNOWN_PRINTPROCESSOR;
  else if (record.pDatatype && !DatatypeKnown(record.pDatatype))
    error = ERROR_INVALID_DATATYPE;
  else if (!Shared(record.Attributes, record.pShareName))
    error = ERROR_INVALID_SHARENAME;
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return nullptr;
  }
  PrinterEntry entry;
  entry.name = record.pPrinterName;
  entry.shareName = OptionalText(record.pShareName);
  entry.portName = record.pPortName;
  entry.driverName = record.pDriverName;
  entry.comment = OptionalText(record.pComment);
  entry.location = OptionalText(record.pLocation);
  entry.sepFile = OptionalText(record.pSepFile);
  entry.parameters = OptionalText(record.pParameters);
  entry.printProcessor = *processor;
  entry.datatype = OptionalText(record.pDatatype);
  entry.attributes = (record.Attributes & ~static_cast<DWORD>(PRINTER_ATTRIBUTE_DEFAULT)) | PRINTER_ATTRIBUTE_LOCAL;
  entry.priority = (record.Priority >= 1 && record.Priority <= 99) ? record.Priority : 1;
  entry.defaultPriority = record.DefaultPriority <= 99 ? record.DefaultPriority : 0;
  M().spooler.printers.push_back(entry);
  return NewHandle(entry.name, PRINTER_ALL_ACCESS);
}

BOOL WINAPI DeletePrinter(HANDLE printer) {
  WINSIM_ENTER("DeletePrinter", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  PrinterHandle* handle = nullptr;
  PrinterEntry* entry = PrinterOf(printer, &handle);
  if (!entry) return FALSE;
  if (!(handle->access & DELETE)) return Fail(ERROR_ACCESS_DENIED);
  handle->deleted = true;
  if (handle->server.empty() && (entry->otherHandles > 0 || entry->jobPrinting || entry->jobs > 0)) {
    entry->pendingDeletion = true;
    entry->status |= PRINTER_STATUS_PENDING_DELETION;
    return TRUE;
  }
  RemovePrinter(entry, handle->server);
  return TRUE;
}

// Makes the connection as AddConnection describes; it may show Point and Print's prompt.
BOOL WINAPI AddPrinterConnectionW(LPWSTR name) {
  WINSIM_ENTER("AddPrinterConnectionW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  return AddConnection(name, true);
}

// Level 1 only, with a PRINTER_CONNECTION_INFO_1 (87 without one); its flags other than
// PRINTER_CONNECTION_MISMATCH and PRINTER_CONNECTION_NO_UI are refused (1004). The window owns a
// prompt when one is shown.
BOOL AddPrinterConnection2W(HWND, LPCWSTR name, DWORD level, PVOID connectionInfo) {
  WINSIM_ENTER("AddPrinterConnection2W", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  if (level != 1) return Fail(ERROR_INVALID_LEVEL);
  if (!connectionInfo) return Fail(ERROR_INVALID_PARAMETER);
  const PRINTER_CONNECTION_INFO_1* info = static_cast<const PRINTER_CONNECTION_INFO_1*>(connectionInfo);
  if (info->dwFlags & ~static_cast<DWORD>(PRINTER_CONNECTION_MISMATCH | PRINTER_CONNECTION_NO_UI))
    return Fail(ERROR_INVALID_FLAGS);
  return AddConnection(name, !(info->dwFlags & PRINTER_CONNECTION_NO_UI));
}

// Removes the connection from this machine only; the server's queue stays as it is.
BOOL WINAPI DeletePrinterConnectionW(LPWSTR name) {
  WINSIM_ENTER("DeletePrinterConnectionW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  PrinterEntry* entry = name ? FindPrinter(name) : nullptr;
  if (!entry || !entry->connection || !entry->owners.erase(ActingSid())) return Fail(ERROR_INVALID_PRINTER_NAME);
  if (entry->owners.empty()) {
    RemovePrinter(entry, u"");
  } else {
    // Other users keep theirs; only the caller's default goes with the caller's connection.
    std::u16string& current = DefaultPrinterOf(ActingSid());
    if (SameName(current, entry->name)) current.clear();
  }
  return TRUE;
}

// The capacity and the result are counted in characters, terminator included. The default is
// the calling account's own (it lives in the user's profile).
BOOL WINAPI GetDefaultPrinterW(LPWSTR buffer, LPDWORD size) {
  WINSIM_ENTER("GetDefaultPrinterW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  if (!size) return Fail(ERROR_INVALID_PARAMETER);
  const std::u16string& current = DefaultPrinterOf(ActingSid());
  const PrinterEntry* entry = FindPrinter(current);
  if (current.empty() || !entry || !PrinterVisibleTo(*entry, ActingSid())) return Fail(ERROR_FILE_NOT_FOUND);
  const DWORD length = static_cast<DWORD>(entry->name.size() + 1);
  if (!buffer || *size < length) {
    *size = length;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, entry->name.c_str(), length * sizeof(WCHAR));
  *size = length;
  return TRUE;
}

// A null or empty name keeps the default printer there is; without one, the first printer
// enumerated becomes the default.
BOOL WINAPI SetDefaultPrinterW(LPCWSTR printer) {
  WINSIM_ENTER("SetDefaultPrinterW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  SpoolerState& spooler = M().spooler;
  const std::string& caller = ActingSid();
  std::u16string& current = DefaultPrinterOf(caller);
  if (!printer || !*printer) {
    const PrinterEntry* kept = FindPrinter(current);
    if (kept && PrinterVisibleTo(*kept, caller)) return TRUE;
    for (const PrinterEntry& first : spooler.printers)
      if (PrinterVisibleTo(first, caller)) {
        current = first.name;
        break;
      }
    return TRUE;
  }
  const PrinterEntry* entry = FindPrinter(printer);
  if (!entry || !PrinterVisibleTo(*entry, caller)) return Fail(ERROR_INVALID_PRINTER_NAME);
  current = entry->name;
  return TRUE;
}

namespace winsim {

PrintServer& PutPrintServer(const std::u16string& name, bool administrator) {
  for (PrintServer& machine : M().spooler.servers)
    if (SameName(machine.name, name)) {
      machine.administrator = administrator;
      return machine;
    }
  PrintServer machine;
  machine.name = name;
  machine.administrator = administrator;
  M().spooler.servers.push_back(machine);
  return M().spooler.servers.back();
}

PrinterEntry& PutServerQueue(const std::u16string& server, const std::u16string& share, const std::u16string& driver,
                             const std::u16string& port) {
  PrintServer* machine = nullptr;
  for (PrintServer& known : M().spooler.servers)
    if (SameName(known.name, server)) machine = &known;
  if (!machine) machine = &PutPrintServer(server);
  PrinterEntry queue;
  queue.name = share;
  queue.shareName = share;
  queue.driverName = driver;
  queue.portName = port;
  queue.attributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_SHARED;
  machine->printers.push_back(queue);
  return machine->printers.back();
}

PrinterEntry* FindServerQueue(const std::u16string& connectionName) {
  std::u16string server, queue;
  if (!SplitConnectionName(connectionName, &server, &queue)) return nullptr;
  for (PrintServer& machine : M().spooler.servers) {
    if (!SameName(machine.name, server)) continue;
    for (PrinterEntry& printer : machine.printers)
      if (SameName(printer.shareName.value_or(u""), queue) || SameName(printer.name, queue)) return &printer;
  }
  return nullptr;
}

PrinterEntry& PutConnection(const std::u16string& connectionName, const std::string& owner) {
  const std::string& account = owner.empty() ? M().sessions.callerSid : owner;
  if (PrinterEntry* existing = FindPrinter(connectionName)) {
    if (existing->connection) {
      existing->owners.insert(account);
      return *existing;
    }
  }
  const PrinterEntry* queue = FindServerQueue(connectionName);
  PrinterEntry connection;
  connection.owners.insert(account);
  connection.name = connectionName;
  connection.connection = true;
  connection.attributes = PRINTER_ATTRIBUTE_NETWORK;
  if (queue) {
    connection.driverName = queue->driverName;
    connection.portName = queue->portName;
    connection.shareName = queue->shareName;
    connection.comment = queue->comment;
    connection.location = queue->location;
    connection.attributes |= queue->attributes & PRINTER_ATTRIBUTE_SHARED;
  }
  M().spooler.printers.push_back(connection);
  return M().spooler.printers.back();
}

// ---- test-side access (not Windows calls: nothing here counts or fails)
// Looked up on every handle operation: through the list's index.
PrinterEntry* FindPrinter(const std::u16string& name) { return M().spooler.printers.Find(name); }

bool PrinterVisibleTo(const PrinterEntry& printer, const std::string& sid) {
  return !printer.connection || printer.owners.count(sid) != 0;
}

// ---- the printer list
PrinterList& PrinterList::operator=(const PrinterList& other) {
  if (this != &other) {
    items_ = other.items_;
    Reindex();
  }
  return *this;
}

PrinterEntry& PrinterList::push_back(const PrinterEntry& entry) {
  items_.push_back(entry);
  const Items::iterator last = std::prev(items_.end());
  if (!byName_.emplace(UpperCopy(last->name), last).second) ++duplicates_;  // the first of a name is found
  return *last;
}

// Drops the position from the index before it is erased; false when the index must be built
// again: another of its name may take its place, or its name was changed in place.
bool PrinterList::Unindex(Items::const_iterator position) {
  auto it = byName_.find(UpperCopy(position->name));
  if (it == byName_.end() || Items::const_iterator(it->second) != position) return false;
  byName_.erase(it);
  return duplicates_ == 0;
}

PrinterList::iterator PrinterList::erase(const_iterator position) {
  const bool indexed = Unindex(position.base());
  const iterator next(items_.erase(position.base()));
  if (!indexed) Reindex();
  return next;
}

PrinterList::iterator PrinterList::erase(const_iterator first, const_iterator last) {
  while (first != last) first = erase(first);
  return iterator(items_.erase(last.base(), last.base()));
}

void PrinterList::clear() {
  items_.clear();
  byName_.clear();
  duplicates_ = 0;
}

PrinterEntry* PrinterList::Find(const std::u16string& name) {
  auto it = byName_.find(UpperCopy(name));
  if (it == byName_.end()) return nullptr;
  if (SameNoCase(it->second->name, name)) return &*it->second;
  Reindex();  // a name was changed in place
  it = byName_.find(UpperCopy(name));
  return it == byName_.end() ? nullptr : &*it->second;
}

void PrinterList::Erase(const PrinterEntry* entry) {
  auto it = byName_.find(UpperCopy(entry->name));
  if (it != byName_.end() && &*it->second == entry) {
    erase(const_iterator(Items::const_iterator(it->second)));
    return;
  }
  for (auto at = items_.begin(); at != items_.end(); ++at)
    if (&*at == entry) {
      erase(const_iterator(Items::const_iterator(at)));
      return;
    }
}

void PrinterList::Rename(PrinterEntry& entry, const std::u16string& name) {
  auto it = byName_.find(UpperCopy(entry.name));
  if (it == byName_.end() || &*it->second != &entry || duplicates_ > 0) {
    entry.name = name;
    Reindex();
    return;
  }
  const Items::iterator at = it->second;
  byName_.erase(it);
  entry.name = name;
  if (!byName_.emplace(UpperCopy(name), at).second) ++duplicates_;
}

void PrinterList::Reindex() {
  byName_.clear();
  duplicates_ = 0;
  for (auto at = items_.begin(); at != items_.end(); ++at)
    if (!byName_.emplace(UpperCopy(at->name), at).second) ++duplicates_;
}

PrinterEntry& PutPrinter(const std::u16string& name, const std::u16string& driver, const std::u16string& port) {
  PrinterEntry printer;
  printer.name = name;
  printer.driverName = driver;
  printer.portName = port;
  M().spooler.printers.push_back(printer);
  return M().spooler.printers.back();
}

void SetPrinterDataString(PrinterEntry& printer, const std::string& key, const std::string& value,
                          const std::string& text, DWORD type) {
  PrinterDataValue data;
  data.type = type;
  data.data.assign(text.begin(), text.end());
  data.data.push_back(0);
  printer.data[key][value] = data;
}

}  // namespace winsim
