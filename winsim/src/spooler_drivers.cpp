// Printer drivers: the environments' driver folders, enumeration at levels 1 to 6, adding a driver
// (its files copied into the versioned store <driverDir>\3\ and loaded by the spooler), deleting
// one (refused while a printer uses it) and the driver of an open printer.
//
// Where Wine 8 differs from Windows (the model follows Windows):
// - Wine answers whether the spooler service runs or not; Windows fails with 1722 while it is
//   stopped.
// - AddPrinterDriverExW: Wine reports success when a named file is missing; Windows fails with 2.
//
// An assumption, since Microsoft documents no error for it: Windows protected print mode refuses
// every third-party driver with 3014 (ERROR_PRINTER_DRIVER_BLOCKED, "does not work on the
// operating system"). Every driver added through the call is taken as a third-party one.
//   Wine copies only files that lie in the driver folder's root unless APD_COPY_FROM_DIRECTORY is
//   given; Windows copies from the paths the record gives.
// - DeletePrinterDriverExW: Wine fails with 87 when given DPD_DELETE_ALL_FILES, and with 0 removes
//   the registration only; Windows deletes the driver's store files. Wine deletes a driver that a
//   printer still uses; Windows refuses with 3001.
// - Wine's driver records lack the manufacturer and provider; Windows returns what was added.
//
// The model's own choices: a file named without a folder is looked for in the environment's
// driver folder; only version 3 drivers are modelled (another cVersion is refused with 87, level
// 8 with 124); a file is newer than the store's when its version resource is; with
// DPD_DELETE_ALL_FILES a store file that another process holds open makes the deletion fail with
// 3001 and nothing is removed (Windows deletes the driver only if all its files can go).
// Not modelled: driver packages and the driver store, core drivers, version 4 drivers, dependent
// files shared between drivers beyond their use count.
#include "spooler_internal.h"
#include "name_keys.h"

using namespace winsim;
using namespace winsim::spool;

namespace {

FILETIME FileTime(uint64_t value) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return time;
}

template <typename Record>
void FillCommon(Record& r, Packer& p, const DriverEntry& d) {
  r.cVersion = d.version;
  r.pName = p.Put(d.name);
  r.pEnvironment = p.Put(d.environment);
  r.pDriverPath = p.Put(d.driverPath);
  r.pDataFile = p.Put(d.dataFile);
  r.pConfigFile = p.Put(d.configFile);
}

template <typename Record>
void FillFiles(Record& r, Packer& p, const DriverEntry& d) {
  r.pHelpFile = p.Put(d.helpFile);
  r.pDependentFiles = p.PutMulti(d.dependentFiles);
  r.pMonitorName = p.Put(d.monitorName);
  r.pDefaultDataType = p.Put(d.defaultDataType);
}

void Fill1(DRIVER_INFO_1W& r, Packer& p, const DriverEntry& d) { r.pName = p.Put(d.name); }
void Fill2(DRIVER_INFO_2W& r, Packer& p, const DriverEntry& d) { FillCommon(r, p, d); }
void Fill3(DRIVER_INFO_3W& r, Packer& p, const DriverEntry& d) {
  FillCommon(r, p, d);
  FillFiles(r, p, d);
}
void Fill4(DRIVER_INFO_4W& r, Packer& p, const DriverEntry& d) {
  FillCommon(r, p, d);
  FillFiles(r, p, d);
  r.pszzPreviousNames = p.PutMulti(d.previousNames);
}
void Fill5(DRIVER_INFO_5W& r, Packer& p, const DriverEntry& d) {
  FillCommon(r, p, d);
  r.dwDriverAttributes = 0;
  r.dwConfigVersion = 0;
  r.dwDriverVersion = 0;
}
void Fill6(DRIVER_INFO_6W& r, Packer& p, const DriverEntry& d) {
  FillCommon(r, p, d);
  FillFiles(r, p, d);
  r.pszzPreviousNames = p.PutMulti(d.previousNames);
  r.ftDriverDate = FileTime(d.driverDate);
  r.dwlDriverVersion = d.driverVersion;
  r.pszMfgName = p.Put(d.mfgName);
  r.pszOEMUrl = p.Put(d.oemUrl);
  r.pszHardwareID = p.Put(d.hardwareId);
  r.pszProvider = p.Put(d.provider);
}

