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

// A spooler still stopping when the run begins (the restart of a run that was killed there, or
// another program's) refuses the start until it has stopped; it is then started.
TEST_F(SpoolerServiceTest, StoppingSpoolerIsStartedOnceStopped) {
  for (bool neverStops : {false, true}) {
    SCOPED_TRACE(neverStops);
    TearDown();
    SetUp();
    Spooler().state = SERVICE_STOP_PENDING;
    Spooler().transitionAt = 300;
    Spooler().neverStops = neverStops;
    EXPECT_EQ(!neverStops, CheckSpooler(&state));
    EXPECT_EQ(neverStops ? Lines({">Check Spooler",
                                  "  Error(4): Can't start the spooler - (An instance of the service is already running.)"})
                         : Lines({">Check Spooler"}),
              LogLines());
    EXPECT_EQ(!neverStops, winsim::SpoolerRunning());
    EXPECT_EQ(neverStops ? 1 : 2, winsim::CallCount("StartServiceW"));
  }
  // The second start refused: the wait for it to run is in vain.
  TearDown();
  SetUp();
  Spooler().state = SERVICE_STOP_PENDING;
  Spooler().transitionAt = 300;
  winsim::FailCall("StartServiceW", ERROR_ACCESS_DENIED, 1, 2);
  EXPECT_FALSE(CheckSpooler(&state));
  EXPECT_EQ(Lines({">Check Spooler", "  Error(4): Can't start the spooler - (Access is denied.)"}), LogLines());
  EXPECT_FALSE(winsim::SpoolerRunning());
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
  {
    SpoolerRestart guard(&state);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), Spooler().state);
    EXPECT_TRUE(DeleteFileW(u"C:\\Windows\\system32\\mlxmon64.dll"));
  }
  EXPECT_TRUE(winsim::SpoolerRunning());
  EXPECT_EQ(Lines({"    >Restart Spooler"}), LogLines());  // at the caller's depth, which stays
  EXPECT_EQ(2, state.depth);
  EXPECT_EQ(0, state.errorCount);
}

// A fax service needs the spooler, and a helper needs the fax service: the Service Control Manager
// refuses to stop the spooler (1051) while they run. They are stopped first, the helper before the
// fax service, and started again after the spooler in the opposite order; a stopped dependent
// stays stopped.
TEST_F(SpoolerServiceTest, RestartStopsRunningDependentsFirstAndStartsThemAgain) {
  winsim::PutService(u"Fax", {u"Spooler"});
  winsim::PutService(u"FaxHelper", {u"Fax"});
  winsim::PutService(u"Idle", {u"Spooler"}).state = SERVICE_STOPPED;
  winsim::PutFile(u"C:\\Windows\\system32\\mlxmon64.dll", "old").loadedBySpooler = true;
  {
    SpoolerRestart guard(&state);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), Spooler().state);
    EXPECT_TRUE(DeleteFileW(u"C:\\Windows\\system32\\mlxmon64.dll"));
  }
  EXPECT_EQ(Lines({">Restart Spooler", "Stop dependent service FaxHelper", "Stop dependent service Fax",
                   "Start dependent service Fax", "Start dependent service FaxHelper"}),
            LogLines());
  EXPECT_EQ(0, state.errorCount);
  EXPECT_TRUE(winsim::SpoolerRunning());
  for (const char16_t* name : {u"FAX", u"FAXHELPER"}) {
    winsim::Service& service = M().services.services[name];
    winsim::UpdateService(service);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), service.state) << Narrow(name);
    EXPECT_EQ(1, service.stops);
  }
  EXPECT_EQ(0, M().services.services[u"IDLE"].starts);
  EXPECT_EQ(0, M().globalBlocks);
}

