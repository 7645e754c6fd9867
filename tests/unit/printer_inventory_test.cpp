// The printer inventory taken at start, the default printer marked in it, and the settings key
// names read from and written to printer data.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The size a block was asked for, from the address sanitizer's allocator.
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* block);
#endif

#include "printer_fixture.h"
#include "printers/printer_inventory.h"
#include "support/size_then_fill.h"

namespace {
std::vector<std::string> SavedKeys(const SavedPrinter* node) {
  std::vector<std::string> keys;
  for (; node; node = node->next) keys.push_back(node->settingsKey ? node->settingsKey : "(null)");
  return keys;
}
DWORD Attributes(const InstallerState& state, DWORD index) { return state.printers.entries[index].Attributes; }
}  // namespace

using PrinterInventoryTest = PrinterTest;

TEST_F(PrinterInventoryTest, DefaultPrinterIsMarkedInEveryEntryThatCarriesItsName) {
  winsim::PutPrinter(u"Office", u"Other Driver", u"LPT1:");
  winsim::PutPrinter(u"Lab", u"Other Driver", u"LPT1:");
  winsim::PutPrinter(u"Office", u"Other Driver", u"COM1:");
  winsim::PrinterEntry& shared = winsim::PutPrinter(u"\\\\srv\\Shared", u"Other Driver", u"LPT1:");
  shared.connection = true;  // the user's own connection is listed too
  shared.owners.insert(winsim::kFirstAdminSid);
  winsim::M().spooler.defaultPrinter = u"Office";
  Init();
  ASSERT_EQ(4u, state.printers.count);
  EXPECT_TRUE(Attributes(state, 0) & PRINTER_ATTRIBUTE_DEFAULT);
  EXPECT_FALSE(Attributes(state, 1) & PRINTER_ATTRIBUTE_DEFAULT);
  EXPECT_TRUE(Attributes(state, 2) & PRINTER_ATTRIBUTE_DEFAULT);
  EXPECT_EQ("\\\\srv\\Shared", Narrow(state.printers.entries[3].pPrinterName));
  EXPECT_EQ("", NewLog());
  // Only the inventory's copy is marked.
  EXPECT_FALSE(winsim::FindPrinter(u"Office")->attributes & PRINTER_ATTRIBUTE_DEFAULT);

  // The longest name the query is offered room for.
  FreeInstallerState(&state);
  const std::u16string longest(254, u'N');
  winsim::PutPrinter(longest, u"Other Driver", u"LPT1:");
  winsim::M().spooler.defaultPrinter = longest;
  Init();
  ASSERT_EQ(5u, state.printers.count);
  EXPECT_TRUE(Attributes(state, 4) & PRINTER_ATTRIBUTE_DEFAULT);
}

TEST_F(PrinterInventoryTest, NameThatDiffersOnlyInCaseIsNotMarked) {
  winsim::PutPrinter(u"Office", u"Other Driver", u"LPT1:");
  winsim::PutPrinter(u"OFFICE", u"Other Driver", u"LPT1:");
  winsim::PutPrinter(u"office ", u"Other Driver", u"LPT1:");
  winsim::M().spooler.defaultPrinter = u"Office";
  Init();
  ASSERT_EQ(3u, state.printers.count);
  EXPECT_TRUE(Attributes(state, 0) & PRINTER_ATTRIBUTE_DEFAULT);
  EXPECT_FALSE(Attributes(state, 1) & PRINTER_ATTRIBUTE_DEFAULT);
  EXPECT_FALSE(Attributes(state, 2) & PRINTER_ATTRIBUTE_DEFAULT);
}

TEST_F(PrinterInventoryTest, NoDefaultOrFailedQueryMarksNothing) {
  winsim::PutPrinter(u"Office", u"Other Driver", u"LPT1:");
  Init();
  EXPECT_FALSE(Attributes(state, 0) & PRINTER_ATTRIBUTE_DEFAULT);
  FreeInstallerState(&state);

  winsim::M().spooler.defaultPrinter = u"Office";
  winsim::FailNext("GetDefaultPrinterW", ERROR_FILE_NOT_FOUND);
  Init();
  ASSERT_EQ(1u, state.printers.count);
  EXPECT_FALSE(Attributes(state, 0) & PRINTER_ATTRIBUTE_DEFAULT);
  EXPECT_EQ(0, state.errorCount);
}

