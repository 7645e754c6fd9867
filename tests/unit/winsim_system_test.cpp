// Pins the Windows behaviour of winsim's files, registry, services and version resources that the
// installer depends on.
#include <gtest/gtest.h>

#include "winsim_fixture.h"

using WinsimSystemTest = MachineTest;

TEST_F(WinsimSystemTest, FilesShareAndLockAsOnWindows) {
  winsim::PutFile(u"C:\\Dir\\a.dll", "abc");
  HANDLE reader = CreateFileW(u"c:\\dir\\A.DLL", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, reader);
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreateFileW(u"C:\\Dir\\a.dll", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
  EXPECT_EQ(32u, GetLastError());
  EXPECT_FALSE(DeleteFileW(u"C:\\Dir\\a.dll"));
  EXPECT_EQ(32u, GetLastError());
  char buffer[8] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(reader, buffer, 8, &read, nullptr));
  EXPECT_EQ(3u, read);
  EXPECT_TRUE(CloseHandle(reader));

  winsim::FindFile(u"C:\\Dir\\a.dll")->loadedBySpooler = true;
  EXPECT_FALSE(DeleteFileW(u"C:\\Dir\\a.dll"));
  EXPECT_EQ(5u, GetLastError());
  winsim::Spooler().state = SERVICE_STOPPED;
  EXPECT_TRUE(DeleteFileW(u"C:\\Dir\\a.dll"));

  EXPECT_FALSE(DeleteFileW(u"C:\\Dir\\a.dll"));
  EXPECT_EQ(2u, GetLastError());
  EXPECT_FALSE(DeleteFileW(u"C:\\Gone\\a.dll"));
  EXPECT_EQ(3u, GetLastError());
  EXPECT_FALSE(DeleteFileW(u"C:\\Dir"));
  EXPECT_EQ(5u, GetLastError());
  EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, GetFileAttributesW(u"C:\\Dir\\"));

  // Overwriting a hidden or system file needs the same attributes in the flags; read-only never.
  winsim::PutFile(u"C:\\Dir\\h.dll", "h").attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreateFileW(u"C:\\Dir\\h.dll", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
  EXPECT_EQ(5u, GetLastError());
  HANDLE same = CreateFileW(u"C:\\Dir\\h.dll", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, same);
  CloseHandle(same);
  HANDLE reading = CreateFileW(u"C:\\Dir\\h.dll", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, reading);
  CloseHandle(reading);
  EXPECT_TRUE(SetFileAttributesW(u"C:\\Dir\\h.dll", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), GetFileAttributesW(u"C:\\Dir\\h.dll"));
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(u"C:\\Dir\\h.dll", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_READONLY, nullptr));
  EXPECT_EQ(5u, GetLastError());
  EXPECT_TRUE(SetFileAttributesW(u"C:\\Dir\\h.dll", 0));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), GetFileAttributesW(u"C:\\Dir\\h.dll"));
  EXPECT_TRUE(SetFileAttributesW(u"C:\\Dir", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), GetFileAttributesW(u"C:\\Dir"));
  EXPECT_FALSE(SetFileAttributesW(u"C:\\Gone\\x.dll", 0));
  EXPECT_EQ(3u, GetLastError());

  winsim::PutFile(u"C:\\Dir\\b.dll", "x");
  winsim::LockFile(u"C:\\Dir\\b.dll", 500);
  EXPECT_FALSE(DeleteFileW(u"C:\\Dir\\b.dll"));
  Sleep(500);
  EXPECT_TRUE(DeleteFileW(u"C:\\Dir\\b.dll"));
}

