// The simulated print spooler: the Windows rules the installer relies on.
#include <vector>

#include "winsim_fixture.h"

using namespace winsim;

namespace {

const std::u16string kDriver = u"Marbleleaf Server";
const std::u16string kPort = u"MarbleleafServer:";

class SpoolerTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    PutMonitor(kPort, u"mlxmon64.dll");
    PutDriver(kDriver, u"Windows x64", u"mlxdrv64.dll", u"mlxui64.dll", u"mlxhelp.chm");
  }

  static void StopSpooler() { Spooler().state = SERVICE_STOPPED; }

  // A level-2 record as the installer builds it for AddPrinterW.
  struct NewPrinter {
    std::u16string name, port = kPort, driver = kDriver, processor = u"WinPrint", comment;
    PRINTER_INFO_2W info{};
    PRINTER_INFO_2W* Record() {
      info.pPrinterName = &name[0];
      info.pPortName = &port[0];
      info.pDriverName = &driver[0];
      info.pPrintProcessor = &processor[0];
      info.pComment = &comment[0];
      return &info;
    }
  };

  static HANDLE Add(const std::u16string& name) {
    NewPrinter p;
    p.name = name;
    return AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(p.Record()));
  }

  static DWORD AddError(NewPrinter& p) {
    SetLastError(0);
    HANDLE h = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(p.Record()));
    EXPECT_EQ(h, nullptr);
    return GetLastError();
  }

  static HANDLE Open(const std::u16string& name, ACCESS_MASK access) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, access};
    std::u16string copy = name;
    HANDLE h = nullptr;
    EXPECT_TRUE(OpenPrinterW(&copy[0], &h, access ? &defaults : nullptr)) << Narrow(name);
    return h;
  }

  // Size then fill, as the product does it.
  static std::vector<BYTE> FetchPrinters(DWORD level, DWORD* count) {
    DWORD needed = 0;
    *count = 0;
    EXPECT_FALSE(EnumPrintersW(6, nullptr, level, nullptr, 0, &needed, count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> block(needed);
    EXPECT_TRUE(EnumPrintersW(6, nullptr, level, block.data(), needed, &needed, count));
    EXPECT_EQ(needed, block.size());
    return block;
  }
};

// Every pointer of a record lies in the block's string area, after all the records.
void ExpectInStringArea(const std::vector<BYTE>& block, size_t records, const void* text) {
  if (!text) return;
  const BYTE* at = static_cast<const BYTE*>(text);
  EXPECT_GE(at, block.data() + records);
  EXPECT_LT(at, block.data() + block.size());
}

TEST_F(SpoolerTest, EveryCallFailsWith1722WhileTheServiceIsStopped) {
  HANDLE h = Add(u"P1");
  ASSERT_NE(h, nullptr);
  StopSpooler();
  DWORD needed = 0, count = 0, type = 0;
  BYTE data[8];
  std::u16string name = u"P1";
  HANDLE other = nullptr;
  WCHAR buffer[64];
  DWORD size = 64;
  const std::vector<std::pair<const char*, bool>> results = {
      {"EnumPrintersW", EnumPrintersW(6, nullptr, 2, nullptr, 0, &needed, &count) != 0},
      {"OpenPrinterW", OpenPrinterW(&name[0], &other, nullptr) != 0},
      {"GetPrinterW", GetPrinterW(h, 2, nullptr, 0, &needed) != 0},
      {"SetPrinterW", SetPrinterW(h, 0, nullptr, PRINTER_CONTROL_PURGE) != 0},
      {"AddPrinterW", Add(u"P2") != nullptr},
      {"DeletePrinter", DeletePrinter(h) != 0},
      {"ClosePrinter", ClosePrinter(h) != 0},
      {"GetDefaultPrinterW", GetDefaultPrinterW(buffer, &size) != 0},
      {"SetDefaultPrinterW", SetDefaultPrinterW(u"P1") != 0},
      {"EnumMonitorsW", EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count) != 0},
      {"AddMonitorW", AddMonitorW(nullptr, 2, nullptr) != 0},
      {"DeleteMonitorW", DeleteMonitorW(nullptr, nullptr, nullptr) != 0},
      {"GetPrinterDriverDirectoryW", GetPrinterDriverDirectoryW(nullptr, nullptr, 1, nullptr, 0, &needed) != 0},
      {"EnumPrinterDriversW", EnumPrinterDriversW(nullptr, nullptr, 6, nullptr, 0, &needed, &count) != 0},
      {"AddPrinterDriverExW", AddPrinterDriverExW(nullptr, 6, nullptr, APD_COPY_ALL_FILES) != 0},
      {"DeletePrinterDriverExW", DeletePrinterDriverExW(nullptr, nullptr, nullptr, 0, 0) != 0},
      {"GetPrinterDriverW", GetPrinterDriverW(h, nullptr, 2, nullptr, 0, &needed) != 0},
  };
  for (const auto& result : results) {
    EXPECT_FALSE(result.second) << result.first;
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(M().spooler.monitors.size(), 3u);
  EXPECT_EQ(M().spooler.drivers.size(), 1u);
  char value[] = "SubKey";
  EXPECT_EQ(GetPrinterDataA(h, value, &type, data, sizeof data, &needed), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(SetPrinterDataExA(h, "DsUser", "SubKey", REG_SZ, data, 1), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(M().spooler.printers.size(), 1u);  handlesLeftOpen = 1;  // P1's: its close failed while the spooler was stopped
}

TEST_F(SpoolerTest, EnumPrintersPacksRecordsThenStringsAndFollowsSizeThenFill) {
  // No printers: success with nothing to fill.
  DWORD needed = 99, count = 99;
  EXPECT_TRUE(EnumPrintersW(6, nullptr, 2, nullptr, 0, &needed, &count));
  EXPECT_EQ(needed, 0u);
  EXPECT_EQ(count, 0u);

  PrinterEntry& first = PutPrinter(u"Office", kDriver, u"LPT1:,MarbleleafServer:");
  first.comment = u"second floor";
  PrinterEntry& shared = PutPrinter(u"\\\\srv\\Shared", u"Other", u"LPT1:");
  shared.connection = true;
  shared.owners.insert(kFirstAdminSid);  // the caller's own connection
  PutPrinter(u"Label", kDriver, kPort);

  std::vector<BYTE> block = FetchPrinters(2, &count);
  ASSERT_EQ(count, 3u);
  auto* records = reinterpret_cast<PRINTER_INFO_2W*>(block.data());
  EXPECT_EQ(Narrow(records[0].pPrinterName), "Office");
  EXPECT_EQ(Narrow(records[0].pPortName), "LPT1:,MarbleleafServer:");
  EXPECT_EQ(Narrow(records[0].pComment), "second floor");
  EXPECT_EQ(records[0].pShareName, nullptr);
  EXPECT_EQ(records[0].pServerName, nullptr);
  EXPECT_EQ(Narrow(records[1].pServerName), "\\\\srv");
  EXPECT_EQ(Narrow(records[2].pPrinterName), "Label");
  for (DWORD i = 0; i < count; ++i) {
    ExpectInStringArea(block, 3 * sizeof(PRINTER_INFO_2W), records[i].pPrinterName);
    ExpectInStringArea(block, 3 * sizeof(PRINTER_INFO_2W), records[i].pPortName);
    ExpectInStringArea(block, 3 * sizeof(PRINTER_INFO_2W), records[i].pDriverName);
  }
  // Strings follow in record order: the first record's name opens the string area.
  EXPECT_EQ(reinterpret_cast<BYTE*>(records[0].pPrinterName), block.data() + 3 * sizeof(PRINTER_INFO_2W));

  // Only connections, levels 1 and 4, and an unknown level.
  std::vector<BYTE> small(block.size());
  EXPECT_TRUE(EnumPrintersW(PRINTER_ENUM_CONNECTIONS, nullptr, 4, small.data(), static_cast<DWORD>(small.size()),
                            &needed, &count));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Narrow(reinterpret_cast<PRINTER_INFO_4W*>(small.data())->pPrinterName), "\\\\srv\\Shared");
  block = FetchPrinters(1, &count);
  EXPECT_EQ(Narrow(reinterpret_cast<PRINTER_INFO_1W*>(block.data())->pDescription),
            "Office,Marbleleaf Server,");
  EXPECT_FALSE(EnumPrintersW(6, nullptr, 3, nullptr, 0, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));

  // One byte short is too small and reports the same need.
  DWORD level2 = 0;
  EXPECT_FALSE(EnumPrintersW(6, nullptr, 2, nullptr, 0, &level2, &count));
  block.assign(level2, 0);
  EXPECT_FALSE(EnumPrintersW(6, nullptr, 2, block.data(), level2 - 1, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, level2);
  EXPECT_EQ(count, 0u);
}

TEST_F(SpoolerTest, APrinterAddedBetweenSizeAndFillMakesTheFillFailAgain) {
  PutPrinter(u"Office", kDriver, kPort);
  M().spooler.beforeEnumPrintersFill = [] { PutPrinter(u"Late arrival", kDriver, kPort); };
  DWORD needed = 0, count = 0;
  ASSERT_FALSE(EnumPrintersW(6, nullptr, 2, nullptr, 0, &needed, &count));
  std::vector<BYTE> block(needed);
  const DWORD sized = needed;
  EXPECT_FALSE(EnumPrintersW(6, nullptr, 2, block.data(), sized, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_GT(needed, sized);
  EXPECT_EQ(count, 0u);
  // The hook ran once; asking again with the new size succeeds.
  block.assign(needed, 0);
  EXPECT_TRUE(EnumPrintersW(6, nullptr, 2, block.data(), needed, &needed, &count));
  EXPECT_EQ(count, 2u);
}

TEST_F(SpoolerTest, AddPrinterChecksNameDriverPortAndProcessorAsWindowsDoes) {
  PutPrinter(u"Office", kDriver, kPort);
  NewPrinter p;
  p.name = u"OFFICE";
  EXPECT_EQ(AddError(p), static_cast<DWORD>(ERROR_PRINTER_ALREADY_EXISTS));
  p.name = u"New";
  p.driver = u"Marbleleaf server ";
  EXPECT_EQ(AddError(p), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
  // The x86 driver alone does not make a printer possible on x64.
  PutDriver(u"Only x86", u"Windows NT x86", u"a.dll", u"b.dll");
  p.driver = u"Only x86";
  EXPECT_EQ(AddError(p), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
  p.driver = kDriver;
  p.port = u"LPT1:,Nowhere:";
  EXPECT_EQ(AddError(p), static_cast<DWORD>(ERROR_UNKNOWN_PORT));
  p.port = kPort;
  p.processor = u"NoSuchProc";
  EXPECT_EQ(AddError(p), static_cast<DWORD>(ERROR_UNKNOWN_PRINTPROCESSOR));
  p.processor = u"WinPrint";
  p.Record()->Attributes = PRINTER_ATTRIBUTE_SHARED;
  EXPECT_EQ(AddError(p), static_cast<DWORD>(ERROR_INVALID_SHARENAME));
  EXPECT_EQ(M().spooler.printers.size(), 1u);

  // The installer's record: null datatype, zero attributes and priority, empty comment.
  HANDLE h = Add(u"mblServer");
  ASSERT_NE(h, nullptr);
  const PrinterEntry* added = FindPrinter(u"mblServer");
  ASSERT_NE(added, nullptr);
  EXPECT_FALSE(added->datatype.has_value());  // kept as given; enumerated as "RAW"
  EXPECT_EQ(added->attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_LOCAL));
  EXPECT_EQ(added->priority, 1u);
  EXPECT_EQ(Narrow(*added->comment), "");
  EXPECT_FALSE(added->location.has_value());
  EXPECT_EQ(M().spooler.handles.at(reinterpret_cast<uintptr_t>(h)).access,
            static_cast<ACCESS_MASK>(PRINTER_ALL_ACCESS));
  EXPECT_TRUE(ClosePrinter(h));
}

TEST_F(SpoolerTest, GetAndSetPrinterLevel2RoundTripWithWindowsChecks) {
  PrinterEntry& entry = PutPrinter(u"Office", kDriver, kPort);
  entry.comment = u"old";
  entry.location = u"hall";
  HANDLE user = Open(u"Office", 0);
  HANDLE admin = Open(u"Office", PRINTER_ALL_ACCESS);

  DWORD needed = 0;
  EXPECT_FALSE(GetPrinterW(admin, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> block(needed);
  ASSERT_TRUE(GetPrinterW(admin, 2, block.data(), needed, &needed));
  auto* info = reinterpret_cast<PRINTER_INFO_2W*>(block.data());
  EXPECT_EQ(Narrow(info->pLocation), "hall");
  ExpectInStringArea(block, sizeof(PRINTER_INFO_2W), info->pComment);

  // A handle opened for use only may not change the printer.
  EXPECT_FALSE(SetPrinterW(user, 2, block.data(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(SetPrinterW(user, 0, nullptr, PRINTER_CONTROL_PURGE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // A new driver must be known; each port of a list must exist.
  LPWSTR ownDriver = info->pDriverName;
  WCHAR otherDriver[] = u"Unknown Driver";
  info->pDriverName = otherDriver;
  EXPECT_FALSE(SetPrinterW(admin, 2, block.data(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
  info->pDriverName = ownDriver;
  WCHAR badPorts[] = u"FILE:,Gone:";
  info->pPortName = badPorts;
  EXPECT_FALSE(SetPrinterW(admin, 2, block.data(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PORT));
  EXPECT_EQ(Narrow(FindPrinter(u"Office")->portName), "MarbleleafServer:");

  WCHAR ports[] = u"file:,MarbleleafServer:";
  info->pPortName = ports;
  info->pComment = nullptr;  // Windows writes the whole record: a null comment clears it
  info->Attributes |= PRINTER_ATTRIBUTE_SHARED;
  EXPECT_FALSE(SetPrinterW(admin, 2, block.data(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SHARENAME));
  WCHAR share[] = u"office";
  info->pShareName = share;
  ASSERT_TRUE(SetPrinterW(admin, 2, block.data(), 0));
  const PrinterEntry* now = FindPrinter(u"Office");
  EXPECT_EQ(Narrow(now->portName), "file:,MarbleleafServer:");
  EXPECT_FALSE(now->comment.has_value());
  EXPECT_EQ(Narrow(*now->location), "hall");
  EXPECT_EQ(Narrow(*now->shareName), "office");
  EXPECT_EQ(now->attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_SHARED));

  FindPrinter(u"Office")->jobs = 3;
  EXPECT_TRUE(SetPrinterW(admin, 0, nullptr, PRINTER_CONTROL_PURGE));
  EXPECT_EQ(FindPrinter(u"Office")->purges, 1);
  EXPECT_EQ(FindPrinter(u"Office")->jobs, 0u);
  EXPECT_TRUE(ClosePrinter(user));
  EXPECT_TRUE(ClosePrinter(admin));
}

TEST_F(SpoolerTest, DeletePrinterNeedsDeleteAccessAndLeavesOnlyDeadHandles) {
  PutPrinter(u"Office", kDriver, kPort);
  M().spooler.defaultPrinter = u"Office";
  HANDLE admin = Open(u"Office", PRINTER_ACCESS_ADMINISTER);
  HANDLE deleter = Open(u"Office", DELETE | PRINTER_ACCESS_ADMINISTER);
  EXPECT_FALSE(DeletePrinter(admin));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(DeletePrinter(deleter));
  EXPECT_EQ(FindPrinter(u"Office"), nullptr);
  EXPECT_EQ(M().spooler.defaultPrinter, u"");

  // Both handles are dead, even once a printer of the same name is back.
  PutPrinter(u"Office", kDriver, kPort);
  DWORD needed = 0;
  for (HANDLE h : {admin, deleter}) {
    EXPECT_FALSE(GetPrinterW(h, 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(ClosePrinter(h));
  }
  EXPECT_FALSE(ClosePrinter(admin));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(M().spooler.handles.empty());

  std::u16string unknown = u"Nobody";
  HANDLE h = reinterpret_cast<HANDLE>(1);
  EXPECT_FALSE(OpenPrinterW(&unknown[0], &h, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  EXPECT_EQ(h, nullptr);
}

// Held open by another process or printing a job, a deleted printer is only marked: its name
// stays taken, it keeps its driver and gives no new handle, until the spooler stops.
TEST_F(SpoolerTest, APrinterHeldElsewhereIsPendingDeletionUntilTheSpoolerStops) {
  PutPrinter(u"Held", kDriver, kPort).otherHandles = 1;
  PutPrinter(u"Printing", kDriver, kPort).jobPrinting = true;
  for (const char16_t* name : {u"Held", u"Printing"}) {
    HANDLE h = Open(name, DELETE);
    SetPrinterW(h, 0, nullptr, PRINTER_CONTROL_PURGE);
    EXPECT_TRUE(DeletePrinter(h));
    EXPECT_TRUE(ClosePrinter(h));
    ASSERT_NE(FindPrinter(name), nullptr);
    EXPECT_TRUE(FindPrinter(name)->status & PRINTER_STATUS_PENDING_DELETION);
    std::u16string copy = name;
    HANDLE again = nullptr;
    EXPECT_FALSE(OpenPrinterW(&copy[0], &again, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
    NewPrinter p;
    p.name = name;
    EXPECT_EQ(AddError(p), static_cast<DWORD>(ERROR_PRINTER_ALREADY_EXISTS));
  }
  std::u16string driver = kDriver, x64 = u"Windows x64";
  EXPECT_FALSE(DeletePrinterDriverExW(nullptr, &x64[0], &driver[0], 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINTER_DRIVER_IN_USE));
  StopSpooler();
  SyncSpoolerModules();
  EXPECT_EQ(FindPrinter(u"Held"), nullptr);
  EXPECT_EQ(FindPrinter(u"Printing"), nullptr);
}

// A connection is this machine's record of another machine's queue; a handle on its name reaches
// that queue with this user's rights there.
TEST_F(SpoolerTest, ConnectionsAreKeptHereAndTheirHandlesReachTheServersQueue) {
  PutPrintServer(u"\\\\HOST", false);
  PutServerQueue(u"\\\\HOST", u"Shared", kDriver, kPort).comment = u"theirs";
  std::u16string name = u"\\\\HOST\\Shared";
  std::u16string nobody = u"\\\\HOST\\Nobody";
  EXPECT_FALSE(AddPrinterConnectionW(&nobody[0]));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  ASSERT_TRUE(AddPrinterConnectionW(&name[0]));
  ASSERT_NE(FindPrinter(name), nullptr);
  EXPECT_TRUE(FindPrinter(name)->attributes & PRINTER_ATTRIBUTE_NETWORK);

  // No rights there: administering or deleting is refused; reading works and reads the server's.
  PRINTER_DEFAULTSW admin{nullptr, nullptr, DELETE | PRINTER_ACCESS_ADMINISTER};
  HANDLE h = nullptr;
  EXPECT_FALSE(OpenPrinterW(&name[0], &h, &admin));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  h = Open(name, 0);
  DWORD needed = 0;
  EXPECT_FALSE(GetPrinterW(h, 2, nullptr, 0, &needed));
  std::vector<BYTE> block(needed);
  ASSERT_TRUE(GetPrinterW(h, 2, block.data(), needed, &needed));
  const auto* info = reinterpret_cast<PRINTER_INFO_2W*>(block.data());
  EXPECT_EQ(Narrow(info->pPrinterName), "\\\\HOST\\Shared");
  EXPECT_EQ(Narrow(info->pServerName), "\\\\HOST");
  EXPECT_EQ(Narrow(info->pComment), "theirs");
  EXPECT_TRUE(ClosePrinter(h));

  // With rights, a deletion through the handle deletes the server's queue, not the connection.
  PutPrintServer(u"\\\\HOST", true);
  h = Open(name, DELETE);
  EXPECT_TRUE(DeletePrinter(h));
  EXPECT_TRUE(ClosePrinter(h));
  EXPECT_EQ(FindServerQueue(name), nullptr);
  EXPECT_NE(FindPrinter(name), nullptr);

  // The connection keeps the local driver in use; removing it here frees it.
  std::u16string driver = kDriver, x64 = u"Windows x64", local = u"Office";
  EXPECT_FALSE(DeletePrinterDriverExW(nullptr, &x64[0], &driver[0], 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINTER_DRIVER_IN_USE));
  PutPrinter(local, kDriver, kPort);
  EXPECT_FALSE(DeletePrinterConnectionW(&local[0]));  // a printer of this machine is no connection
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  M().spooler.defaultPrinter = name;
  EXPECT_TRUE(DeletePrinterConnectionW(&name[0]));
  EXPECT_EQ(FindPrinter(name), nullptr);
  EXPECT_EQ(M().spooler.defaultPrinter, u"");

  // Added back only where the driver it names is installed.
  PutServerQueue(u"\\\\HOST", u"Other", u"Unknown Driver", u"LPT1:");
  std::u16string other = u"\\\\HOST\\Other";
  EXPECT_FALSE(AddPrinterConnectionW(&other[0]));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
}

// A server off the network makes every call that needs it wait for the RPC timeout and fail with
// 1722; Point and Print refusing a server's driver prompts, or without UI fails with 3019.
TEST_F(SpoolerTest, ServersThatDoNotAnswerAndPointAndPrintRefusals) {
  PutServerQueue(u"\\\\HOST", u"Shared", kDriver, kPort);
  std::u16string name = u"\\\\HOST\\Shared";
  PRINTER_CONNECTION_INFO_1 noUi{PRINTER_CONNECTION_NO_UI, nullptr};
  PRINTER_CONNECTION_INFO_1 withUi{0, nullptr};
  PRINTER_CONNECTION_INFO_1 unknownFlag{0x100, nullptr};
  EXPECT_FALSE(AddPrinterConnection2W(nullptr, name.c_str(), 2, &noUi));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
  EXPECT_FALSE(AddPrinterConnection2W(nullptr, name.c_str(), 1, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(AddPrinterConnection2W(nullptr, name.c_str(), 1, &unknownFlag));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));

  PutPrintServer(u"\\\\HOST").pointAndPrintRefused = true;
  EXPECT_FALSE(AddPrinterConnection2W(nullptr, name.c_str(), 1, &noUi));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINTER_DRIVER_DOWNLOAD_NEEDED));
  EXPECT_EQ(M().spooler.pointAndPrintPrompts, 0);
  EXPECT_FALSE(AddPrinterConnection2W(nullptr, name.c_str(), 1, &withUi));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_FALSE(AddPrinterConnectionW(&name[0]));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_EQ(M().spooler.pointAndPrintPrompts, 2);
  PutPrintServer(u"\\\\HOST").pointAndPrintRefused = false;
  ASSERT_TRUE(AddPrinterConnection2W(nullptr, name.c_str(), 1, &noUi));
  ASSERT_NE(FindPrinter(name), nullptr);

  // Off the network: the connection stays listed here, but nothing reaches the server.
  PutPrintServer(u"\\\\HOST").reachable = false;
  const uint64_t before = M().clock.now;
  HANDLE h = nullptr;
  PRINTER_DEFAULTSW use{nullptr, nullptr, PRINTER_ACCESS_USE};
  EXPECT_FALSE(OpenPrinterW(&name[0], &h, &use));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(M().clock.now, before + M().spooler.serverTimeoutMs);
  EXPECT_TRUE(DeletePrinterConnectionW(&name[0]));
  EXPECT_FALSE(AddPrinterConnection2W(nullptr, name.c_str(), 1, &noUi));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_FALSE(AddPrinterConnectionW(&name[0]));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(FindPrinter(name), nullptr);
}

TEST_F(SpoolerTest, PrinterDataReturnsStatusCodesAndKeepsPlainAndKeyedApart) {
  PutPrinter(u"Office", kDriver, kPort);
  HANDLE reader = Open(u"Office", 0);
  HANDLE writer = Open(u"Office", PRINTER_ALL_ACCESS);
  char value[] = "SubKey";
  BYTE name[] = "Key7";
  DWORD type = 0, needed = 0;
  BYTE buffer[64] = {};

  EXPECT_EQ(GetPrinterDataA(reader, value, &type, buffer, sizeof buffer, &needed),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetPrinterDataExA(reader, "DsUser", "SubKey", &type, buffer, sizeof buffer, &needed),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(SetPrinterDataA(reader, value, REG_SZ, name, sizeof name), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  EXPECT_EQ(SetPrinterDataA(writer, value, REG_SZ, name, sizeof name), 0u);
  // The plain value is not the keyed one.
  EXPECT_EQ(GetPrinterDataExA(reader, "DsUser", "SubKey", &type, buffer, sizeof buffer, &needed),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetPrinterDataA(reader, value, &type, buffer, 4, &needed), static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(needed, 5u);
  EXPECT_EQ(GetPrinterDataA(reader, value, &type, buffer, sizeof buffer, &needed), 0u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "Key7");

  BYTE other[] = "Other";
  EXPECT_EQ(SetPrinterDataExA(writer, "DsUser", "SubKey", REG_EXPAND_SZ, other, sizeof other), 0u);
  EXPECT_EQ(GetPrinterDataExA(reader, "dsuser", "subkey", &type, buffer, sizeof buffer, &needed), 0u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "Other");
  EXPECT_EQ(FindPrinter(u"Office")->data.at("").at("SubKey").data.size(), 5u);

  EXPECT_EQ(GetPrinterDataA(reinterpret_cast<HANDLE>(0x77), value, &type, buffer, sizeof buffer, &needed),
            static_cast<DWORD>(ERROR_INVALID_HANDLE));
  ClosePrinter(reader);
  ClosePrinter(writer);
}

TEST_F(SpoolerTest, DefaultPrinterQueryAndSetting) {
  WCHAR buffer[64];
  DWORD size = 64;
  EXPECT_FALSE(GetDefaultPrinterW(buffer, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  PutPrinter(u"Office", kDriver, kPort);
  EXPECT_FALSE(SetDefaultPrinterW(u"Nobody"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  ASSERT_TRUE(SetDefaultPrinterW(u"OFFICE"));

  size = 3;
  EXPECT_FALSE(GetDefaultPrinterW(buffer, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(size, 7u);
  size = 7;
  ASSERT_TRUE(GetDefaultPrinterW(buffer, &size));
  EXPECT_EQ(Narrow(buffer), "Office");  // the printer's own spelling
}

// ---- monitors

TEST_F(SpoolerTest, AddMonitorNeedsItsDllInTheSystemFolderAndTakesTheDllsPorts) {
  std::u16string name = u"Second:", dll = u"second.dll", env = u"Windows x64";
  MONITOR_INFO_2W info{&name[0], &env[0], &dll[0]};
  auto add = [&info] { return AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)); };

  PutFile(u"C:\\Program Files\\Marbleleaf\\Setup\\second.dll", "not in the system folder");
  EXPECT_FALSE(add());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  PutFile(u"C:\\Windows\\system32\\second.dll", "monitor");
  std::u16string arm = u"Windows ARM64";
  info.pEnvironment = &arm[0];
  EXPECT_FALSE(add());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
  info.pEnvironment = &env[0];
  EXPECT_FALSE(AddMonitorW(nullptr, 1, reinterpret_cast<LPBYTE>(&info)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));

  SetMonitorPorts(u"SECOND:", {u"S1:", u"S2:"});
  ASSERT_TRUE(add());
  EXPECT_TRUE(FindFile(u"C:\\WINDOWS\\SYSTEM32\\SECOND.DLL")->loadedBySpooler);
  EXPECT_TRUE(PortExists(u"s2:"));
  EXPECT_FALSE(PortExists(u"Second:"));
  EXPECT_FALSE(add());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINT_MONITOR_ALREADY_INSTALLED));

  // The product's own monitor enumerates one port named as itself.
  EXPECT_TRUE(PortExists(kPort));

  DWORD needed = 0, count = 0;
  ASSERT_FALSE(EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> block(needed);
  ASSERT_TRUE(EnumMonitorsW(nullptr, 2, block.data(), needed, &needed, &count));
  ASSERT_EQ(count, 4u);
  auto* monitors = reinterpret_cast<MONITOR_INFO_2W*>(block.data());
  EXPECT_EQ(Narrow(monitors[0].pName), "Local Port");
  EXPECT_EQ(Narrow(monitors[2].pName), "MarbleleafServer:");
  EXPECT_EQ(Narrow(monitors[3].pEnvironment), "Windows x64");
  EXPECT_EQ(Narrow(monitors[3].pDLLName), "second.dll");
  for (DWORD i = 0; i < count; ++i) ExpectInStringArea(block, 4 * sizeof(MONITOR_INFO_2W), monitors[i].pDLLName);

  // Nothing to list: success, nothing needed.
  M().spooler.monitors.clear();
  EXPECT_TRUE(EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count));
  EXPECT_EQ(needed, 0u);
  EXPECT_EQ(count, 0u);
}

TEST_F(SpoolerTest, DeleteMonitorIsRefusedWhileAPrinterUsesOneOfItsPorts) {
  std::u16string env = u"Windows x64", x86 = u"Windows NT x86", name = kPort, unknown = u"Nobody:";
  EXPECT_FALSE(DeleteMonitorW(nullptr, &env[0], &unknown[0]));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINT_MONITOR));
  std::u16string bad = u"Windows 3.1";
  EXPECT_FALSE(DeleteMonitorW(nullptr, &bad[0], &name[0]));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));

  PutPrinter(u"Office", kDriver, u"LPT1:, marbleleafserver:");
  EXPECT_FALSE(DeleteMonitorW(nullptr, &env[0], &name[0]));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINT_MONITOR_IN_USE));
  EXPECT_NE(FindMonitor(kPort), nullptr);

  FindPrinter(u"Office")->portName = u"file:";
  const std::u16string dll = u"C:\\Windows\\system32\\mlxmon64.dll";
  EXPECT_TRUE(FindFile(dll)->loadedBySpooler);
  ASSERT_TRUE(DeleteMonitorW(nullptr, &x86[0], &name[0]));
  EXPECT_EQ(FindMonitor(kPort), nullptr);
  EXPECT_FALSE(PortExists(kPort));
  EXPECT_FALSE(FindFile(dll)->loadedBySpooler);
  EXPECT_TRUE(FileExists(dll));
}

TEST_F(SpoolerTest, TheStoppedSpoolerReleasesItsModulesAndItsHandles) {
  PutPrinter(u"Office", kDriver, kPort);
  HANDLE h = Open(u"Office", 0);
  const std::u16string dll = u"C:\\Windows\\system32\\mlxmon64.dll";
  const std::u16string drv = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll";
  ASSERT_TRUE(FindFile(drv)->loadedBySpooler);
  StopSpooler();
  EXPECT_FALSE(SpoolerRunning());
  EXPECT_FALSE(FindFile(dll)->loadedBySpooler);
  EXPECT_FALSE(FindFile(drv)->loadedBySpooler);
  Spooler().state = SERVICE_RUNNING;
  EXPECT_TRUE(SpoolerRunning());
  EXPECT_TRUE(FindFile(dll)->loadedBySpooler);
  EXPECT_TRUE(FindFile(drv)->loadedBySpooler);
  DWORD needed = 0;
  EXPECT_FALSE(GetPrinterW(h, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(ClosePrinter(h));
}

// ---- drivers

TEST_F(SpoolerTest, DriverDirectoryFollowsSizeThenFillInBytes) {
  DWORD needed = 0;
  std::u16string x86 = u"Windows NT x86", bad = u"Windows 4.0";
  EXPECT_FALSE(GetPrinterDriverDirectoryW(nullptr, &x86[0], 1, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  const std::string expected = "C:\\Windows\\system32\\spool\\DRIVERS\\W32X86";
  EXPECT_EQ(needed, (expected.size() + 1) * 2);
  std::vector<WCHAR> buffer(needed / 2);
  ASSERT_TRUE(
      GetPrinterDriverDirectoryW(nullptr, &x86[0], 1, reinterpret_cast<LPBYTE>(buffer.data()), needed, &needed));
  EXPECT_EQ(Narrow(buffer.data()), expected);
  ASSERT_TRUE(
      GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(buffer.data()), needed, &needed));
  EXPECT_EQ(Narrow(buffer.data()), "C:\\Windows\\system32\\spool\\DRIVERS\\x64");
  EXPECT_FALSE(GetPrinterDriverDirectoryW(nullptr, &bad[0], 1, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
  EXPECT_FALSE(GetPrinterDriverDirectoryW(nullptr, nullptr, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
}

class DriverTest : public SpoolerTest {
 protected:
  // The installer's level-6 record over files staged in the driver folder's root.
  std::u16string name = kDriver, env = u"Windows NT x86";
  std::u16string root = u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86\\";
  std::u16string drv = root + u"mlxdrv32.dll", ui = root + u"mlxui32.dll", help = root + u"mlxhelp.chm";
  std::u16string maker = u"Orvanel Software Kft.";
  DRIVER_INFO_6W info{};

  void SetUp() override {
    SpoolerTest::SetUp();
    PutFile(drv, "driver 2093", VersionResource{1, 0, 0, 2093});
    PutFile(ui, "ui");
    PutFile(help, "help");
    info.cVersion = 3;
    info.pName = &name[0];
    info.pEnvironment = &env[0];
    info.pDriverPath = info.pDataFile = &drv[0];
    info.pConfigFile = &ui[0];
    info.pHelpFile = &help[0];
    info.pszMfgName = info.pszProvider = &maker[0];
  }
  BOOL Add() { return AddPrinterDriverExW(nullptr, 6, reinterpret_cast<LPBYTE>(&info), APD_COPY_ALL_FILES); }
};

TEST_F(DriverTest, AddCopiesTheFilesIntoTheVersionedStoreAndKeepsThemLoaded) {
  RemoveFile(ui);
  EXPECT_FALSE(Add());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FindDriver(kDriver, u"Windows NT x86"), nullptr);
  PutFile(ui, "ui");

  ASSERT_TRUE(Add());
  const DriverEntry* added = FindDriver(kDriver, u"Windows NT x86");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(Narrow(added->driverPath), Narrow(root) + "3\\mlxdrv32.dll");
  EXPECT_EQ(added->dataFile, added->driverPath);
  EXPECT_EQ(Narrow(added->helpFile), Narrow(root) + "3\\mlxhelp.chm");
  const FileEntry* stored = FindFile(added->driverPath);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->version->build, 2093);
  EXPECT_TRUE(stored->loadedBySpooler);
  EXPECT_FALSE(FindFile(drv)->loadedBySpooler);  // the staged copy is free to go

  // Adding again replaces the driver; an empty help file means none.
  help.clear();
  info.pHelpFile = &help[0];
  PutFile(drv, "driver 2094", VersionResource{1, 0, 0, 2094});
  ASSERT_TRUE(Add());
  EXPECT_EQ(M().spooler.drivers.size(), 2u);
  added = FindDriver(kDriver, u"Windows NT x86");
  EXPECT_EQ(added->helpFile, u"");
  EXPECT_EQ(FindFile(added->driverPath)->version->build, 2094);

  // Level 6 enumeration of one environment, and the local one for a null environment.
  DWORD needed = 0, count = 0;
  ASSERT_FALSE(EnumPrinterDriversW(nullptr, &env[0], 6, nullptr, 0, &needed, &count));
  std::vector<BYTE> block(needed);
  ASSERT_TRUE(EnumPrinterDriversW(nullptr, &env[0], 6, block.data(), needed, &needed, &count));
  ASSERT_EQ(count, 1u);
  auto* record = reinterpret_cast<DRIVER_INFO_6W*>(block.data());
  EXPECT_EQ(Narrow(record->pName), "Marbleleaf Server");
  EXPECT_EQ(Narrow(record->pszProvider), "Orvanel Software Kft.");
  EXPECT_EQ(record->cVersion, 3u);
  ExpectInStringArea(block, sizeof(DRIVER_INFO_6W), record->pConfigFile);
  ASSERT_FALSE(EnumPrinterDriversW(nullptr, nullptr, 1, nullptr, 0, &needed, &count));
  block.assign(needed, 0);
  ASSERT_TRUE(EnumPrinterDriversW(nullptr, nullptr, 1, block.data(), needed, &needed, &count));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Narrow(reinterpret_cast<DRIVER_INFO_1W*>(block.data())->pName), "Marbleleaf Server");
}

TEST_F(DriverTest, DeleteIsRefusedWhileAPrinterUsesTheLocalDriverAndDeletesTheStoreFiles) {
  ASSERT_TRUE(Add());
  PutPrinter(u"Office", kDriver, kPort);
  std::u16string x64 = u"Windows x64", unknown = u"Nobody";
  EXPECT_FALSE(DeletePrinterDriverExW(nullptr, &x64[0], &unknown[0], DPD_DELETE_ALL_FILES, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
  EXPECT_FALSE(DeletePrinterDriverExW(nullptr, &x64[0], &name[0], DPD_DELETE_ALL_FILES, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINTER_DRIVER_IN_USE));

  // The x86 driver serves no local printer.
  const std::u16string stored = FindDriver(kDriver, u"Windows NT x86")->configFile;
  ASSERT_TRUE(DeletePrinterDriverExW(nullptr, &env[0], &name[0], DPD_DELETE_ALL_FILES, 0));
  EXPECT_EQ(FindDriver(kDriver, u"Windows NT x86"), nullptr);
  EXPECT_FALSE(FileExists(stored));
  EXPECT_TRUE(FileExists(ui));

  // Once the printer is gone the x64 driver goes too; without the flag its files stay.
  M().spooler.printers.clear();
  const std::u16string x64File = FindDriver(kDriver, u"Windows x64")->driverPath;
  ASSERT_TRUE(DeletePrinterDriverExW(nullptr, &x64[0], &name[0], 0, 0));
  EXPECT_TRUE(FileExists(x64File));
  EXPECT_FALSE(FindFile(x64File)->loadedBySpooler);
}

TEST_F(DriverTest, GetPrinterDriverReadsThePrintersDriverForAnEnvironment) {
  PutPrinter(u"Office", kDriver, kPort);
  HANDLE h = Open(u"Office", 0);
  std::u16string x64 = u"Windows x64";
  DWORD needed = 0;
  ASSERT_FALSE(GetPrinterDriverW(h, &x64[0], 2, nullptr, 0, &needed));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> block(needed);
  ASSERT_TRUE(GetPrinterDriverW(h, nullptr, 2, block.data(), needed, &needed));
  auto* info2 = reinterpret_cast<DRIVER_INFO_2W*>(block.data());
  EXPECT_EQ(Narrow(info2->pDriverPath), "C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll");
  EXPECT_EQ(Narrow(info2->pEnvironment), "Windows x64");
  // No x86 driver of that name yet.
  EXPECT_FALSE(GetPrinterDriverW(h, &env[0], 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
  EXPECT_TRUE(ClosePrinter(h));
}

}  // namespace

// The printer list's index follows every way a printer comes and goes: found by any letter case,
// gone once erased, renamed through SetPrinterW, the first of a duplicated name found first, and
// positions kept in enumeration order.
TEST_F(SpoolerTest, PrintersAreFoundByNameWhateverCameAndWentBefore) {
  PrinterList& printers = M().spooler.printers;
  PutPrinter(u"Alpha", kDriver, kPort);
  PrinterEntry& beta = PutPrinter(u"Beta", kDriver, kPort);
  PutPrinter(u"Gamma", kDriver, kPort);
  EXPECT_EQ(&beta, FindPrinter(u"bETA"));  // still the same entry after later additions
  printers.erase(printers.begin());
  EXPECT_EQ(nullptr, FindPrinter(u"Alpha"));
  EXPECT_EQ(u"Beta", printers[0].name);

  HANDLE handle = Open(u"Beta", PRINTER_ALL_ACCESS);
  DWORD needed = 0;
  GetPrinterW(handle, 2, nullptr, 0, &needed);
  std::vector<BYTE> block(needed);
  ASSERT_TRUE(GetPrinterW(handle, 2, block.data(), needed, &needed));
  auto* info = reinterpret_cast<PRINTER_INFO_2W*>(block.data());
  std::u16string renamed = u"Delta";
  info->pPrinterName = &renamed[0];
  ASSERT_TRUE(SetPrinterW(handle, 2, block.data(), 0));
  ClosePrinter(handle);
  EXPECT_EQ(nullptr, FindPrinter(u"Beta"));
  EXPECT_EQ(&beta, FindPrinter(u"DELTA"));

  // Duplicates only a test can make: the first is found until it goes, then the next.
  PrinterEntry& second = PutPrinter(u"gamma", kDriver, kPort);
  EXPECT_EQ(&printers[1], FindPrinter(u"Gamma"));
  printers.erase(printers.begin() + 1);
  EXPECT_EQ(&second, FindPrinter(u"GAMMA"));

  PrinterList copy = printers;
  printers.clear();
  EXPECT_EQ(nullptr, FindPrinter(u"Delta"));
  ASSERT_EQ(2u, copy.size());
  EXPECT_EQ(&copy[0], copy.Find(u"delta"));
  EXPECT_EQ(&copy[1], copy.Find(u"gamma"));
}

// Connections live in their user's profile: each account lists, deletes and makes the default
// only its own, however many users connect to one queue. A thread impersonating a user acts as
// them, and with their rights: it may not change the machine's registry. A token tells its
// account's SID.
TEST_F(SpoolerTest, ConnectionsArePerUserAndImpersonationActsWithTheUsersRights) {
  const std::string bea = AddAccount(u"Bea", false);
  SignOut(1);
  SignIn(bea, 1);
  PutServerQueue(u"\\\\HOST", u"Shared", kDriver, kPort);
  PutConnection(u"\\\\HOST\\Shared", bea);
  // The installer runs as SYSTEM, which has none.
  RunInstallerAs(kSystemSid, 0, true);
  DWORD needed = 99, count = 99;
  EXPECT_TRUE(EnumPrintersW(PRINTER_ENUM_CONNECTIONS, nullptr, 2, nullptr, 0, &needed, &count));
  EXPECT_EQ(0u, count);
  EXPECT_FALSE(SetDefaultPrinterW(u"\\\\HOST\\Shared"));
  EXPECT_FALSE(DeletePrinterConnectionW(const_cast<LPWSTR>(u"\\\\HOST\\Shared")));

  HANDLE token = nullptr;
  ASSERT_TRUE(WTSQueryUserToken(1, &token));
  alignas(TOKEN_USER) BYTE info[256];
  EXPECT_FALSE(GetTokenInformation(token, TokenUser, info, 4, &needed));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, info, needed, &needed));
  LPWSTR sid = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(info)->User.Sid, &sid));
  EXPECT_EQ(bea, Narrow(sid));
  LocalFree(sid);
  EXPECT_FALSE(ConvertSidToStringSidW(info, &sid));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SID), GetLastError());

  ASSERT_TRUE(ImpersonateLoggedOnUser(token));
  FetchPrinters(2, &count);
  EXPECT_EQ(1u, count);
  EXPECT_TRUE(SetDefaultPrinterW(u"\\\\HOST\\Shared"));
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, nullptr, 0, KEY_SET_VALUE,
                                                 nullptr, &key, nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_SET_VALUE, &key));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_QUERY_VALUE, &key));
  RegCloseKey(key);
  // A second user's connection to the queue is theirs alone: deleting hers leaves it.
  PutConnection(u"\\\\HOST\\Shared", kFirstAdminSid);
  EXPECT_TRUE(DeletePrinterConnectionW(const_cast<LPWSTR>(u"\\\\HOST\\Shared")));
  EXPECT_EQ(u"", DefaultPrinterOf(bea));
  EXPECT_TRUE(RevertToSelf());
  ASSERT_NE(nullptr, FindPrinter(u"\\\\HOST\\Shared"));
  EXPECT_EQ(std::set<std::string>{kFirstAdminSid}, FindPrinter(u"\\\\HOST\\Shared")->owners);
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, nullptr, 0, KEY_SET_VALUE,
                                           nullptr, &key, nullptr));
  RegCloseKey(key);
  CloseHandle(token);
}