TEST_F(PrinterInventoryTest, FailedEnumerationLeavesAnEmptyInventory) {
  winsim::PutPrinter(u"Office", u"Other Driver", u"LPT1:");
  winsim::FailNext("EnumPrintersW", RPC_S_SERVER_UNAVAILABLE);
  Init();
  EXPECT_EQ(nullptr, state.printers.entries);
  EXPECT_EQ(0u, state.printers.count);
  EXPECT_EQ(0, state.errorCount);

  // The second call fails: its block is released.
  winsim::FailCall("EnumPrintersW", RPC_S_SERVER_UNAVAILABLE, 1, 3);
  EnumerateLocalPrinters(&state.printers);
  EXPECT_EQ(nullptr, state.printers.entries);
  EXPECT_EQ(0u, state.printers.count);

  winsim::FailNext("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
  EnumerateLocalPrinters(&state.printers);
  EXPECT_EQ(nullptr, state.printers.entries);
  EXPECT_EQ(static_cast<DWORD>(E_OUTOFMEMORY), GetLastError());

  EnumerateLocalPrinters(&state.printers);
  EXPECT_EQ(1u, state.printers.count);
  EXPECT_EQ("Office", Narrow(state.printers.entries[0].pPrinterName));
}

TEST_F(PrinterInventoryTest, SecondEnumerationIsToldTheReportedSize) {
  winsim::PrinterEntry& office = winsim::PutPrinter(u"Office", u"Other Driver", u"LPT1:");
  office.comment = u"abc";
  // Between the two calls the record grows by 8 bytes, which the block's slack could hold; the
  // spooler must still be told the size it reported, and so refuse.
  winsim::M().spooler.beforeEnumPrintersFill = [] { winsim::FindPrinter(u"Office")->comment = u"abcdefg"; };
  Init();
  EXPECT_EQ(nullptr, state.printers.entries);
  EXPECT_EQ(0u, state.printers.count);
  EXPECT_EQ(2, winsim::CallCount("EnumPrintersW"));
}

#if defined(__SANITIZE_ADDRESS__)
TEST_F(PrinterInventoryTest, BlockIsThirtyTwoBytesLargerThanReported) {
  winsim::PutPrinter(u"Office", u"Other Driver", u"LPT1:").comment = u"abc";
  DWORD needed = 0, count = 0;
  EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, nullptr, 0, &needed, &count));
  Init();
  ASSERT_NE(nullptr, state.printers.entries);
  EXPECT_EQ(needed + 32u, __sanitizer_get_allocated_size(state.printers.entries));
}
#endif

TEST_F(PrinterInventoryTest, ReportedSizeThatWouldWrapWithTheSlackIsRefused) {
  int calls = 0;
  auto huge = [&calls](LPBYTE, DWORD, LPDWORD needed) {
    ++calls;
    *needed = 0xFFFFFFF0u;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  };
  const int allocations = winsim::CallCount("GlobalAlloc");
  EXPECT_EQ(nullptr, FetchBlock(huge, 32));
  EXPECT_EQ(static_cast<DWORD>(E_OUTOFMEMORY), GetLastError());
  EXPECT_EQ(1, calls);
  EXPECT_EQ(allocations, winsim::CallCount("GlobalAlloc"));
}