TEST_F(WinsimSystemTest, DeleteAtRebootAppendsToPendingRenamesAndRebootCarriesItOut) {
  auto strings = [](const char16_t* name) {
    const winsim::RegValue* value = winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, name);
    if (!value) return std::string("(none)");
    std::string text;
    for (size_t i = 0; i + 1 < value->data.size(); i += 2) text += value->data[i] ? static_cast<char>(value->data[i]) : '|';
    return text;
  };
  const char16_t* const kMon = u"C:\\Windows\\system32\\mlxmon64.dll";
  // Earlier builds: the documented form, always the first value.
  winsim::M().files.pendingFormOfEarlierBuilds = true;
  winsim::PutFile(kMon, "m");
  winsim::SetRegMultiString(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue,
                            {u"\\??\\C:\\old.tmp", u"\\??\\C:\\new.tmp"});
  winsim::SetRegMultiString(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenames2Value, {});
  EXPECT_TRUE(MoveFileExW(kMon, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ("\\??\\C:\\old.tmp|\\??\\C:\\new.tmp|\\??\\C:\\Windows\\system32\\mlxmon64.dll|||",
            strings(winsim::kPendingRenamesValue));
  EXPECT_TRUE(winsim::FileExists(kMon));
  winsim::Reboot();
  EXPECT_FALSE(winsim::FileExists(kMon));
  EXPECT_EQ("(none)", strings(winsim::kPendingRenamesValue));
  EXPECT_EQ("(none)", strings(winsim::kPendingRenames2Value));

  // Current builds: the marker; the second value once it exists, or once the first is too large.
  winsim::M().files.pendingFormOfEarlierBuilds = false;
  winsim::M().files.pendingValueLimit = 120;  // three pairs of these
  for (const char16_t* file : {u"C:\\T\\a.dll", u"C:\\T\\b.dll", u"C:\\T\\c.dll", u"C:\\T\\d.dll"}) {
    winsim::PutFile(file, "x");
    EXPECT_TRUE(MoveFileExW(file, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  }
  EXPECT_EQ("*1\\??\\C:\\T\\a.dll||*1\\??\\C:\\T\\b.dll||*1\\??\\C:\\T\\c.dll|||", strings(winsim::kPendingRenamesValue));
  EXPECT_EQ("*1\\??\\C:\\T\\d.dll|||", strings(winsim::kPendingRenames2Value));
  winsim::M().files.pendingValueLimit = 64 * 1024;
  winsim::PutFile(u"C:\\T\\e.dll", "x");
  EXPECT_TRUE(MoveFileExW(u"C:\\T\\e.dll", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ("*1\\??\\C:\\T\\d.dll||*1\\??\\C:\\T\\e.dll|||", strings(winsim::kPendingRenames2Value));
  // Both values at boot, marked or not.
  winsim::PutFile(u"C:\\T\\f.dll", "x");
  winsim::PutFile(u"C:\\T\\g.dll", "x");
  winsim::SetRegMultiString(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue,
                            {u"*2\\??\\C:\\T\\f.dll", u"", u"\\??\\C:\\T\\g.dll", u"", u"*\\??\\C:\\T\\a.dll", u""});
  winsim::Reboot();
  for (const char16_t* file : {u"C:\\T\\d.dll", u"C:\\T\\e.dll", u"C:\\T\\f.dll", u"C:\\T\\g.dll"})
    EXPECT_FALSE(winsim::FileExists(file)) << Narrow(file);
  EXPECT_TRUE(winsim::FileExists(u"C:\\T\\a.dll"));  // "*" without digits is no marker
  EXPECT_TRUE(winsim::FileExists(u"C:\\T\\b.dll"));  // its entry was overwritten
  EXPECT_EQ("(none)", strings(winsim::kPendingRenames2Value));

  // Session Manager works on NT paths, in order, until an empty source: a delete and a rename onto
  // the same file replace it; a rename onto an existing file needs "!"; a folder goes only empty.
  for (const char16_t* file : {u"C:\\A\\in.dll", u"C:\\A\\in.new", u"C:\\A\\keep.dll", u"C:\\A\\keep.new",
                               u"C:\\A\\over.dll", u"C:\\A\\over.new", u"C:\\A\\bare.dll", u"C:\\A\\late.dll",
                               u"C:\\Full\\f.dll"})
    winsim::PutFile(file, Narrow(file));
  winsim::PutFolder(u"C:\\Empty");
  winsim::SetRegMultiString(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue,
                            {u"\\??\\C:\\A\\in.dll", u"", u"\\??\\C:\\A\\in.new", u"\\??\\C:\\A\\in.dll",
                             u"\\??\\C:\\A\\keep.new", u"\\??\\C:\\A\\keep.dll",
                             u"\\??\\C:\\A\\over.new", u"!\\??\\C:\\A\\over.dll",
                             u"C:\\A\\bare.dll", u"", u"\\??\\UNC\\server\\share\\x", u"",
                             u"\\??\\C:\\Full", u"", u"\\??\\C:\\Empty", u"", u"", u"",
                             u"\\??\\C:\\A\\late.dll", u""});
  winsim::Reboot();
  auto content = [](const char16_t* path) {
    const winsim::FileEntry* entry = winsim::FindFile(path);
    return entry ? std::string(entry->content.begin(), entry->content.end()) : std::string("(none)");
  };
  EXPECT_EQ("C:\\A\\in.new", content(u"C:\\A\\in.dll"));
  EXPECT_EQ("(none)", content(u"C:\\A\\in.new"));
  EXPECT_EQ("C:\\A\\keep.dll", content(u"C:\\A\\keep.dll"));
  EXPECT_EQ("C:\\A\\keep.new", content(u"C:\\A\\keep.new"));
  EXPECT_EQ("C:\\A\\over.new", content(u"C:\\A\\over.dll"));
  EXPECT_TRUE(winsim::FileExists(u"C:\\A\\bare.dll"));
  EXPECT_NE(nullptr, winsim::FindFile(u"C:\\Full"));
  EXPECT_EQ(nullptr, winsim::FindFile(u"C:\\Empty"));
  EXPECT_TRUE(winsim::FileExists(u"C:\\A\\late.dll"));
}

TEST_F(WinsimSystemTest, RegistryQueryFollowsTheSizeProtocol) {
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", u"MarbleleafTray",
                      REG_SZ, {'a', 0, 'b', 0});  // stored without a terminator
  HKEY key = nullptr;
  ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                             KEY_ALL_ACCESS, &key));
  DWORD size = 0, type = 0;
  EXPECT_EQ(0, RegQueryValueExW(key, u"marbleleaftray", nullptr, &type, nullptr, &size));
  EXPECT_EQ(4u, size);
  BYTE small[2];
  size = 2;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(key, u"MarbleleafTray", nullptr, nullptr, small, &size));
  WCHAR text[4] = {u'x', u'x', u'x', u'x'};
  size = sizeof(text);
  EXPECT_EQ(0, RegQueryValueExW(key, u"MarbleleafTray", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size));
  EXPECT_EQ(u'x', text[2]);  // not terminated by Windows
  EXPECT_EQ(0, RegDeleteValueA(key, "MarbleleafTray"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key, "MarbleleafTray"));
  EXPECT_EQ(0, RegCloseKey(key));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nope", 0, KEY_READ, &key));
  ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExW(key, u"v", 0, REG_SZ, small, 2));
  RegCloseKey(key);
}

