#include <gtest/gtest.h>

#include "app/product_files.h"
#include "system/pending_renames.h"
#include "system_fixture.h"

using winsim::FileExists;
using winsim::M;
using winsim::PutFile;

namespace {
// The value's bytes: each string in UTF-16 with its terminator, then the list's final terminator.
std::vector<uint8_t> ValueBytes(const std::vector<std::u16string>& strings, bool finalTerminator = true) {
  std::vector<uint8_t> bytes;
  auto put = [&bytes](char16_t c) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  };
  for (const std::u16string& s : strings) {
    for (char16_t c : s) put(c);
    put(0);
  }
  if (finalTerminator) put(0);
  return bytes;
}

void SetPendingValue(const std::vector<uint8_t>& bytes) {
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue, REG_MULTI_SZ,
                      bytes);
}

// Product files in the folders the product puts them in.
const char16_t* const kMon = u"C:\\Windows\\system32\\mlxmon64.dll";
const char16_t* const kMon32 = u"C:\\Windows\\system32\\mlxmon32.dll";
const char16_t* const kDrv = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll";
const char16_t* const kUi = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxui64.dll";
const char16_t* const kHelp32 = u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86\\3\\mlxhelp.chm";

std::u16string Nt(const char16_t* path) { return u"\\??\\" + std::u16string(path); }

std::vector<uint8_t> PendingValueNow() {
  const winsim::RegValue* value =
      winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue);
  return value ? value->data : std::vector<uint8_t>();
}

std::string Entry(const PendingRenameTable& table, int i) {
  LPCWSTR entry = i % 2 ? table.pairs[i / 2].target : table.pairs[i / 2].source;
  return entry ? Narrow(entry) : "(null)";
}

// The flags of every entry, source and target, in the value's order.
std::vector<int> IsFile(const PendingRenameTable& table) {
  std::vector<int> flags;
  for (int k = 0; k < table.pairCount; ++k) {
    flags.push_back(table.pairs[k].sourceIsFile);
    flags.push_back(table.pairs[k].targetIsFile);
  }
  return flags;
}

std::vector<int> CarriedOut(const PendingRenameTable& table) {
  std::vector<int> flags;
  for (int k = 0; k < table.pairCount; ++k) flags.push_back(table.pairs[k].carriedOut);
  return flags;
}
}  // namespace

class PendingRenamesTest : public SystemStateTest {
 protected:
  void SetUp() override {
    SystemStateTest::SetUp();
    Assign(state.systemDir, u"C:\\Windows\\system32\\");
    Assign(state.installerDir, u"C:\\Program Files\\Marbleleaf\\app\\");
    FindProductFiles(&files, state.systemDir, state.installerDir);
  }
  void TearDown() override {
    ReleaseProductFiles(&files);
    FreePendingRenames(&table);
    EXPECT_TRUE(M().registry.handles.empty()) << "registry key left open";
    SystemStateTest::TearDown();
  }
  // Read, purge: what a run does with the value.
  void ReadAndPurge() {
    ReadPendingRenames(&table, kPendingRenamesValue);
    MarkProductDeletes(&table, &files, false);
    PurgePendingDeletes(&table);
  }
  PendingRenameTable table = {};
  ProductFiles files = {};
};

TEST_F(PendingRenamesTest, NoValueOrNoKeyGivesAnEmptyTable) {
  ReadAndPurge();
  EXPECT_EQ(0, table.pairCount);
  EXPECT_EQ(nullptr, table.pairs);
  winsim::CreateRegKey(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey);
  ReadAndPurge();
  EXPECT_EQ(0, table.pairCount);
  EXPECT_EQ(0, winsim::CallCount("DeleteFileW"));
}