// The read rules of a printer's "SubKey": 64 bytes offered, the plain form first, the "DsUser"
// form only when the plain one is not a readable REG_SZ.
TEST_F(PrinterInventoryTest, SettingsKeyReadRules) {
  struct Case {
    const char* what;
    std::vector<uint8_t> plain;
    DWORD plainType;
    std::vector<uint8_t> dsUser;
    DWORD dsUserType;
    const char* saved;  // null: nothing saved
  };
  auto text = [](const std::string& s, bool terminated = true) {
    std::vector<uint8_t> bytes(s.begin(), s.end());
    if (terminated) bytes.push_back(0);
    return bytes;
  };
  const std::string k63(63, 'k'), k64(64, 'k');
  const std::vector<uint8_t> none;
  const Case cases[] = {
      {"plain name", text("plainKey"), REG_SZ, text("dsKey"), REG_SZ, "plainKey"},
      {"empty plain ends the search", text(""), REG_SZ, text("dsKey"), REG_SZ, nullptr},
      {"expand string falls through", text("plainKey"), REG_EXPAND_SZ, text("dsKey"), REG_SZ, "dsKey"},
      {"only DsUser", none, 0, text("dsKey"), REG_SZ, "dsKey"},
      {"DsUser not a string", none, 0, text("dsKey"), REG_EXPAND_SZ, nullptr},
      {"neither", none, 0, none, 0, nullptr},
      {"63 characters", text(k63), REG_SZ, none, 0, k63.c_str()},
      {"64 characters", text(k64), REG_SZ, none, 0, nullptr},
      {"64 in plain, 63 in DsUser", text(k64), REG_SZ, text(k63), REG_SZ, k63.c_str()},
      {"64 bytes, no terminator", text(k64, false), REG_SZ, none, 0, nullptr},
      {"short DsUser after a longer plain read", text("expanded-and-long"), REG_EXPAND_SZ, text("ab", false),
       REG_SZ, "ab"},
  };
  for (const Case& c : cases) {
    winsim::PrinterEntry& printer = ProductPrinter(u"P");
    if (c.plainType) printer.data[""]["SubKey"] = {c.plainType, c.plain};
    if (c.dsUserType) printer.data["DsUser"]["SubKey"] = {c.dsUserType, c.dsUser};
    Init();
    SavePrinterSettingsKey(&state, &state.printers.entries[0]);
    if (c.saved) {
      EXPECT_EQ(std::vector<std::string>{c.saved}, SavedKeys(state.savedPrinters)) << c.what;
      if (state.savedPrinters) {
        EXPECT_EQ(&state.printers.entries[0], state.savedPrinters->entry);
      }
    } else {
      EXPECT_EQ(nullptr, state.savedPrinters) << c.what;
    }
    EXPECT_EQ("", NewLog()) << c.what;
    EXPECT_TRUE(winsim::M().spooler.handles.empty()) << c.what;
    FreeInstallerState(&state);
    initialised = false;
    winsim::M().spooler.printers.clear();
  }
}

TEST_F(PrinterInventoryTest, ReadSettingsKeyReportsTheLastStatusAndEmptiesOnFailure) {
  winsim::PrinterEntry& printer = ProductPrinter(u"P");
  winsim::SetPrinterDataString(printer, "", "SubKey", "plainKey", REG_EXPAND_SZ);
  HANDLE handle = nullptr;
  ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"P"), &handle, nullptr));
  char out[64];
  std::memset(out, 'x', sizeof(out));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ReadSettingsKey(handle, out));
  EXPECT_EQ(0, out[0]);
  winsim::SetPrinterDataString(printer, "", "SubKey", "plainKey");
  EXPECT_EQ(0u, ReadSettingsKey(handle, out));
  EXPECT_STREQ("plainKey", out);
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(PrinterInventoryTest, FailedSpoolerCallsSaveNothingAndLogNothing) {
  winsim::PrinterEntry& printer = ProductPrinter(u"P");
  winsim::SetPrinterDataString(printer, "DsUser", "SubKey", "dsKey");
  Init();
  winsim::FailNext("OpenPrinterW", ERROR_ACCESS_DENIED);
  SavePrinterSettingsKey(&state, &state.printers.entries[0]);
  winsim::FailNext("GetPrinterDataExA", RPC_S_SERVER_UNAVAILABLE);
  SavePrinterSettingsKey(&state, &state.printers.entries[0]);
  EXPECT_EQ(nullptr, state.savedPrinters);
  EXPECT_EQ("", NewLog());
  EXPECT_EQ(0, state.errorCount);

  // A failed close does not undo the save.
  winsim::FailNext("ClosePrinter", RPC_S_SERVER_UNAVAILABLE);
  SavePrinterSettingsKey(&state, &state.printers.entries[0]);
  EXPECT_EQ(std::vector<std::string>{"dsKey"}, SavedKeys(state.savedPrinters));
  EXPECT_EQ(1u, winsim::M().spooler.handles.size());
  winsim::M().spooler.handles.clear();
}

