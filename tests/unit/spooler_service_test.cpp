#include <gtest/gtest.h>

#include "system/spooler_service.h"
#include "system_fixture.h"

using Lines = std::vector<std::string>;
using winsim::M;
using winsim::Spooler;

class SpoolerServiceTest : public SystemStateTest {
 protected:
  void TearDown() override {
    EXPECT_TRUE(M().services.handles.empty()) << "service handles left open";
    SystemStateTest::TearDown();
  }
};

TEST_F(SpoolerServiceTest, InitStartsAStoppedSpoolerAfterTheBanner) {
  Spooler().state = SERVICE_STOPPED;
  InitInstallerState(&state);
  const Lines lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("Marbleleaf 2093", lines[0]);
  EXPECT_EQ(">Check Spooler", lines[1]);
  EXPECT_TRUE(winsim::SpoolerRunning());
  EXPECT_EQ(1, Spooler().starts);
  EXPECT_EQ(0, state.errorCount);
  EXPECT_EQ(0, state.depth);
}

TEST_F(SpoolerServiceTest, RunningSpoolerIsLeftAlone) {
  EXPECT_TRUE(CheckSpooler(&state));
  EXPECT_EQ(Lines({">Check Spooler"}), LogLines());
  EXPECT_EQ(0, winsim::CallCount("StartServiceW"));
  EXPECT_EQ(0u, M().clock.slept);
  EXPECT_EQ(0, state.depth);
}

TEST_F(SpoolerServiceTest, StoppedSpoolerIsStartedAndAwaited) {
  Spooler().state = SERVICE_STOPPED;
  Spooler().startMs = 500;  // running at the third status read
  EXPECT_TRUE(CheckSpooler(&state));
  EXPECT_EQ(Lines({">Check Spooler"}), LogLines());
  EXPECT_TRUE(winsim::SpoolerRunning());
  EXPECT_EQ(600u, M().clock.slept);
}

TEST_F(SpoolerServiceTest, SpoolerThatNeverStartsIsErrorFourAfterTenSeconds) {
  Spooler().state = SERVICE_STOPPED;
  Spooler().neverStarts = true;
  state.depth = 1;
  EXPECT_FALSE(CheckSpooler(&state));
  EXPECT_EQ(Lines({"  >Check Spooler", "    Error(4): Can't start the spooler"}), LogLines());
  EXPECT_EQ(1, state.errorCount);
  EXPECT_EQ(1, state.depth);
  EXPECT_EQ(1 + 51, winsim::CallCount("QueryServiceStatus"));  // the check, then the wait's 51 reads
  EXPECT_EQ(50 * 200u, M().clock.slept);
}

TEST_F(SpoolerServiceTest, ManagerOrServiceThatWontOpen) {
  winsim::FailCall("OpenSCManagerW", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CheckSpooler(&state));
  EXPECT_EQ(Lines({">Check Spooler", "  Error(1): Can't open service manager. - (Access is denied.)"}),
            LogLines());
  EXPECT_EQ(0, winsim::CallCount("OpenServiceW"));

  Release(state.logText);
  Spooler().state = SERVICE_STOPPED;
  winsim::FailCall("OpenServiceW", ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_FALSE(CheckSpooler(&state));
  EXPECT_EQ(Lines({">Check Spooler",
                   "  Error(2): Can't open the spooler - (The specified service does not exist as an installed "
                   "service.)"}),
            LogLines());
  EXPECT_EQ(0, winsim::CallCount("StartServiceW"));
  EXPECT_EQ(2, state.errorCount);
  EXPECT_EQ(0, state.depth);
}

TEST_F(SpoolerServiceTest, FailedStatusQueryStartsNothingAndIsNoFailure) {
  Spooler().state = SERVICE_STOPPED;
  winsim::FailCall("QueryServiceStatus", ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CheckSpooler(&state));
  EXPECT_EQ(Lines({">Check Spooler"}), LogLines());
  EXPECT_EQ(0, winsim::CallCount("StartServiceW"));
}

TEST_F(SpoolerServiceTest, RestartReleasesTheSpoolersFilesInBetween) {
  winsim::PutFile(u"C:\\Windows\\system32\\mlxmon64.dll", "old").loadedBySpooler = true;
  state.depth = 2;
  SpoolerRestart guard;
  BeginSpoolerRestart(&guard, &state);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), Spooler().state);
  EXPECT_TRUE(DeleteFileW(u"C:\\Windows\\system32\\mlxmon64.dll"));
  EndSpoolerRestart(&guard);
  EXPECT_TRUE(winsim::SpoolerRunning());
  EXPECT_EQ(Lines({"    >Restart Spooler"}), LogLines());  // at the caller's depth, which stays
  EXPECT_EQ(2, state.depth);
  EXPECT_EQ(0, state.errorCount);
}

TEST_F(SpoolerServiceTest, RestartOfAStoppedSpoolerStartsIt) {
  Spooler().state = SERVICE_STOPPED;
  SpoolerRestart guard;
  BeginSpoolerRestart(&guard, &state);
  EXPECT_TRUE(guard.stopped);
  EXPECT_EQ(1, winsim::CallCount("ControlService"));
  EXPECT_EQ(0u, M().clock.slept);  // the first status read shows it stopped
  EndSpoolerRestart(&guard);
  EXPECT_EQ(Lines({">Restart Spooler"}), LogLines());  // 1062 is what we wanted: not logged
  EXPECT_EQ(0, state.errorCount);
  EXPECT_TRUE(winsim::SpoolerRunning());
  EXPECT_EQ(1, Spooler().starts);
}