TEST_F(PendingRenamesTest, PendingDeleteWithPrefixIsDeletedAndKeepsItsPath) {
  for (const bool earlierBuild : {true, false}) {
    M().files.pendingFormOfEarlierBuilds = earlierBuild;
    PutFile(kMon);
    ASSERT_TRUE(MoveFileExW(kMon, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ReadAndPurge();
    ASSERT_EQ(1, table.pairCount);
    EXPECT_EQ(earlierBuild ? "\\??\\C:\\Windows\\system32\\mlxmon64.dll" : "*1\\??\\C:\\Windows\\system32\\mlxmon64.dll",
              Entry(table, 0));
    EXPECT_EQ("(null)", Entry(table, 1));
    EXPECT_FALSE(table.pairs[0].sourceIsFile);  // deleted
    EXPECT_TRUE(table.pairs[0].carriedOut);
    EXPECT_FALSE(FileExists(kMon));
    // Reading and purging leave the value as it is.
    EXPECT_NE(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));
    FreePendingRenames(&table);
    winsim::DeleteRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue);
  }
}

// Current Windows marks a source "*1\??\..." ("*2" too) and appends to a second value: the product's
// pending deletes are found, carried out and taken out in either value and either form; other
// programs' entries, marked or not, stay byte for byte and in order. Only "*" and digits in front
// of "\??\" are a marker.
TEST_F(PendingRenamesTest, BothFormsInBothValuesAreProbedPurgedAndTakenOut) {
  const std::vector<std::u16string> foreign = {u"*1\\??\\C:\\Other\\app.dll", u"",
                                               u"*1\\??\\C:\\Other\\app.new", u"!\\??\\C:\\Other\\app.dll",
                                               u"*\\??\\C:\\Windows\\system32\\mlxmon32.dll", u"",
                                               u"*1C:\\Windows\\system32\\mlxmon32.dll", u"",
                                               u"*x\\??\\C:\\Windows\\system32\\mlxmon32.dll", u""};
  for (const char16_t* valueName : {winsim::kPendingRenamesValue, winsim::kPendingRenames2Value}) {
    for (const char16_t* marker : {u"", u"*1", u"*2", u"*12"}) {
      SCOPED_TRACE(Narrow(valueName) + " " + Narrow(marker));
      PutFile(kMon);
      PutFile(kMon32);
      PutFile(u"C:\\Other\\app.dll");
      std::vector<std::u16string> strings = foreign;
      strings.insert(strings.begin() + 2, {marker + Nt(kMon), u""});
      winsim::SetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, valueName, REG_MULTI_SZ, ValueBytes(strings));
      ReadPendingRenames(&table, valueName);
      MarkProductDeletes(&table, &files, false);
      PurgePendingDeletes(&table);
      ASSERT_EQ(6, table.pairCount);
      EXPECT_EQ((std::vector<int>{0, 1, 0, 0, 0, 0}), CarriedOut(table));
      EXPECT_TRUE(PendingDeleteCarriedOut(&table, kMon));
      TakeOutPendingDeletes(&state, &table, false);
      FreePendingRenames(&table);
      EXPECT_FALSE(FileExists(kMon));
      EXPECT_TRUE(FileExists(kMon32));
      EXPECT_TRUE(FileExists(u"C:\\Other\\app.dll"));
      const winsim::RegValue* value = winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, valueName);
      ASSERT_NE(nullptr, value);
      EXPECT_EQ(ValueBytes(foreign), value->data);
      EXPECT_EQ((std::vector<std::string>{"Pending delete taken out: \\??\\C:\\Windows\\system32\\mlxmon64.dll"}),
                LogLines());
      Release(state.logText);
      winsim::DeleteRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, valueName);
    }
  }
  // The second value emptied goes; one that can't be written names itself.
  PutFile(kMon);
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenames2Value, REG_MULTI_SZ,
                      ValueBytes({u"*1" + Nt(kMon), u""}));
  ReadPendingRenames(&table, kPendingValues[1]);
  MarkProductDeletes(&table, &files, true);
  winsim::FailNext("RegDeleteValueW", ERROR_ACCESS_DENIED);
  TakeOutPendingDeletes(&state, &table, true);
  EXPECT_EQ((std::vector<std::string>{"Can't update PendingFileRenameOperations2 (5)"}), LogLines());
  TakeOutPendingDeletes(&state, &table, true);
  EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenames2Value));
  EXPECT_TRUE(FileExists(kMon));  // a reinstall takes the entry out without deleting
}