TEST_F(WinsimSystemTest, RegistryKeysAreCreatedEnumeratedAndDeletedAsOnWindows) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker\\Product\\Journal", 0, nullptr, 0,
                               KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  EXPECT_TRUE(winsim::RegKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker\\Product"));  // parents too
  const BYTE data[4] = {'a', 0, 0, 0};
  EXPECT_EQ(0, RegSetValueExW(key, u"Second", 0, REG_MULTI_SZ, data, 4));
  EXPECT_EQ(0, RegSetValueExW(key, u"first", 0, REG_BINARY, data, 1));
  WCHAR name[8];
  DWORD chars = 8, type = 0, bytes = 4;
  BYTE out[4] = {0};
  EXPECT_EQ(0, RegEnumValueW(key, 0, name, &chars, nullptr, &type, out, &bytes));
  EXPECT_EQ("first", Narrow(name));
  EXPECT_EQ(5u, chars);
  EXPECT_EQ(1u, bytes);
  chars = 6;  // "Second" needs 7 with its terminator
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(key, 1, name, &chars, nullptr, &type, out, &bytes));
  chars = 8;
  bytes = 3;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(key, 1, name, &chars, nullptr, &type, out, &bytes));
  EXPECT_EQ(4u, bytes);
  chars = 8;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueW(key, 2, name, &chars, nullptr, &type, out, &bytes));
  EXPECT_EQ(0, RegDeleteValueW(key, u"SECOND"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, u"Second"));
  EXPECT_EQ(0, RegCloseKey(key));
  ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\maker\\product\\journal", 0, nullptr, 0, KEY_READ,
                               nullptr, &key, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  RegCloseKey(key);
  // A key with a subkey stays; without, it goes with its values.
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker\\Product"));
  EXPECT_EQ(0, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker\\Product\\Journal"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker\\Product\\Journal"));
  EXPECT_TRUE(winsim::RegKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker\\Product"));
}