// A dependent that can't be stopped, or can't be listed: the restart goes on as without the
// mend (error 5 with 1051, the wait, error 3), and whatever was stopped is started again.
TEST_F(SpoolerServiceTest, DependentsThatCantBeStoppedOrListedLeaveTheSpoolerRunning) {
  const std::string refused =
      "Error(5): ControlService failed with code 1051 (0x41b) - (A stop control has been sent to a service that other "
      "running services are dependent on.)";
  const std::string notStopped =
      "Error(3): Can't stop the spooler - (A stop control has been sent to a service that other running services "
      "are dependent on.)";
  struct Case {
    const char* call;
    int nth;  // counted from the restart on
    DWORD error;
    Lines lines;
  };
  const std::vector<Case> cases = {
      {"OpenServiceW", 2, ERROR_ACCESS_DENIED, {"Can't list the services that depend on the spooler"}},
      {"EnumDependentServicesW", 1, ERROR_ACCESS_DENIED, {"Can't list the services that depend on the spooler"}},
      {"EnumDependentServicesW", 2, ERROR_MORE_DATA, {"Can't list the services that depend on the spooler"}},
      {"GlobalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY, {"Can't list the services that depend on the spooler"}},
      {"OpenServiceW", 3, ERROR_ACCESS_DENIED, {"Stop dependent service Fax", "Can't stop dependent service Fax"}},
      {"ControlService", 2, ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
       {"Stop dependent service Fax", "Can't stop dependent service Fax"}},
  };
  for (const Case& c : cases) {
    winsim::Reset();
    winsim::PutService(u"Fax", {u"Spooler"});
    winsim::FailCall(c.call, c.error, 1, c.nth);
    Release(state.logText);
    RestartSpooler(&state);
    Lines expected = {">Restart Spooler"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    expected.push_back(refused);
    expected.push_back(notStopped);
    EXPECT_EQ(expected, LogLines()) << c.call << " " << c.nth;
    EXPECT_EQ(0, M().services.services[u"FAX"].stops) << c.call;
    EXPECT_TRUE(winsim::SpoolerRunning());
    EXPECT_EQ(0, M().globalBlocks);
  }

  // Sent the stop request but never stopped: started again (still stopping, so that fails too).
  winsim::Reset();
  winsim::PutService(u"Fax", {u"Spooler"}).neverStops = true;
  Release(state.logText);
  RestartSpooler(&state);
  EXPECT_EQ(Lines({">Restart Spooler", "Stop dependent service Fax", "Can't stop dependent service Fax", refused,
                   notStopped, "Start dependent service Fax", "Can't start dependent service Fax"}),
            LogLines());

  // The dependent stopped, the spooler's second stop request refused: the dependent runs again.
  winsim::Reset();
  winsim::PutService(u"Fax", {u"Spooler"});
  Release(state.logText);
  winsim::FailCall("ControlService", ERROR_SERVICE_CANNOT_ACCEPT_CTRL, 1, 3);
  RestartSpooler(&state);
  EXPECT_EQ(Lines({">Restart Spooler", "Stop dependent service Fax",
                   "Error(5): ControlService failed with code 1061 (0x425) - (The service cannot accept control "
                   "messages at this time.)",
                   "Error(3): Can't stop the spooler - (The service cannot accept control messages at this time.)",
                   "Start dependent service Fax"}),
            LogLines());
  EXPECT_EQ(1, M().services.services[u"FAX"].starts);

  // Stopped, but it won't open to be started again, nor close.
  winsim::Reset();
  winsim::PutService(u"Fax", {u"Spooler"});
  Release(state.logText);
  winsim::FailCall("OpenServiceW", ERROR_ACCESS_DENIED, 1, 4);
  winsim::FailCall("CloseServiceHandle", ERROR_INVALID_HANDLE, 1, 1);  // the listing handle
  RestartSpooler(&state);
  EXPECT_EQ(Lines({">Restart Spooler", "Stop dependent service Fax", "Start dependent service Fax",
                   "Can't start dependent service Fax"}),
            LogLines());
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), M().services.services[u"FAX"].state);
  M().services.handles.clear();
}