// The tray program is laid down by the setup program, not copied by the run: a reinstall takes its
// pending delete out and leaves the file; an uninstall carries the delete out.
TEST_F(PendingRenamesTest, AReinstallKeepsTheTrayProgramAndTakesOutItsPendingDelete) {
  const char16_t* const kTray = u"C:\\Program Files\\Marbleleaf\\mbltray.exe";
  for (const bool installing : {true, false}) {
    PutFile(kTray);
    SetPendingValue(ValueBytes({u"*1" + Nt(kTray), u""}));
    ReadPendingRenames(&table, kPendingRenamesValue);
    MarkProductDeletes(&table, &files, installing);
    PurgePendingDeletes(&table);
    TakeOutPendingDeletes(&state, &table, installing);
    FreePendingRenames(&table);
    EXPECT_EQ(installing, FileExists(kTray));
    EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));
    EXPECT_EQ((std::vector<std::string>{"Pending delete taken out: \\??\\C:\\Program Files\\Marbleleaf\\mbltray.exe"}),
              LogLines());
    Release(state.logText);
  }
}

TEST_F(PendingRenamesTest, OnlyExistingFilesOfPendingDeletesAreDeleted) {
  PutFile(kMon);
  PutFile(u"C:\\T\\target.dll");
  winsim::PutFolder(kMon32);
  PutFile(kUi);
  winsim::LockFile(kUi);
  PutFile(kHelp32);
  PutFile(u"C:\\T\\short.dll");
  SetPendingValue(ValueBytes({Nt(kMon), u"\\??\\C:\\T\\target.dll",  // a rename: untouched
                              Nt(kMon32), u"",                      // a folder
                              kDrv, u"",                            // no longer there
                              Nt(kUi), u"",                         // can't be deleted now
                              Nt(kHelp32), u"",
                              u"\\??\\C:\\T\\short.dll", u"s"}));  // a rename to a one-letter name
  ReadAndPurge();
  ASSERT_EQ(6, table.pairCount);
  EXPECT_EQ((std::vector<int>{1, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0}), IsFile(table));
  EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 1, 0}), CarriedOut(table));
  EXPECT_TRUE(FileExists(u"C:\\T\\short.dll"));
  EXPECT_EQ(Narrow(kDrv), Entry(table, 4));
  EXPECT_EQ("(null)", Entry(table, 5));
  EXPECT_TRUE(FileExists(kMon));
  EXPECT_TRUE(FileExists(u"C:\\T\\target.dll"));
  EXPECT_NE(nullptr, winsim::FindFile(kMon32));
  EXPECT_TRUE(FileExists(kUi));
  EXPECT_FALSE(FileExists(kHelp32));
  EXPECT_EQ(2, winsim::CallCount("DeleteFileW"));  // the locked file and the fifth
}

TEST_F(PendingRenamesTest, LastOddStringIsIgnored) {
  PutFile(kMon);
  PutFile(kMon32);
  SetPendingValue(ValueBytes({kMon, u"", kMon32}));
  ReadAndPurge();
  ASSERT_EQ(1, table.pairCount);
  EXPECT_FALSE(table.whole);
  EXPECT_FALSE(FileExists(kMon));
  EXPECT_TRUE(FileExists(kMon32));
}

// ASan watches these: the value's block is exactly as large as the data.
TEST_F(PendingRenamesTest, MalformedDataIsNeverReadBeyondItsEnd) {
  PutFile(kMon);
  PutFile(kMon32);
  for (size_t size : {0u, 1u, 2u, 3u}) {
    SetPendingValue(std::vector<uint8_t>(size, 0x41));
    ReadPendingRenames(&table, kPendingRenamesValue);
    EXPECT_EQ(0, table.pairCount) << size << " bytes";
    FreePendingRenames(&table);
  }

  // A single string without any terminator.
  std::vector<uint8_t> bytes = ValueBytes({kMon}, false);
  bytes.resize(bytes.size() - 2);
  SetPendingValue(bytes);
  ReadAndPurge();
  EXPECT_EQ(0, table.pairCount);
  FreePendingRenames(&table);

  // A target that runs to the end of the data: copied whole, and still a rename.
  bytes = ValueBytes({kMon, kMon32}, false);
  bytes.resize(bytes.size() - 2);
  SetPendingValue(bytes);
  ReadAndPurge();
  ASSERT_EQ(1, table.pairCount);
  EXPECT_EQ(Narrow(kMon32), Entry(table, 1));
  EXPECT_TRUE(table.pairs[0].targetIsFile);
  EXPECT_TRUE(FileExists(kMon));
  FreePendingRenames(&table);

  // An odd byte after the list: the pending delete is still found.
  bytes = ValueBytes({kMon, u""});
  bytes.push_back(0x41);
  SetPendingValue(bytes);
  ReadAndPurge();
  ASSERT_EQ(1, table.pairCount);
  EXPECT_FALSE(FileExists(kMon));
}