TEST_F(WinsimSystemTest, SpoolerServiceStopsAndStartsInVirtualTime) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, 0xF0001);
  SC_HANDLE service = OpenServiceW(manager, u"spooler", 0x34);
  ASSERT_NE(nullptr, service);
  SERVICE_STATUS status = {};
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), status.dwCurrentState);
  EXPECT_FALSE(winsim::SpoolerRunning());
  Sleep(200);
  QueryServiceStatus(service, &status);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(1062u, GetLastError());
  EXPECT_TRUE(StartServiceW(service, 0, nullptr));
  EXPECT_FALSE(StartServiceW(service, 0, nullptr));
  EXPECT_EQ(1056u, GetLastError());
  Sleep(200);
  EXPECT_TRUE(winsim::SpoolerRunning());
  SC_HANDLE queryOnly = OpenServiceW(manager, u"Spooler", 0x14);
  EXPECT_FALSE(ControlService(queryOnly, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(5u, GetLastError());
  EXPECT_EQ(nullptr, OpenServiceW(manager, u"nosuch", 0x14));
  EXPECT_EQ(1060u, GetLastError());
  CloseServiceHandle(queryOnly);

  // A running dependent keeps the spooler from stopping; EnumDependentServicesW lists it (size, then
  // fill, records before their names) given the right to.
  winsim::PutService(u"Fax", {u"Spooler"});
  winsim::PutService(u"Stopped", {u"Spooler"}).state = SERVICE_STOPPED;
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(1051u, GetLastError());
  DWORD needed = 0, count = 7;
  EXPECT_FALSE(EnumDependentServicesW(service, SERVICE_ACTIVE, nullptr, 0, &needed, &count));
  EXPECT_EQ(5u, GetLastError());
  SC_HANDLE lister = OpenServiceW(manager, u"spooler", SERVICE_ENUMERATE_DEPENDENTS);
  EXPECT_FALSE(EnumDependentServicesW(lister, SERVICE_ACTIVE, nullptr, 0, &needed, &count));
  EXPECT_EQ(234u, GetLastError());
  EXPECT_EQ(sizeof(ENUM_SERVICE_STATUSW) + 16u, needed);
  std::vector<uint8_t> block(256);
  auto* records = reinterpret_cast<LPENUM_SERVICE_STATUSW>(block.data());
  EXPECT_FALSE(EnumDependentServicesW(lister, SERVICE_ACTIVE, records, needed - 1, &needed, &count));
  EXPECT_EQ(234u, GetLastError());
  ASSERT_TRUE(EnumDependentServicesW(lister, SERVICE_ACTIVE, records, needed, &needed, &count));
  ASSERT_EQ(1u, count);
  EXPECT_EQ("Fax", Narrow(records[0].lpServiceName));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), records[0].ServiceStatus.dwCurrentState);
  EXPECT_TRUE(EnumDependentServicesW(lister, SERVICE_INACTIVE, records, 256, &needed, &count));
  EXPECT_EQ("Stopped", Narrow(records[0].lpServiceName));
  SC_HANDLE fax = OpenServiceW(manager, u"Fax", 0x34);
  EXPECT_TRUE(ControlService(fax, SERVICE_CONTROL_STOP, &status));
  Sleep(100);
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  Sleep(100);
  // Starting the dependent starts the spooler first.
  EXPECT_TRUE(StartServiceW(fax, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), winsim::Spooler().state);
  Sleep(100);
  QueryServiceStatus(fax, &status);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), status.dwCurrentState);  // after the spooler
  Sleep(100);
  QueryServiceStatus(fax, &status);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
  EXPECT_TRUE(winsim::SpoolerRunning());
  CloseServiceHandle(fax);
  CloseServiceHandle(lister);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