TEST_F(SpoolerServiceTest, SpoolerThatWontStopIsErrorThreeAndStartedAnyway) {
  Spooler().neverStops = true;
  SpoolerRestart guard;
  BeginSpoolerRestart(&guard, &state);
  EXPECT_EQ(50 * 200u, M().clock.slept);
  Spooler().neverStops = false;  // it stops at last while the caller works
  EndSpoolerRestart(&guard);
  EXPECT_EQ(Lines({">Restart Spooler", "Error(3): Can't stop the spooler"}), LogLines());
  EXPECT_TRUE(winsim::SpoolerRunning());
  EXPECT_EQ(1, Spooler().starts);

  // Still stuck at the end: the start is refused, and that is error 4.
  Release(state.logText);
  Spooler().neverStops = true;
  BeginSpoolerRestart(&guard, &state);
  EndSpoolerRestart(&guard);
  EXPECT_EQ(Lines({">Restart Spooler", "Error(3): Can't stop the spooler",
                   "Error(4): Can't start the spooler - (An instance of the service is already running.)"}),
            LogLines());
  EXPECT_EQ(3, state.errorCount);
}

TEST_F(SpoolerServiceTest, RefusedStopRequestIsErrorFiveInDecimalAndHex) {
  winsim::FailCall("ControlService", ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  SpoolerRestart guard;
  BeginSpoolerRestart(&guard, &state);
  EndSpoolerRestart(&guard);
  EXPECT_EQ(Lines({">Restart Spooler",
                   "Error(5): ControlService failed with code 1061 (0x425) - (The service cannot accept control "
                   "messages at this time.)",
                   "Error(3): Can't stop the spooler - (The service cannot accept control messages at this time.)"}),
            LogLines());
  EXPECT_TRUE(guard.stopped);
  EXPECT_EQ(1, winsim::CallCount("StartServiceW"));  // the stop was requested, so the end starts it
  EXPECT_TRUE(winsim::SpoolerRunning());
}

TEST_F(SpoolerServiceTest, RestartWithoutManagerOrServiceStartsNothing) {
  winsim::FailCall("OpenSCManagerW", ERROR_ACCESS_DENIED);
  SpoolerRestart guard;
  BeginSpoolerRestart(&guard, &state);
  EndSpoolerRestart(&guard);
  EXPECT_EQ(Lines({">Restart Spooler", "Error(1): Can't open service manager. - (Access is denied.)"}),
            LogLines());
  EXPECT_EQ(0, winsim::CallCount("CloseServiceHandle"));

  Release(state.logText);
  winsim::FailNext("OpenServiceW", ERROR_ACCESS_DENIED);
  BeginSpoolerRestart(&guard, &state);
  EndSpoolerRestart(&guard);
  EXPECT_EQ(Lines({">Restart Spooler", "Error(2): Can't open the spooler - (Access is denied.)"}), LogLines());
  EXPECT_EQ(0, winsim::CallCount("ControlService"));
  EXPECT_EQ(0, winsim::CallCount("StartServiceW"));
  EXPECT_EQ(1, winsim::CallCount("CloseServiceHandle"));  // the manager only
  EXPECT_TRUE(winsim::SpoolerRunning());
}

TEST_F(SpoolerServiceTest, RestartWithoutStateLogsNothing) {
  winsim::FailCall("ControlService", ERROR_ACCESS_DENIED);
  Spooler().neverStarts = true;
  SpoolerRestart guard;
  BeginSpoolerRestart(&guard, nullptr);
  Spooler().state = SERVICE_STOPPED;
  EndSpoolerRestart(&guard);
  winsim::FailNext("OpenSCManagerW", ERROR_ACCESS_DENIED);
  BeginSpoolerRestart(&guard, nullptr);
  EndSpoolerRestart(&guard);
  EXPECT_EQ(nullptr, state.logText);
  EXPECT_EQ(0, state.errorCount);
  EXPECT_EQ(1, winsim::CallCount("StartServiceW"));
}

TEST_F(SpoolerServiceTest, FailedStartOrStatusReadsDuringTheWait) {
  Spooler().state = SERVICE_STOPPED;
  winsim::FailCall("QueryServiceStatus", ERROR_ACCESS_DENIED, 3, 2);  // the wait's first three reads
  EXPECT_TRUE(CheckSpooler(&state));
  EXPECT_EQ(600u, M().clock.slept);

  Spooler().state = SERVICE_STOPPED;
  winsim::FailNext("StartServiceW", ERROR_SERVICE_DISABLED);
  EXPECT_FALSE(CheckSpooler(&state));
  EXPECT_EQ(Lines({">Check Spooler", ">Check Spooler",
                   "  Error(4): Can't start the spooler - (The service cannot be started, either because it is "
                   "disabled or because it has no enabled devices associated with it.)"}),
            LogLines());
}

TEST_F(SpoolerServiceTest, FailedHandleClosesChangeNothing) {
  Spooler().state = SERVICE_STOPPED;
  winsim::FailCall("CloseServiceHandle", ERROR_INVALID_HANDLE, 2);
  EXPECT_TRUE(CheckSpooler(&state));
  SpoolerRestart guard;
  winsim::FailNext("CloseServiceHandle", ERROR_INVALID_HANDLE, 2);
  BeginSpoolerRestart(&guard, &state);
  EndSpoolerRestart(&guard);
  EXPECT_EQ(Lines({">Check Spooler", ">Restart Spooler"}), LogLines());
  EXPECT_EQ(0, state.errorCount);
  EXPECT_TRUE(winsim::SpoolerRunning());
  M().services.handles.clear();  // the handles the failed closes left behind
}
