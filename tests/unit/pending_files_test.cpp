#include <gtest/gtest.h>

#include "system/pending_files.h"
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

std::string Entry(const PendingRenameTable& table, int i) {
  return table.paths[i] ? Narrow(table.paths[i]) : "(null)";
}
}  // namespace

class PendingFilesTest : public SystemStateTest {
 protected:
  void TearDown() override {
    FreePendingRenames(&table);
    EXPECT_TRUE(M().registry.handles.empty()) << "registry key left open";
    SystemStateTest::TearDown();
  }
  // Read, purge: what a run does with the value.
  void ReadAndPurge() {
    ReadPendingRenames(&table);
    PurgePendingDeletes(&table);
  }
  PendingRenameTable table = {};
};

TEST_F(PendingFilesTest, NoValueOrNoKeyGivesAnEmptyTable) {
  ReadAndPurge();
  EXPECT_EQ(0, table.pairCount);
  EXPECT_EQ(nullptr, table.paths);
  winsim::CreateRegKey(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey);
  ReadAndPurge();
  EXPECT_EQ(0, table.pairCount);
  EXPECT_EQ(0, winsim::CallCount("DeleteFileW"));
}

TEST_F(PendingFilesTest, PendingDeleteWithPrefixIsDeletedAndKeepsItsPath) {
  PutFile(u"C:\\Windows\\system32\\mlxmon64.dll");
  ASSERT_TRUE(MoveFileExW(u"C:\\Windows\\system32\\mlxmon64.dll", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  ReadAndPurge();
  ASSERT_EQ(1, table.pairCount);
  EXPECT_EQ("\\??\\C:\\Windows\\system32\\mlxmon64.dll", Entry(table, 0));
  EXPECT_EQ("(null)", Entry(table, 1));
  EXPECT_EQ(0, table.isFile[0]);  // deleted
  EXPECT_FALSE(FileExists(u"C:\\Windows\\system32\\mlxmon64.dll"));
  // The value itself is only read.
  EXPECT_NE(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));
}

TEST_F(PendingFilesTest, OnlyExistingFilesOfPendingDeletesAreDeleted) {
  PutFile(u"C:\\T\\renamed.dll");
  PutFile(u"C:\\T\\target.dll");
  winsim::PutFolder(u"C:\\T\\folder");
  PutFile(u"C:\\T\\locked.dll");
  winsim::LockFile(u"C:\\T\\locked.dll");
  PutFile(u"C:\\T\\fifth.dll");
  PutFile(u"C:\\T\\short.dll");
  SetPendingValue(ValueBytes({u"\\??\\C:\\T\\renamed.dll", u"\\??\\C:\\T\\target.dll",  // a rename: untouched
                              u"\\??\\C:\\T\\folder", u"",                             // a folder
                              u"C:\\T\\gone.dll", u"",                                 // no longer there
                              u"\\??\\C:\\T\\locked.dll", u"",                         // can't be deleted now
                              u"\\??\\C:\\T\\fifth.dll", u"",
                              u"\\??\\C:\\T\\short.dll", u"s"}));                      // a rename to a one-letter name
  ReadAndPurge();
  ASSERT_EQ(6, table.pairCount);
  EXPECT_EQ((std::vector<int>{1, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0}), std::vector<int>(table.isFile, table.isFile + 12));
  EXPECT_TRUE(FileExists(u"C:\\T\\short.dll"));
  EXPECT_EQ("C:\\T\\gone.dll", Entry(table, 4));
  EXPECT_EQ("(null)", Entry(table, 5));
  EXPECT_TRUE(FileExists(u"C:\\T\\renamed.dll"));
  EXPECT_TRUE(FileExists(u"C:\\T\\target.dll"));
  EXPECT_NE(nullptr, winsim::FindFile(u"C:\\T\\folder"));
  EXPECT_TRUE(FileExists(u"C:\\T\\locked.dll"));
  EXPECT_FALSE(FileExists(u"C:\\T\\fifth.dll"));
  EXPECT_EQ(2, winsim::CallCount("DeleteFileW"));  // the locked file and the fifth
}

TEST_F(PendingFilesTest, LastOddStringIsIgnored) {
  PutFile(u"C:\\T\\a.dll");
  PutFile(u"C:\\T\\b.dll");
  SetPendingValue(ValueBytes({u"C:\\T\\a.dll", u"", u"C:\\T\\b.dll"}));
  ReadAndPurge();
  ASSERT_EQ(1, table.pairCount);
  EXPECT_FALSE(FileExists(u"C:\\T\\a.dll"));
  EXPECT_TRUE(FileExists(u"C:\\T\\b.dll"));
}

// ASan watches these: the value's block is exactly as large as the data.
TEST_F(PendingFilesTest, MalformedDataIsNeverReadBeyondItsEnd) {
  PutFile(u"C:\\T\\a.dll");
  PutFile(u"C:\\T\\b.dll");
  for (size_t size : {0u, 1u, 2u, 3u}) {
    SetPendingValue(std::vector<uint8_t>(size, 0x41));
    ReadPendingRenames(&table);
    EXPECT_EQ(0, table.pairCount) << size << " bytes";
    FreePendingRenames(&table);
  }

  // A single string without any terminator.
  std::vector<uint8_t> bytes = ValueBytes({u"C:\\T\\a.dll"}, false);
  bytes.resize(bytes.size() - 2);
  SetPendingValue(bytes);
  ReadAndPurge();
  EXPECT_EQ(0, table.pairCount);
  FreePendingRenames(&table);

  // A target that runs to the end of the data: copied whole, and still a rename.
  bytes = ValueBytes({u"C:\\T\\a.dll", u"C:\\T\\b.dll"}, false);
  bytes.resize(bytes.size() - 2);
  SetPendingValue(bytes);
  ReadAndPurge();
  ASSERT_EQ(1, table.pairCount);
  EXPECT_EQ("C:\\T\\b.dll", Entry(table, 1));
  EXPECT_EQ(1, table.isFile[1]);
  EXPECT_TRUE(FileExists(u"C:\\T\\a.dll"));
  FreePendingRenames(&table);

  // An odd byte after the list: the pending delete is still found.
  bytes = ValueBytes({u"C:\\T\\a.dll", u""});
  bytes.push_back(0x41);
  SetPendingValue(bytes);
  ReadAndPurge();
  ASSERT_EQ(1, table.pairCount);
  EXPECT_FALSE(FileExists(u"C:\\T\\a.dll"));
}

TEST_F(PendingFilesTest, ValueThatGrowsBetweenTheQueriesIsReadAgainOnce) {
  PutFile(u"C:\\T\\a.dll");
  SetPendingValue(ValueBytes({u"C:\\T\\a.dll", u""}));
  winsim::FailCall("RegQueryValueExW", ERROR_MORE_DATA, 1, 2);  // the read after the size query
  ReadAndPurge();
  EXPECT_EQ(1, table.pairCount);
  EXPECT_EQ(4, winsim::CallCount("RegQueryValueExW"));
  EXPECT_FALSE(FileExists(u"C:\\T\\a.dll"));
  FreePendingRenames(&table);

  // Still growing: no data rather than a guess.
  PutFile(u"C:\\T\\a.dll");
  winsim::FailNext("RegQueryValueExW", ERROR_MORE_DATA, -1);
  ReadAndPurge();
  EXPECT_EQ(0, table.pairCount);
  EXPECT_TRUE(FileExists(u"C:\\T\\a.dll"));
}

TEST_F(PendingFilesTest, LostCopyGivesAnEmptyTableNotADelete) {
  // Without its target's copy the rename would look like a pending delete of its source.
  PutFile(u"C:\\T\\a.dll");
  PutFile(u"C:\\T\\b.dll");
  SetPendingValue(ValueBytes({u"C:\\T\\a.dll", u"C:\\T\\b.dll"}));
  winsim::FailCall("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 1, 5);  // value, paths, isFile, a's copy, b's copy
  ReadAndPurge();
  EXPECT_EQ(0, table.pairCount);
  EXPECT_EQ(nullptr, table.paths);
  EXPECT_TRUE(FileExists(u"C:\\T\\a.dll"));
}

class DeferredDeletesTest : public SystemStateTest {
 protected:
  std::vector<std::string> Listed() const {
    std::vector<std::string> paths;
    for (const DeferredDelete* node = state.deferredDeletes; node; node = node->next) paths.push_back(Narrow(node->path));
    return paths;
  }
};

TEST_F(DeferredDeletesTest, SamePathIsListedOnceButOtherCaseTwice) {
  DeferDelete(&state.deferredDeletes, u"C:\\T\\a.dll");
  DeferDelete(&state.deferredDeletes, u"C:\\T\\b.dll");
  DeferDelete(&state.deferredDeletes, u"C:\\T\\a.dll");
  DeferDelete(&state.deferredDeletes, u"C:\\T\\A.dll");
  DeferDelete(&state.deferredDeletes, u"C:\\T\\a.dl");
  DeferDelete(&state.deferredDeletes, u"");
  DeferDelete(&state.deferredDeletes, nullptr);
  EXPECT_EQ((std::vector<std::string>{"C:\\T\\a.dl", "C:\\T\\A.dll", "C:\\T\\b.dll", "C:\\T\\a.dll"}), Listed());
}

TEST_F(DeferredDeletesTest, RetryDropsWhatIsGoneAndKeepsWhatResists) {
  PutFile(u"C:\\T\\deleted.dll");
  PutFile(u"C:\\T\\locked.dll");
  winsim::LockFile(u"C:\\T\\locked.dll");
  PutFile(u"C:\\T\\loaded.dll").loadedBySpooler = true;
  for (const char16_t* path : {u"C:\\T\\loaded.dll", u"C:\\Gone\\x.dll", u"C:\\T\\gone.dll", u"C:\\T\\locked.dll",
                               u"C:\\T\\deleted.dll"})
    DeferDelete(&state.deferredDeletes, path);
  state.depth = 1;
  RetryDeferredDeletes(&state);
  EXPECT_EQ((std::vector<std::string>{"  DeleteFile-try"}), LogLines());
  EXPECT_EQ((std::vector<std::string>{"C:\\T\\locked.dll", "C:\\Gone\\x.dll", "C:\\T\\loaded.dll"}), Listed());
  EXPECT_FALSE(FileExists(u"C:\\T\\deleted.dll"));
  EXPECT_EQ(0, state.errorCount);

  winsim::Spooler().state = SERVICE_STOPPED;
  RetryDeferredDeletes(&state);
  EXPECT_EQ((std::vector<std::string>{"C:\\T\\locked.dll", "C:\\Gone\\x.dll"}), Listed());
}

TEST_F(DeferredDeletesTest, ScheduledDeletesCountWhatWindowsAccepted) {
  EXPECT_EQ(0, ScheduleDeletesAtReboot(&state));
  EXPECT_EQ(0, winsim::CallCount("MoveFileExW"));

  for (const char16_t* path : {u"C:\\T\\a.dll", u"C:\\T\\b.dll", u"C:\\T\\c.dll"}) {
    PutFile(path);
    DeferDelete(&state.deferredDeletes, path);
  }
  winsim::FailCall("MoveFileExW", ERROR_ACCESS_DENIED, 1, 2);
  EXPECT_EQ(2, ScheduleDeletesAtReboot(&state));
  EXPECT_EQ(nullptr, state.deferredDeletes);
  EXPECT_EQ(nullptr, state.logText);
  winsim::Reboot();
  EXPECT_FALSE(FileExists(u"C:\\T\\c.dll"));  // newest first: c, then b (refused), then a
  EXPECT_TRUE(FileExists(u"C:\\T\\b.dll"));
  EXPECT_FALSE(FileExists(u"C:\\T\\a.dll"));
}

TEST_F(DeferredDeletesTest, StateReleasesWhatIsStillListed) {
  DeferDelete(&state.deferredDeletes, u"C:\\T\\a.dll");
  DeferDelete(&state.deferredDeletes, u"C:\\T\\b.dll");
  EXPECT_EQ(4, M().globalBlocks);
  FreeInstallerState(&state);
  EXPECT_EQ(nullptr, state.deferredDeletes);
  EXPECT_EQ(0, M().globalBlocks);
}

TEST_F(PendingFilesTest, FailingCallsNeverDeleteWhatTheyCouldNotCheck) {
  PutFile(u"C:\\T\\a.dll");
  SetPendingValue(ValueBytes({u"C:\\T\\a.dll", u""}));
  // The key, the value's block, the arrays, the file's attributes and the delete itself.
  const std::vector<std::pair<const char*, int>> failures = {
      {"RegOpenKeyExA", 1}, {"GlobalAlloc", 1}, {"GlobalAlloc", 2}, {"GlobalAlloc", 3}, {"GetFileAttributesW", 1},
      {"DeleteFileW", 1}};
  for (const auto& failure : failures) {
    winsim::FailCall(failure.first, ERROR_ACCESS_DENIED, 1, winsim::CallCount(failure.first) + failure.second);
    ReadAndPurge();
    EXPECT_TRUE(FileExists(u"C:\\T\\a.dll")) << failure.first << " " << failure.second;
    FreePendingRenames(&table);
  }
  EXPECT_EQ(0, state.errorCount);

  // A key that won't close still gave its data.
  winsim::FailNext("RegCloseKey", ERROR_INVALID_HANDLE);
  ReadAndPurge();
  EXPECT_FALSE(FileExists(u"C:\\T\\a.dll"));
  M().registry.handles.clear();
}

TEST_F(DeferredDeletesTest, FailedDeletesAndAllocations) {
  PutFile(u"C:\\T\\a.dll");
  PutFile(u"C:\\T\\b.dll");
  winsim::FailNext("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
  DeferDelete(&state.deferredDeletes, u"C:\\T\\lost.dll");
  EXPECT_EQ(nullptr, state.deferredDeletes);
  winsim::FailCall("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 1, winsim::CallCount("GlobalAlloc") + 2);  // the path
  DeferDelete(&state.deferredDeletes, u"C:\\T\\lost.dll");
  EXPECT_EQ(nullptr, state.deferredDeletes);
  EXPECT_EQ(0, winsim::M().globalBlocks);
  DeferDelete(&state.deferredDeletes, u"C:\\T\\a.dll");
  DeferDelete(&state.deferredDeletes, u"C:\\T\\b.dll");
  winsim::FailNext("DeleteFileW", ERROR_ACCESS_DENIED);     // b resists
  winsim::FailCall("DeleteFileW", ERROR_FILE_NOT_FOUND, 1, 2);  // a is reported gone
  RetryDeferredDeletes(&state);
  EXPECT_EQ((std::vector<std::string>{"C:\\T\\b.dll"}), Listed());
  EXPECT_EQ((std::vector<std::string>{"DeleteFile-try"}), LogLines());
}