TEST_F(PrinterInventoryTest, SavedListRunsFromTheLastPrinterSaved) {
  ProductPrinter(u"A", "keyA");
  ProductPrinter(u"B", "keyB");
  ProductPrinter(u"C", "keyC");
  Init();
  for (DWORD i = 0; i < state.printers.count; ++i) SavePrinterSettingsKey(&state, &state.printers.entries[i]);
  EXPECT_EQ((std::vector<std::string>{"keyC", "keyB", "keyA"}), SavedKeys(state.savedPrinters));
  EXPECT_EQ(&state.printers.entries[2], state.savedPrinters->entry);
  EXPECT_EQ(&state.printers.entries[0], state.savedPrinters->next->next->entry);
}

TEST_F(PrinterInventoryTest, NameCopyThatCannotBeAllocatedLeavesANodeWithoutKey) {
  ProductPrinter(u"A", "keyA");
  Init();
  // The node is the first block taken, the name's copy the second.
  winsim::FailCall("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 1, winsim::CallCount("GlobalAlloc") + 2);
  SavePrinterSettingsKey(&state, &state.printers.entries[0]);
  EXPECT_EQ(std::vector<std::string>{"(null)"}, SavedKeys(state.savedPrinters));

  winsim::FailNext("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
  SavePrinterSettingsKey(&state, &state.printers.entries[0]);
  EXPECT_EQ(1u, SavedKeys(state.savedPrinters).size());

  HANDLE handle = nullptr;
  ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"A"), &handle, nullptr));
  EXPECT_FALSE(WriteSettingsKey(handle, nullptr));
  EXPECT_EQ(0, winsim::CallCount("SetPrinterDataA") + winsim::CallCount("SetPrinterDataExA"));
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(PrinterInventoryTest, WriteSettingsKeyReportsTheDsUserWrite) {
  winsim::PrinterEntry& printer = ProductPrinter(u"P");
  PRINTER_DEFAULTSW admin = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE handle = nullptr;
  ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"P"), &handle, &admin));

  EXPECT_TRUE(WriteSettingsKey(handle, "key1"));
  const std::vector<uint8_t> written = {'k', 'e', 'y', '1', 0};
  EXPECT_EQ(written, printer.data[""]["SubKey"].data);
  EXPECT_EQ(written, printer.data["DsUser"]["SubKey"].data);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), printer.data["DsUser"]["SubKey"].type);

  winsim::FailNext("SetPrinterDataA", ERROR_ACCESS_DENIED);
  EXPECT_TRUE(WriteSettingsKey(handle, "key2"));
  winsim::FailNext("SetPrinterDataExA", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(WriteSettingsKey(handle, "key3"));
  EXPECT_EQ(3, winsim::CallCount("SetPrinterDataA"));
  EXPECT_EQ('3', printer.data[""]["SubKey"].data[3]);
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(PrinterInventoryTest, ClearDeletedMarkRemovesOnlyThatValue) {
  MarkDeleted("keyA");
  EXPECT_TRUE(ClearDeletedMark(HKEY_CURRENT_USER, "Marbleleafs\\keyA"));
  EXPECT_FALSE(MarkedDeleted("keyA"));
  EXPECT_NE(nullptr, winsim::GetRegValue(HKEY_CURRENT_USER, SettingsPath("keyA"), u"paper"));
  EXPECT_FALSE(ClearDeletedMark(HKEY_CURRENT_USER, "Marbleleafs\\keyA"));  // the value is gone

  EXPECT_FALSE(ClearDeletedMark(HKEY_CURRENT_USER, "Marbleleafs\\missing"));
  EXPECT_FALSE(winsim::RegKeyExists(HKEY_CURRENT_USER, SettingsPath("missing")));

  MarkDeleted("keyB");
  winsim::FailNext("RegOpenKeyExA", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ClearDeletedMark(HKEY_CURRENT_USER, "Marbleleafs\\keyB"));
  winsim::FailNext("RegDeleteValueA", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ClearDeletedMark(HKEY_CURRENT_USER, "Marbleleafs\\keyB"));
  EXPECT_TRUE(MarkedDeleted("keyB"));
  EXPECT_EQ(3, winsim::CallCount("RegCloseKey"));  // every key opened is closed
  winsim::FailNext("RegCloseKey", ERROR_INVALID_HANDLE);
  EXPECT_TRUE(ClearDeletedMark(HKEY_CURRENT_USER, "Marbleleafs\\keyB"));  // the value went; the close is not looked at
  EXPECT_FALSE(MarkedDeleted("keyB"));
  handlesLeftOpen = 1;  // the key whose close failed
}
