#include <gtest/gtest.h>

#include "system/deferred_deletes.h"
#include "system_fixture.h"

using winsim::FileExists;
using winsim::M;
using winsim::PutFile;

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
