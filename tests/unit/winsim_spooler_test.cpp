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
  };
  for (const auto& result : results) {
    EXPECT_FALSE(result.second) << result.first;
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  char value[] = "SubKey";
  EXPECT_EQ(GetPrinterDataA(h, value, &type, data, sizeof data, &needed), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(SetPrinterDataExA(h, "DsUser", "SubKey", REG_SZ, data, 1), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(M().spooler.printers.size(), 1u);
}

TEST_F(SpoolerTest, EnumPrintersPacksRecordsThenStringsAndFollowsSizeThenFill) {
  // No printers: success with nothing to fill.
  DWORD needed = 99, count = 99;
  EXPECT_TRUE(EnumPrintersW(6, nullptr, 2, nullptr, 0, &needed, &count));
  EXPECT_EQ(needed, 0u);
  EXPECT_EQ(count, 0u);

  PrinterEntry& first = PutPrinter(u"Office", kDriver, u"LPT1:,MarbleleafServer:");
  first.comment = u"second floor";
  PutPrinter(u"\\\\srv\\Shared", u"Other", u"LPT1:").connection = true;
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
  EXPECT_EQ(Narrow(*added->datatype), "RAW");
  EXPECT_EQ(added->attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_LOCAL));
  EXPECT_EQ(added->priority, 1u);
  EXPECT_EQ(Narrow(*added->comment), "");
  EXPECT_FALSE(added->location.has_value());
  EXPECT_EQ(M().spooler.handles.at(reinterpret_cast<uintptr_t>(h)).access, static_cast<ACCESS_MASK>(PRINTER_ALL_ACCESS));
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

  // Each port of a list must exist.
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

TEST_F(SpoolerTest, PrinterDataReturnsStatusCodesAndKeepsPlainAndKeyedApart) {
  PutPrinter(u"Office", kDriver, kPort);
  HANDLE reader = Open(u"Office", 0);
  HANDLE writer = Open(u"Office", PRINTER_ALL_ACCESS);
  char value[] = "SubKey";
  BYTE name[] = "Key7";
  DWORD type = 0, needed = 0;
  BYTE buffer[64] = {};

  EXPECT_EQ(GetPrinterDataA(reader, value, &type, buffer, sizeof buffer, &needed), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
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

}  // namespace