TEST_F(WinsimSystemTest, VersionResourceGivesTheProductVersion) {
  winsim::PutFile(u"C:\\m.dll", "m", winsim::VersionResource{1, 2, 3, 4});
  winsim::PutFile(u"C:\\plain.dll", "p");
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(u"C:\\m.dll", &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(u"C:\\m.dll", handle, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", reinterpret_cast<LPVOID*>(&fixed), &length));
  EXPECT_EQ(sizeof(VS_FIXEDFILEINFO), length);
  EXPECT_EQ(0x00010002u, fixed->dwProductVersionMS);
  EXPECT_EQ(0x00030004u, fixed->dwProductVersionLS);
  EXPECT_EQ(0u, GetFileVersionInfoSizeW(u"C:\\plain.dll", &handle));
  EXPECT_EQ(1812u, GetLastError());
}

TEST_F(WinsimSystemTest, DoubledSeparatorsNameTheSameFileAsOnWindows) {
  winsim::PutFolder(u"C:\\Dest");
  HANDLE file = CreateFileW(u"C:\\Dest/\\m.dll", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_TRUE(winsim::FileExists(u"C:\\Dest\\m.dll"));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(u"C:\\\\Dest\\\\m.dll"));
  EXPECT_TRUE(DeleteFileW(u"C://Dest//m.dll"));
  EXPECT_FALSE(winsim::FileExists(u"C:\\Dest\\m.dll"));
  EXPECT_EQ(winsim::PathKey(u"\\\\SERVER\\SHARE\\X"), winsim::PathKey(u"\\\\server\\\\share\\x"));
}

TEST_F(WinsimSystemTest, ACopyThroughReadAndWriteCarriesTheVersionResource) {
  winsim::PutFile(u"C:\\src\\m.dll", "module", winsim::Build(2073));
  HANDLE in = CreateFileW(u"C:\\src\\m.dll", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE out = CreateFileW(u"C:\\src\\copy.dll", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  BYTE buffer[16];
  DWORD read = 0, written = 0;
  while (ReadFile(in, buffer, sizeof(buffer), &read, nullptr) && read) WriteFile(out, buffer, read, &written, nullptr);
  CloseHandle(out);
  CloseHandle(in);
  const winsim::FileEntry* copy = winsim::FindFile(u"C:\\src\\copy.dll");
  ASSERT_TRUE(copy && copy->version);
  EXPECT_EQ(2073, copy->version->build);
  EXPECT_EQ("module", std::string(copy->content.begin(), copy->content.end()));
}

// A registry at its quota refuses what would grow it and changes nothing; what fits still works.
TEST_F(WinsimSystemTest, RegistryWritesBeyondTheQuotaFailWith613) {
  HKEY key = nullptr;
  ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                               nullptr));
  const BYTE data[10] = {'a', 0, 'b', 0, 'c', 0, 'd', 0, 0, 0};
  ASSERT_EQ(0, RegSetValueExW(key, u"v", 0, REG_SZ, data, 8));
  winsim::M().registry.quotaBytes = winsim::RegistryBytes();
  EXPECT_EQ(ERROR_REGISTRY_QUOTA_LIMIT, RegSetValueExW(key, u"w", 0, REG_SZ, data, 2));
  EXPECT_EQ(ERROR_REGISTRY_QUOTA_LIMIT, RegSetValueExW(key, u"v", 0, REG_SZ, data, 10));  // grown
  EXPECT_EQ(0, RegSetValueExW(key, u"v", 0, REG_SZ, data, 4));  // smaller: fits
  HKEY child = nullptr;
  EXPECT_EQ(ERROR_REGISTRY_QUOTA_LIMIT, RegCreateKeyExA(key, "Child", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &child,
                                                        nullptr));
  EXPECT_EQ(nullptr, child);
  EXPECT_FALSE(winsim::RegKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker\\Child"));
  HKEY same = nullptr;
  EXPECT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &same,
                               nullptr));  // opening what exists needs no room
  EXPECT_EQ(0, RegCloseKey(same));
  EXPECT_EQ(0, RegCloseKey(key));
  EXPECT_EQ(4u, winsim::GetRegValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker", u"v")->data.size());
}

// RegEnumValueW steps on from the last index it gave; any value set or deleted in between makes
// it count from the first again, so each index still names the index-th value in sorted order.
TEST_F(WinsimSystemTest, EnumeratingValuesWhileTheyChangeGivesTheIndexthValue) {
  HKEY key = nullptr;
  ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Maker\\Many", 0, nullptr, 0,
                               KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr));
  const BYTE data[2] = {0, 0};
  for (const char16_t* name : {u"b", u"d", u"f", u"h"}) ASSERT_EQ(0, RegSetValueExW(key, name, 0, REG_SZ, data, 2));
  auto at = [key](DWORD index) {
    WCHAR name[8];
    DWORD chars = 8;
    const LSTATUS status = RegEnumValueW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    return status == ERROR_SUCCESS ? Narrow(name) : std::to_string(status);
  };
  struct Step {
    const char16_t* set;     // set before the read, or null
    const char16_t* remove;  // deleted before the read, or null
    DWORD index;
    const char* expected;
  } steps[] = {
      {nullptr, nullptr, 0, "b"}, {nullptr, nullptr, 1, "d"}, {u"a", nullptr, 2, "d"},  // "a" sorts first
      {nullptr, nullptr, 3, "f"}, {nullptr, u"b", 4, "259"},                               // ERROR_NO_MORE_ITEMS
      {nullptr, nullptr, 1, "d"}, {nullptr, u"d", 2, "h"}, {nullptr, nullptr, 0, "a"},  {nullptr, nullptr, 1, "f"},
  };
  for (const Step& step : steps) {
    if (step.set) {
      ASSERT_EQ(0, RegSetValueExW(key, step.set, 0, REG_SZ, data, 2));
    }
    if (step.remove) {
      ASSERT_EQ(0, RegDeleteValueW(key, step.remove));
    }
    EXPECT_EQ(step.expected, at(step.index)) << step.index;
  }
  RegCloseKey(key);
}