BOOL PackDrivers(const std::vector<const DriverEntry*>& items, DWORD level, LPBYTE buffer, DWORD size,
                 LPDWORD needed, LPDWORD returned) {
  switch (level) {
    case 1: return PackRecords<DRIVER_INFO_1W>(items, Fill1, buffer, size, needed, returned);
    case 2: return PackRecords<DRIVER_INFO_2W>(items, Fill2, buffer, size, needed, returned);
    case 3: return PackRecords<DRIVER_INFO_3W>(items, Fill3, buffer, size, needed, returned);
    case 4: return PackRecords<DRIVER_INFO_4W>(items, Fill4, buffer, size, needed, returned);
    case 5: return PackRecords<DRIVER_INFO_5W>(items, Fill5, buffer, size, needed, returned);
    case 6: return PackRecords<DRIVER_INFO_6W>(items, Fill6, buffer, size, needed, returned);
    default: return Fail(ERROR_INVALID_LEVEL);
  }
}

std::u16string FileNameOf(const std::u16string& path) {
  const size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

// Where the spooler looks for a file the record names.
std::u16string SourcePath(const EnvironmentEntry& environment, const std::u16string& name) {
  return name.find_first_of(u"\\/") == std::u16string::npos ? environment.driverDir + u"\\" + name : name;
}

std::vector<std::u16string> MultiString(LPCWSTR text) {
  std::vector<std::u16string> strings;
  for (; text && *text; text += strings.back().size() + 1) strings.emplace_back(text);
  return strings;
}

// Copies a source file into the store, keeping content, attributes and version resource.
// APD_COPY_NEW_FILES (or no copy flag) leaves a store file alone unless the source is newer.
void CopyIntoStore(const std::u16string& source, const std::u16string& target, DWORD copyFlags) {
  const FileEntry from = *FindFile(source);
  const FileEntry* existing = FindFile(target);
  if (existing && !existing->isDirectory && !(copyFlags & APD_COPY_ALL_FILES)) {
    auto key = [](const std::optional<VersionResource>& v) {
      return v ? (uint64_t(v->major) << 48 | uint64_t(v->minor) << 32 | uint64_t(v->patch) << 16 | v->build) : 0;
    };
    if (key(from.version) <= key(existing->version)) return;
  }
  FileEntry& to = PutFile(target, std::string(from.content.begin(), from.content.end()), from.version);
  to.attributes = from.attributes;
}

bool HeldByAnotherProcess(const std::u16string& path) {
  const FileEntry* file = path.empty() ? nullptr : FindFile(path);
  return file && (file->lockedUntil > M().clock.now || file->openHandles > 0);
}

}  // namespace

BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR, LPWSTR environment, DWORD level, LPBYTE directory, DWORD size,
                                       LPDWORD needed) {
  WINSIM_ENTER("GetPrinterDriverDirectoryW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  const EnvironmentEntry* env = ResolveEnvironment(environment);
  if (!env) return FALSE;
  if (level != 1) return Fail(ERROR_INVALID_LEVEL);
  if (!BufferArgumentsValid(directory, size, needed, false, nullptr)) return FALSE;
  const DWORD bytes = static_cast<DWORD>((env->driverDir.size() + 1) * sizeof(WCHAR));
  *needed = bytes;
  if (size < bytes) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(directory, env->driverDir.c_str(), bytes);
  return TRUE;
}

BOOL WINAPI EnumPrinterDriversW(LPWSTR, LPWSTR environment, DWORD level, LPBYTE drivers, DWORD size, LPDWORD needed,
                                LPDWORD returned) {
  WINSIM_ENTER("EnumPrinterDriversW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  const EnvironmentEntry* env = ResolveEnvironment(environment);
  if (!env) return FALSE;
  if (!BufferArgumentsValid(drivers, size, needed, true, returned)) return FALSE;
  std::vector<const DriverEntry*> items;
  for (const DriverEntry& driver : M().spooler.drivers)
    if (SameName(driver.environment, env->name)) items.push_back(&driver);
  return PackDrivers(items, level, drivers, size, needed, returned);
}

// Levels 2, 3, 4 and 6 (5 is no level of this call). Every file the record names (driver, data,
// configuration, a non-empty help file and the dependent files) must exist, else 2; they are
// copied into <driverDir>\3\ by the copy flags (APD_COPY_ALL_FILES: all of them; otherwise only
// those newer than the store's) and the record keeps the store paths. A driver of the same name
// and environment is replaced in place.
BOOL WINAPI AddPrinterDriverExW(LPWSTR, DWORD level, LPBYTE driverInfo, DWORD copyFlags) {
  WINSIM_ENTER("AddPrinterDriverExW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  static const size_t kSizes[] = {0, 0, sizeof(DRIVER_INFO_2W), sizeof(DRIVER_INFO_3W), sizeof(DRIVER_INFO_4W),
                                  0, sizeof(DRIVER_INFO_6W)};
  if (level < 2 || level > 6 || level == 5) return Fail(ERROR_INVALID_LEVEL);
  if (!driverInfo) return Fail(ERROR_INVALID_PARAMETER);
  // Levels 2, 3, 4 and 6 share their leading members.
  DRIVER_INFO_6W info{};
  std::memcpy(&info, driverInfo, kSizes[level]);
  if (info.cVersion != 3 || !info.pName || !*info.pName || !info.pDriverPath || !info.pDataFile || !info.pConfigFile)
    return Fail(ERROR_INVALID_PARAMETER);
  const EnvironmentEntry* env = ResolveEnvironment(info.pEnvironment);
  if (!env) return FALSE;

  std::vector<std::u16string> names = {info.pDriverPath, info.pDataFile, info.pConfigFile};
  const std::u16string help = Text(info.pHelpFile);
  if (!help.empty()) names.push_back(help);
  const std::vector<std::u16string> dependents = MultiString(info.pDependentFiles);
  names.insert(names.end(), dependents.begin(), dependents.end());
  for (const std::u16string& name : names)
    if (!FileExists(SourcePath(*env, name))) return Fail(ERROR_FILE_NOT_FOUND);
  if (ProtectedPrintOn()) return Fail(ERROR_PRINTER_DRIVER_BLOCKED);

  const std::u16string store = env->driverDir + u"\\3\\";
  for (const std::u16string& name : names) CopyIntoStore(SourcePath(*env, name), store + FileNameOf(name), copyFlags);

  DriverEntry driver;
  driver.name = info.pName;
  driver.environment = env->name;
  driver.version = 3;
  driver.driverPath = store + FileNameOf(info.pDriverPath);
  driver.dataFile = store + FileNameOf(info.pDataFile);
  driver.configFile = store + FileNameOf(info.pConfigFile);
  driver.helpFile = help.empty() ? std::u16string() : store + FileNameOf(help);
  for (const std::u16string& name : dependents) driver.dependentFiles.push_back(FileNameOf(name));
  driver.monitorName = OptionalText(info.pMonitorName);
  driver.defaultDataType = OptionalText(info.pDefaultDataType);
  if (level == 4 || level == 6) driver.previousNames = MultiString(info.pszzPreviousNames);
  if (level == 6) {
    driver.driverDate = uint64_t(info.ftDriverDate.dwHighDateTime) << 32 | info.ftDriverDate.dwLowDateTime;
    driver.driverVersion = info.dwlDriverVersion;
    driver.mfgName = OptionalText(info.pszMfgName);
    driver.oemUrl = OptionalText(info.pszOEMUrl);
    driver.hardwareId = OptionalText(info.pszHardwareID);
    driver.provider = OptionalText(info.pszProvider);
  }
  if (DriverEntry* existing = FindDriver(driver.name, driver.environment))
    *existing = driver;
  else
    M().spooler.drivers.push_back(driver);
  SyncSpoolerModules();
  return TRUE;
}

// Checks in this order: the environment (1805), the driver (1797, also when
// DPD_DELETE_SPECIFIC_VERSION names another version), printers using it (3001; printers use the
// local environment's drivers). No file flag: the registration goes, the files stay.
// DPD_DELETE_UNUSED_FILES: the store files no other driver names go too. DPD_DELETE_ALL_FILES:
// the driver goes only if all its files can: one that another driver names, or another process
// holds open, makes the call fail with 3001 and nothing is removed.
BOOL WINAPI DeletePrinterDriverExW(LPWSTR, LPWSTR environment, LPWSTR driverName, DWORD deleteFlags,
                                   DWORD versionFlag) {
  WINSIM_ENTER("DeletePrinterDriverExW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  const EnvironmentEntry* env = ResolveEnvironment(environment);
  if (!env) return FALSE;
  SpoolerState& spooler = M().spooler;
  DriverEntry* driver = driverName ? FindDriver(driverName, env->name) : nullptr;
  if (!driver || ((deleteFlags & DPD_DELETE_SPECIFIC_VERSION) && versionFlag != driver->version))
    return Fail(ERROR_UNKNOWN_PRINTER_DRIVER);
  if (SameName(env->name, kLocalEnvironment))
    for (const PrinterEntry& printer : spooler.printers)
      if (SameName(printer.driverName, driver->name)) return Fail(ERROR_PRINTER_DRIVER_IN_USE);

  std::vector<std::u16string> files = {driver->driverPath, driver->dataFile, driver->configFile, driver->helpFile};
  const std::u16string store = env->driverDir + u"\\3\\";
  for (const std::u16string& name : driver->dependentFiles) files.push_back(store + name);
  auto namedByAnother = [&spooler, driver, &store](const std::u16string& file) {
    for (const DriverEntry& other : spooler.drivers) {
      if (&other == driver) continue;
      for (const std::u16string* path : {&other.driverPath, &other.dataFile, &other.configFile, &other.helpFile})
        if (PathKey(*path) == PathKey(file)) return true;
      for (const std::u16string& name : other.dependentFiles)
        if (PathKey(store + name) == PathKey(file)) return true;
    }
    return false;
  };
  if (deleteFlags & DPD_DELETE_ALL_FILES)
    for (const std::u16string& file : files)
      if (!file.empty() && (HeldByAnotherProcess(file) || namedByAnother(file))) return Fail(ERROR_PRINTER_DRIVER_IN_USE);

  std::vector<std::u16string> unused;
  for (const std::u16string& file : files)
    if (!file.empty() && !HeldByAnotherProcess(file) && !namedByAnother(file)) unused.push_back(file);
  for (auto it = spooler.drivers.begin(); it != spooler.drivers.end(); ++it)
    if (&*it == driver) {
      spooler.drivers.erase(it);
      break;
    }
  SyncSpoolerModules();
  if (deleteFlags & (DPD_DELETE_ALL_FILES | DPD_DELETE_UNUSED_FILES))
    for (const std::u16string& file : unused) RemoveFile(file);
  return TRUE;
}

// The driver of an open printer for an environment (null: the local one), levels 1 to 6.
BOOL WINAPI GetPrinterDriverW(HANDLE printer, LPWSTR environment, DWORD level, LPBYTE info, DWORD size,
                              LPDWORD needed) {
  WINSIM_ENTER("GetPrinterDriverW", FALSE);
  if (!SpoolerAvailable()) return FALSE;
  PrinterHandle* handle = UsableHandle(printer);
  if (!handle) return FALSE;
  const PrinterEntry* entry = HandlePrinter(handle);
  if (!entry) return FALSE;
  const EnvironmentEntry* env = ResolveEnvironment(environment);
  if (!env) return FALSE;
  const DriverEntry* driver = FindDriver(entry->driverName, env->name);
  if (!driver) return Fail(ERROR_UNKNOWN_PRINTER_DRIVER);
  if (!BufferArgumentsValid(info, size, needed, false, nullptr)) return FALSE;
  return PackDrivers({driver}, level, info, size, needed, nullptr);
}

namespace winsim {

// ---- test-side access (not Windows calls: nothing here counts or fails)
DriverEntry* FindDriver(const std::u16string& name, const std::u16string& environment) {
  for (DriverEntry& d : M().spooler.drivers)
    if (SameNoCase(d.name, name) && SameNoCase(d.environment, environment)) return &d;
  return nullptr;
}

}  // namespace winsim