TEST_F(SpoolerServiceTest, RestartOfAStoppedSpoolerStartsIt) {
  Spooler().state = SERVICE_STOPPED;
  {
    SpoolerRestart guard(&state);
    EXPECT_TRUE(guard.startOwed);
    EXPECT_EQ(1, winsim::CallCount("ControlService"));
    EXPECT_EQ(0u, M().clock.slept);  // the first status read shows it stopped
  }
  EXPECT_EQ(Lines({">Restart Spooler"}), LogLines());  // 1062 is what we wanted: not logged
  EXPECT_EQ(0, state.errorCount);
  EXPECT_TRUE(winsim::SpoolerRunning());
  EXPECT_EQ(1, Spooler().starts);
}

TEST_F(SpoolerServiceTest, SpoolerThatWontStopIsErrorThreeAndStartedAnyway) {
  Spooler().neverStops = true;
  {
    SpoolerRestart guard(&state);
    EXPECT_EQ(50 * 200u, M().clock.slept);
    Spooler().neverStops = false;  // it stops at last while the caller works
  }
  EXPECT_EQ(Lines({">Restart Spooler", "Error(3): Can't stop the spooler"}), LogLines());
  EXPECT_TRUE(winsim::SpoolerRunning());
  EXPECT_EQ(1, Spooler().starts);

  // Still stuck at the end: the start is refused, and that is error 4.
  Release(state.logText);
  Spooler().neverStops = true;
  RestartSpooler(&state);
  EXPECT_EQ(Lines({">Restart Spooler", "Error(3): Can't stop the spooler",
                   "Error(4): Can't start the spooler - (An instance of the service is already running.)"}),
            LogLines());
  EXPECT_EQ(3, state.errorCount);
}

TEST_F(SpoolerServiceTest, RefusedStopRequestIsErrorFiveInDecimalAndHex) {
  winsim::FailCall("ControlService", ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  {
    SpoolerRestart guard(&state);
    EXPECT_TRUE(guard.startOwed);
  }
  EXPECT_EQ(Lines({">Restart Spooler",
                   "Error(5): ControlService failed with code 1061 (0x425) - (The service cannot accept control "
                   "messages at this time.)",
                   "Error(3): Can't stop the spooler - (The service cannot accept control messages at this time.)"}),
            LogLines());
  EXPECT_EQ(1, winsim::CallCount("StartServiceW"));  // the stop was requested, so the end starts it
  EXPECT_TRUE(winsim::SpoolerRunning());
}

TEST_F(SpoolerServiceTest, RestartWithoutManagerOrServiceStartsNothing) {
  winsim::FailCall("OpenSCManagerW", ERROR_ACCESS_DENIED);
  RestartSpooler(&state);
  EXPECT_EQ(Lines({">Restart Spooler", "Error(1): Can't open service manager. - (Access is denied.)"}),
            LogLines());
  EXPECT_EQ(0, winsim::CallCount("CloseServiceHandle"));

  Release(state.logText);
  winsim::FailNext("OpenServiceW", ERROR_ACCESS_DENIED);
  RestartSpooler(&state);
  EXPECT_EQ(Lines({">Restart Spooler", "Error(2): Can't open the spooler - (Access is denied.)"}), LogLines());
  EXPECT_EQ(0, winsim::CallCount("ControlService"));
  EXPECT_EQ(0, winsim::CallCount("StartServiceW"));
  EXPECT_EQ(1, winsim::CallCount("CloseServiceHandle"));  // the manager only
  EXPECT_TRUE(winsim::SpoolerRunning());
}

TEST_F(SpoolerServiceTest, RestartWithoutStateLogsNothing) {
  winsim::FailCall("ControlService", ERROR_ACCESS_DENIED);
  Spooler().neverStarts = true;
  {
    SpoolerRestart guard(nullptr);
    Spooler().state = SERVICE_STOPPED;
  }
  winsim::FailNext("OpenSCManagerW", ERROR_ACCESS_DENIED);
  RestartSpooler(nullptr);
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
  winsim::FailNext("CloseServiceHandle", ERROR_INVALID_HANDLE, 2);
  RestartSpooler(&state);
  EXPECT_EQ(Lines({">Check Spooler", ">Restart Spooler"}), LogLines());
  EXPECT_EQ(0, state.errorCount);
  EXPECT_TRUE(winsim::SpoolerRunning());
  M().services.handles.clear();  // the handles the failed closes left behind
}