TEST_F(PendingRenamesTest, ValueThatGrowsBetweenTheQueriesIsReadAgainOnce) {
  PutFile(kMon);
  SetPendingValue(ValueBytes({kMon, u""}));
  winsim::FailCall("RegQueryValueExW", ERROR_MORE_DATA, 1, 2);  // the read after the size query
  ReadAndPurge();
  EXPECT_EQ(1, table.pairCount);
  EXPECT_EQ(4, winsim::CallCount("RegQueryValueExW"));
  EXPECT_FALSE(FileExists(kMon));
  FreePendingRenames(&table);

  // Still growing: no data rather than a guess.
  PutFile(kMon);
  winsim::FailNext("RegQueryValueExW", ERROR_MORE_DATA, -1);
  ReadAndPurge();
  EXPECT_EQ(0, table.pairCount);
  EXPECT_TRUE(FileExists(kMon));
}

TEST_F(PendingRenamesTest, LostCopyGivesAnEmptyTableNotADelete) {
  // Without its target's copy the rename would look like a pending delete of its source.
  PutFile(kMon);
  PutFile(kMon32);
  SetPendingValue(ValueBytes({kMon, kMon32}));
  winsim::FailNext("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 1);
  winsim::M().faults.back().fromCall += 3;  // value, pairs, a's copy, b's copy
  ReadAndPurge();
  EXPECT_EQ(0, table.pairCount);
  EXPECT_EQ(nullptr, table.pairs);
  EXPECT_TRUE(FileExists(kMon));
}

TEST_F(PendingRenamesTest, FailingCallsNeverDeleteWhatTheyCouldNotCheck) {
  PutFile(kMon);
  SetPendingValue(ValueBytes({kMon, u""}));
  // The key, the value's block, the pairs, the path's copy, the file's attributes and the delete itself.
  const std::vector<std::pair<const char*, int>> failures = {
      {"RegOpenKeyExA", 1}, {"GlobalAlloc", 1}, {"GlobalAlloc", 2}, {"GlobalAlloc", 3}, {"GetFileAttributesW", 1},
      {"DeleteFileW", 1}};
  for (const auto& failure : failures) {
    winsim::FailCall(failure.first, ERROR_ACCESS_DENIED, 1, winsim::CallCount(failure.first) + failure.second);
    ReadAndPurge();
    EXPECT_TRUE(FileExists(kMon)) << failure.first << " " << failure.second;
    FreePendingRenames(&table);
  }
  EXPECT_EQ(0, state.errorCount);

  // A key that won't close still gave its data.
  winsim::FailNext("RegCloseKey", ERROR_INVALID_HANDLE);
  ReadAndPurge();
  EXPECT_FALSE(FileExists(kMon));
  M().registry.handles.clear();
}

// Other programs' operations stay: a pending delete and a rename onto the same file (the usual way
// to replace a file in use), the product's names in foreign folders, and paths that are no drive
// paths, which would resolve against the current folder.
TEST_F(PendingRenamesTest, OnlyTheProductsOwnPendingDeletesAreCarriedOutAndTakenOut) {
  PutFile(kMon);
  PutFile(u"C:\\Other\\app.dll");
  PutFile(u"C:\\Other\\app.new");
  PutFile(u"C:\\Other\\mlxmon64.dll");
  PutFile(u"UNC\\server\\share\\mlxmon64.dll");  // what "\??\UNC\..." would be, relative to the current folder
  PutFile(u"C:\\Windows\\system32\\sub\\mlxmon64.dll");
  const std::vector<std::u16string> foreign = {u"\\??\\C:\\Other\\app.dll", u"",
                                               u"\\??\\C:\\Other\\app.new", u"!\\??\\C:\\Other\\app.dll",
                                               u"\\??\\C:\\Other\\mlxmon64.dll", u"",
                                               u"\\??\\UNC\\server\\share\\mlxmon64.dll", u"",
                                               u"\\??\\Volume{0b6e4c1a-1111-2222-3333-444455556666}\\mlxmon64.dll", u"",
                                               u"UNC\\server\\share\\mlxmon64.dll", u"",
                                               u"\\??\\C:\\Windows\\system32\\sub\\mlxmon64.dll", u"",
                                               u"\\??\\C:\\Windows\\system32\\..\\system32\\mlxmon64.dll", u""};
  std::vector<std::u16string> strings(foreign.begin(), foreign.begin() + 4);
  strings.push_back(u"\\??\\C:\\WINDOWS\\System32\\MLXMON64.DLL");
  strings.push_back(u"");
  strings.insert(strings.end(), foreign.begin() + 4, foreign.end());
  SetPendingValue(ValueBytes(strings));
  winsim::M().tracing = true;

  ReadAndPurge();
  ASSERT_EQ(9, table.pairCount);
  EXPECT_TRUE(table.whole);
  EXPECT_FALSE(FileExists(kMon));
  for (const char16_t* path : {u"C:\\Other\\app.dll", u"C:\\Other\\app.new", u"C:\\Other\\mlxmon64.dll",
                               u"UNC\\server\\share\\mlxmon64.dll", u"C:\\Windows\\system32\\sub\\mlxmon64.dll"})
    EXPECT_TRUE(FileExists(path)) << Narrow(path);
  EXPECT_EQ(1, winsim::CallCount("DeleteFileW"));
  EXPECT_EQ(6, winsim::CallCount("GetFileAttributesW"));  // the sources on a drive only
  EXPECT_FALSE(table.pairs[6].sourceIsFile);               // the relative path, though it "exists"

  TakeOutPendingDeletes(&state, &table, false);
  EXPECT_EQ(ValueBytes(foreign), PendingValueNow());
  EXPECT_EQ((std::vector<std::string>{"Pending delete taken out: \\??\\C:\\WINDOWS\\System32\\MLXMON64.DLL"}),
            LogLines());
}

// A reinstall puts the product's files back: every pending delete of one goes, done or not; its
// renames stay. With nothing left the value goes, as after a restart.
TEST_F(PendingRenamesTest, AReinstallTakesOutEveryPendingDeleteOfAProductFile) {
  PutFile(kUi);
  winsim::LockFile(kUi);
  PutFile(u"C:\\T\\new.dll");
  const std::vector<std::u16string> rename = {u"\\??\\C:\\T\\new.dll", u"!" + Nt(kDrv)};
  std::vector<std::u16string> strings = {Nt(kDrv), u"", Nt(kUi), u""};
  strings.insert(strings.end(), rename.begin(), rename.end());
  SetPendingValue(ValueBytes(strings));
  ReadAndPurge();
  TakeOutPendingDeletes(&state, &table, true);
  EXPECT_EQ(ValueBytes(rename), PendingValueNow());
  EXPECT_TRUE(FileExists(kUi));
  EXPECT_EQ(2u, LogLines().size());
  FreePendingRenames(&table);

  SetPendingValue(ValueBytes({Nt(kDrv), u"", Nt(kUi), u""}));
  ReadAndPurge();
  TakeOutPendingDeletes(&state, &table, true);
  EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));
}

