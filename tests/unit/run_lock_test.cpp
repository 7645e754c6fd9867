// Install and uninstall runs one at a time, and the log file that an unattended setup program
// reads instead of the dialog.
#include <gtest/gtest.h>

#include "app/run_lock.h"
#include "scenario_fixture.h"

namespace {
const std::u16string kLogFile = u"C:\\ProgramData\\Marbleleaf\\Logs\\install.log";
const std::string kBusyLog =
    "Marbleleaf 2093\r\nError(21): Another installation is running: nothing was changed\r\n";

// The other run: another process that holds the lock, and what it does later.
DWORD OtherRunHoldsTheLock() {
  const DWORD other = winsim::StartOtherProcess(u"C:\\Other\\install.exe");
  winsim::OpenMutexFor(other, kRunMutexName, true);
  return other;
}
}  // namespace

class RunLockTest : public ScenarioTest {
 protected:
  void SetUp() override {
    ScenarioTest::SetUp();
    winsim::PutFolder(u"C:\\ProgramData\\Marbleleaf\\Logs");
  }
};

// Another run of any session: waited for a bounded time; when it ends in time this run logs
// exactly what it logs alone, when it does not this run changes nothing and ends with 100.
TEST_F(RunLockTest, ASecondRunWaitsForTheFirstThenGoesAheadOrGivesUp) {
  struct Case {
    const char* name;
    const char16_t* verb;
    int releasedAfterMs;  // -1: never; -2: its process ends holding it
    int exitCode;
  };
  const Case cases[] = {
      {"the first ends within the wait", u"install", 30000, 1},
      {"the first ends just in time", u"install", static_cast<int>(kRunLockWaitMs), 1},
      {"the first keeps running (install)", u"install", -1, 100},
      {"the first keeps running (uninstall)", u"uninstall", -1, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::Reset();
    SetUp();
    const DWORD other = OtherRunHoldsTheLock();
    if (c.releasedAfterMs >= 0) winsim::After(c.releasedAfterMs, [other] { winsim::ReleaseMutexFor(other, kRunMutexName); });
    EXPECT_EQ(c.exitCode, Run(c.verb));
    if (c.exitCode == 1) {
      ExpectGoldenLog("first_install");
      EXPECT_NE(nullptr, winsim::FindMonitor(u"MarbleleafServer:"));
    } else {
      EXPECT_EQ(kBusyLog, Log());
      EXPECT_EQ("Marbleleaf build 2093- Install error log!", Title());
      EXPECT_EQ(kRunLockWaitMs, winsim::M().clock.now);
      EXPECT_EQ(0, winsim::CallCount("OpenSCManagerW"));  // not even the spooler is looked at
      EXPECT_EQ(0, winsim::CallCount("EnumPrintersW"));
    }
    // Whatever happened, the lock is the other run's again or nobody's, and nothing of ours is open.
    const winsim::Mutex* mutex = winsim::FindMutex(kRunMutexName);
    ASSERT_NE(nullptr, mutex);
    EXPECT_NE(winsim::kThisProcessId, mutex->owner);
    winsim::EndProcess(other);
    EXPECT_EQ(nullptr, winsim::FindMutex(kRunMutexName));
    EXPECT_TRUE(winsim::OpenHandles().empty());
  }
}

// The first run is another account's (a deployment tool's, as SYSTEM), whose mutex this one may
// not open: asked for again each second, it is ours once that run ended, or the wait gives up.
TEST_F(RunLockTest, ARunOfAnotherAccountIsWaitedForToo) {
  EXPECT_EQ(1, Run(u"install"));
  const uint64_t alone = winsim::M().clock.now;
  winsim::Reset();
  SetUp();
  winsim::FailCall("CreateMutexA", ERROR_ACCESS_DENIED, 3);
  EXPECT_EQ(1, Run(u"install"));
  ExpectGoldenLog("first_install");
  EXPECT_EQ(alone + 3 * kRunLockRetryMs, winsim::M().clock.now);

  winsim::Reset();
  SetUp();
  winsim::FailCall("CreateMutexA", ERROR_ACCESS_DENIED, -1);
  EXPECT_EQ(100, Run(u"uninstall"));
  EXPECT_EQ(kBusyLog, Log());
  EXPECT_EQ(kRunLockWaitMs, winsim::M().clock.now);
}

// A run killed while it held the lock leaves it abandoned: the next run takes it and says so.
TEST_F(RunLockTest, ALockLeftByADeadRunIsTakenOver) {
  const DWORD other = OtherRunHoldsTheLock();
  // Another process's handle keeps the mutex object alive after its owner died.
  winsim::OpenMutexFor(winsim::StartOtherProcess(u"C:\\Other\\watcher.exe"), kRunMutexName, false);
  winsim::EndProcess(other);
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_NE(std::string::npos, Log().find("Marbleleaf 2093\r\n"));
  EXPECT_NE(std::string::npos, Log().find("\r\nAn earlier installation ended without finishing\r\n"));
  EXPECT_EQ(0u, winsim::FindMutex(kRunMutexName)->owner);
}

// The lock that Windows refuses is no reason to refuse the installation: the run goes ahead,
// unguarded, and says why. A release that fails still closes the handle.
TEST_F(RunLockTest, ALockThatCannotBeUsedLetsTheRunGoAhead) {
  struct Case {
    const char* call;
    DWORD error;
    const char* line;
  };
  const Case cases[] = {
      {"CreateMutexA", ERROR_INVALID_HANDLE, "CreateMutex failed with code 6: no other run is kept out"},
      {"WaitForSingleObject", ERROR_INVALID_HANDLE, "WaitForSingleObject failed with code 6: no other run is kept out"},
      {"ReleaseMutex", ERROR_NOT_OWNER, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    winsim::Reset();
    SetUp();
    winsim::FailCall(c.call, c.error);
    EXPECT_EQ(1, Run(u"install"));
    EXPECT_NE(nullptr, winsim::FindMonitor(u"MarbleleafServer:"));
    if (c.line) {
      EXPECT_NE(std::string::npos, Log().find(std::string("\r\n") + c.line + "\r\n")) << Log();
    } else {
      ExpectGoldenLog("first_install");
    }
    EXPECT_TRUE(winsim::OpenHandles().empty());
  }
}

// A handle that Windows refuses to close: the run's outcome and log stay as they are.
TEST_F(RunLockTest, ALockHandleThatCannotBeClosedChangesNothing) {
  EXPECT_EQ(1, Run(u"install"));
  const int calls = winsim::CallCount("CloseHandle");  // the lock's handle is the run's last one
  winsim::Reset();
  SetUp();
  winsim::FailCall("CloseHandle", ERROR_INVALID_HANDLE, 1, calls);
  EXPECT_EQ(1, Run(u"install"));
  ExpectGoldenLog("first_install");
  const winsim::Mutex* mutex = winsim::FindMutex(kRunMutexName);
  ASSERT_NE(nullptr, mutex);
  EXPECT_EQ(0u, mutex->owner);  // released before the close failed
  handlesLeftOpen = 1;
}

// /LOG=<file>: the log goes to the file on every run, the dialog never shows, whatever the errors
// or the Shift key; what a run without it does stays as it was.
TEST_F(RunLockTest, TheLogFileArgumentWritesTheLogAndShowsNoDialog) {
  struct Case {
    const char* name;
    const char16_t* arguments;
    bool missingModule;
    int exitCode;
    size_t events;
  };
  const Case cases[] = {
      {"install, Shift down", u"install /LOG=C:\\ProgramData\\Marbleleaf\\Logs\\install.log", false, 1, 0},
      {"install with errors", u"install /log=C:\\ProgramData\\Marbleleaf\\Logs\\install.log", true, 100, 1},
      {"after the window number", u"in 12345 /Log=C:\\ProgramData\\Marbleleaf\\Logs\\install.log", false, 1, 0},
      {"uninstall", u"un \"/LOG=C:\\ProgramData\\Marbleleaf\\Logs\\install.log\"", false, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::Reset();
    SetUp();
    if (c.missingModule) winsim::RemoveFile(std::u16string(kApp) + u"mlxui64.dll");
    eventsExpected = c.events != 0;
    EXPECT_EQ(c.exitCode, Run(c.arguments));
    EXPECT_EQ(0, winsim::M().desktop.dialog.shown);
    EXPECT_EQ(0, winsim::CallCount("GetAsyncKeyState"));
    EXPECT_EQ(c.events, winsim::M().eventLog.application.size());
    const std::string text = LogFileText(kLogFile.c_str());
    EXPECT_EQ(0u, text.find("Marbleleaf 2093\r\n"));
    if (c.exitCode == 1) {
      ExpectGoldenLog("first_install", text);
    }
    if (c.events) {
      EXPECT_EQ(OnlyEvent(EVENTLOG_ERROR_TYPE, 100), text);
    }
  }
}

// A run kept out by another one writes its two lines to the file as well.
TEST_F(RunLockTest, TheLogFileOfABusyRunSaysWhy) {
  const DWORD other = OtherRunHoldsTheLock();
  eventsExpected = true;
  EXPECT_EQ(100, Run(u"install /LOG=" + kLogFile));
  EXPECT_EQ(kBusyLog, LogFileText(kLogFile.c_str()));
  EXPECT_EQ(0, winsim::M().desktop.dialog.shown);
  winsim::EndProcess(other);
}

// The file that cannot be made or written whole: the run's outcome is unchanged and its exit
// code tells it. The file's calls are the last of their kind in an error-free run.
TEST_F(RunLockTest, ALogFileThatCannotBeWrittenChangesNothingElse) {
  const std::u16string arguments = u"install /LOG=" + kLogFile;
  struct Case {
    const char* call;
    int fromLast;  // 0: the last call of the run, 1: the one before
    DWORD error;
  };
  const Case cases[] = {{"CreateFileW", 0, ERROR_ACCESS_DENIED},
                        {"WriteFile", 1, ERROR_ACCESS_DENIED},
                        {"WriteFile", 0, ERROR_ACCESS_DENIED},
                        {"CloseHandle", 0, ERROR_INVALID_HANDLE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.fromLast));
    winsim::Reset();
    SetUp();
    EXPECT_EQ(1, Run(arguments));
    const int calls = winsim::CallCount(c.call);
    winsim::Reset();
    SetUp();
    winsim::FailCall(c.call, c.error, 1, calls - c.fromLast);
    EXPECT_EQ(1, Run(arguments));
    EXPECT_NE(nullptr, winsim::FindMonitor(u"MarbleleafServer:"));
    EXPECT_EQ(0, winsim::M().desktop.dialog.shown);
    const std::string call = c.call;
    if (call == "CreateFileW") {
      EXPECT_EQ(nullptr, winsim::FindFile(kLogFile));
    }
    if (call == "WriteFile") {
      EXPECT_EQ(std::string::npos, LogFileText(kLogFile.c_str()).find("Marbleleaf 2093"));
    }
    if (call == "CloseHandle") handlesLeftOpen = 1;
  }
}