// What can't be read whole, what another program changed in the meantime, and what Windows
// refuses: the value stays exactly as it was.
TEST_F(PendingRenamesTest, AValueNotReadWholeOrNotWritableIsLeftAlone) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    DWORD type;
  };
  std::vector<uint8_t> oddByte = ValueBytes({Nt(kMon), u""});
  oddByte.push_back(0);
  std::vector<uint8_t> cut = ValueBytes({Nt(kMon), u""}, false);
  const std::vector<Case> cases = {
      {"no list terminator", cut, REG_MULTI_SZ},
      {"odd byte at the end", oddByte, REG_MULTI_SZ},
      {"odd string count", ValueBytes({Nt(kMon), u"", Nt(kMon32)}), REG_MULTI_SZ},
      {"an empty string after the list", ValueBytes({Nt(kMon), u"", u""}), REG_MULTI_SZ},
      {"not REG_MULTI_SZ", ValueBytes({Nt(kMon), u""}), REG_BINARY},
  };
  for (int which = 0; which < kPendingValueCount; ++which) {
    const char16_t* name = which ? winsim::kPendingRenames2Value : winsim::kPendingRenamesValue;
    for (const Case& c : cases) {
      PutFile(kMon);
      winsim::SetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, name, c.type, c.bytes);
      ReadPendingRenames(&table, kPendingValues[which]);
      MarkProductDeletes(&table, &files, true);
      PurgePendingDeletes(&table);
      TakeOutPendingDeletes(&state, &table, true);
      const winsim::RegValue* value = winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, name);
      ASSERT_NE(nullptr, value);
      EXPECT_EQ(c.bytes, value->data) << c.what << " in " << Narrow(name);
      FreePendingRenames(&table);
    }
    winsim::DeleteRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, name);
  }

  // Changed by another program between the read and the take-out.
  const std::vector<uint8_t> changed = ValueBytes({Nt(kMon), u"", u"\\??\\C:\\T\\x", u""});
  SetPendingValue(ValueBytes({Nt(kMon), u""}));
  ReadAndPurge();
  SetPendingValue(changed);
  TakeOutPendingDeletes(&state, &table, true);
  EXPECT_EQ(changed, PendingValueNow());
  FreePendingRenames(&table);

  // Each call of the take-out failing: the key, the second read, the write, its block, the read's block.
  const std::vector<uint8_t> two = ValueBytes({Nt(kMon), u"", u"\\??\\C:\\T\\x", u""});
  const std::vector<std::pair<const char*, int>> failures = {
      {"RegOpenKeyExA", 2}, {"RegQueryValueExW", 3}, {"RegQueryValueExW", 4}, {"RegSetValueExW", 1},
      {"GlobalAlloc", 5}, {"GlobalAlloc", 6}};
  for (const auto& failure : failures) {
    SetPendingValue(two);
    const int before = winsim::CallCount(failure.first);
    ReadPendingRenames(&table, kPendingRenamesValue);
    winsim::FailCall(failure.first, ERROR_ACCESS_DENIED, 1, before + failure.second);
    MarkProductDeletes(&table, &files, false);
    PurgePendingDeletes(&table);
    TakeOutPendingDeletes(&state, &table, true);
    EXPECT_EQ(two, PendingValueNow()) << failure.first << " " << failure.second;
    FreePendingRenames(&table);
  }
  SetPendingValue(ValueBytes({Nt(kMon), u""}));
  ReadAndPurge();
  winsim::FailNext("RegDeleteValueW", ERROR_ACCESS_DENIED);
  TakeOutPendingDeletes(&state, &table, true);
  EXPECT_NE(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));
  // A key that won't close has still been written.
  winsim::FailNext("RegCloseKey", ERROR_INVALID_HANDLE);
  TakeOutPendingDeletes(&state, &table, true);
  EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));
  M().registry.handles.clear();
  EXPECT_EQ((std::vector<std::string>{"PendingFileRenameOperations has changed: left as it is",
                                      "Can't update PendingFileRenameOperations (5)",
                                      "Can't update PendingFileRenameOperations (5)",
                                      "Can't update PendingFileRenameOperations (5)",
                                      "Can't update PendingFileRenameOperations (5)",
                                      "Can't update PendingFileRenameOperations (8)",
                                      "Can't update PendingFileRenameOperations (8)",
                                      "Can't update PendingFileRenameOperations (5)",
                                      "Pending delete taken out: \\??\\C:\\Windows\\system32\\mlxmon64.dll"}),
            LogLines());
}

