// The right account and the right session: the simulated machine's accounts, sessions and
// tokens, and where the installer's companion lands in each way the product is deployed.
#include <gtest/gtest.h>

#include <string>

#include "app/installer_state.h"
#include "tray/tray.h"
#include "winsim_fixture.h"

using winsim::M;

namespace {
const char* const kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char16_t* const kTray = u"C:\\Program Files\\Marbleleaf\\mbltray.exe";
const char* const kMutex = "{A9CA955A-0A8A-4C32-AAC6-888FB5F83BDC}";

class SessionsTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    winsim::CreateRegKey(HKEY_LOCAL_MACHINE, kRunKey);
  }
  void TearDown() override {
    Release(state_.installerDir);
    Release(state_.logText);
    MachineTest::TearDown();
  }
  std::string Register() {
    Release(state_.logText);
    Assign(state_.installerDir, u"C:\\Program Files\\Marbleleaf\\Setup\\");
    RegisterAndStartTray(&state_);
    return state_.logText ? Narrow(Text(state_.logText)) : std::string();
  }
  static const winsim::Process* Started() {
    for (const winsim::Process& process : M().desktop.processes)
      if (process.startedByUs) return &process;
    return nullptr;
  }
  // No process the installer starts may run as SYSTEM, in session 0, or elevated on a desktop.
  static void ExpectNoPrivilegedStart() {
    for (const winsim::Process& process : M().desktop.processes) {
      if (!process.startedByUs) continue;
      EXPECT_NE(winsim::kSystemSid, process.user);
      EXPECT_NE(0u, process.session);
      EXPECT_FALSE(process.elevated);
    }
  }
  InstallerState state_ = {};
};
}  // namespace

// Named objects: a plain name is the session's own, "Global\\" is shared, session 0 is global.
TEST_F(SessionsTest, KernelObjectNamesAreLocalToTheSessionUnlessGlobal) {
  struct Case {
    const char* name;
    DWORD session;
    const char* full;
  };
  const Case cases[] = {
      {"Tray", 1, "\\Sessions\\1\\BaseNamedObjects\\Tray"},
      {"Local\\Tray", 2, "\\Sessions\\2\\BaseNamedObjects\\Tray"},
      {"Global\\Tray", 2, "\\BaseNamedObjects\\Tray"},
      {"Tray", 0, "\\BaseNamedObjects\\Tray"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.full, winsim::KernelObjectName(c.name, c.session)) << c.name;

  // A companion in session 2 is invisible to an installer in session 1: its mutex is new here
  // and its window is not found; the installer's own session sees its own.
  const std::string user = winsim::AddAccount(u"Bea", false);
  winsim::SignIn(user, 2);
  winsim::StartTrayCompanionIn(2);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutex);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  EXPECT_EQ(nullptr, FindWindowW(u"mbs::{05759F8E-103D-41B6-8A61-EFAA89516692}", nullptr));
  CloseHandle(mutex);
  winsim::StartTrayCompanionIn(1);
  mutex = CreateMutexA(nullptr, FALSE, kMutex);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_NE(nullptr, FindWindowW(u"mbs::{05759F8E-103D-41B6-8A61-EFAA89516692}", nullptr));
  CloseHandle(mutex);
  EXPECT_EQ(1, winsim::RunningProcessesIn(kTray, 1));
  EXPECT_EQ(1, winsim::RunningProcessesIn(kTray, 2));
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(winsim::FindSession(2)->shellProcess, &session));
  EXPECT_EQ(2u, session);
}

// HKCU is the hive of the account running the installer: SYSTEM's is .DEFAULT.
TEST_F(SessionsTest, EachAccountHasItsOwnCurrentUserHive) {
  const std::string user = winsim::AddAccount(u"Bea", false);
  winsim::SignIn(user, 2);
  winsim::SetRegString(HKEY_CURRENT_USER, "Software\\Test", u"Who", u"admin");
  winsim::RunInstallerAs(user, 2, false);
  EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_CURRENT_USER, "Software\\Test", u"Who"));
  HKEY key = nullptr;
  const std::string adminPath = std::string(winsim::kFirstAdminSid) + "\\Software\\Test";
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_USERS, adminPath.c_str(), 0, KEY_READ, &key));
  RegCloseKey(key);
  winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
  EXPECT_EQ(u"HKU\\.DEFAULT\\SOFTWARE", winsim::RegKeyName(HKEY_CURRENT_USER, "Software"));
}

// What each token may do, as Windows grants it.
TEST_F(SessionsTest, TokensStartProcessesOnlyWithTheRightsTheCallerHolds) {
  struct Case {
    const char* name;
    bool system;
    bool elevated;
    DWORD queryError;        // WTSQueryUserToken of session 1
    DWORD withTokenError;    // CreateProcessWithTokenW with the shell's token
  };
  const Case cases[] = {
      {"elevated administrator", false, true, ERROR_PRIVILEGE_NOT_HELD, 0},
      {"unelevated administrator", false, false, ERROR_PRIVILEGE_NOT_HELD, ERROR_PRIVILEGE_NOT_HELD},
      {"SYSTEM", true, true, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::Reset();
    winsim::InstallTrayProgram(kTray);
    winsim::RunInstallerAs(c.system ? winsim::kSystemSid : winsim::kFirstAdminSid, c.system ? 0 : 1, c.elevated);
    HANDLE user = nullptr;
    EXPECT_EQ(c.queryError == 0, WTSQueryUserToken(1, &user) != FALSE);
    if (c.queryError) {
      EXPECT_EQ(c.queryError, GetLastError());
    }
    if (user) CloseHandle(user);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, winsim::FindSession(1)->shellProcess);
    ASSERT_NE(nullptr, process);
    HANDLE token = nullptr, primary = nullptr;
    ASSERT_TRUE(OpenProcessToken(process, TOKEN_DUPLICATE, &token));
    ASSERT_TRUE(DuplicateTokenEx(token, TOKEN_ASSIGN_PRIMARY, nullptr, SecurityImpersonation, TokenPrimary, &primary));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    char16_t commandLine[] = u"\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"";
    const BOOL started = CreateProcessWithTokenW(primary, 0, nullptr, commandLine, 0, nullptr, nullptr, &startup, &info);
    EXPECT_EQ(c.withTokenError == 0, started != FALSE);
    if (started) {
      EXPECT_EQ(1u, winsim::FindProcess(info.dwProcessId)->session);
      EXPECT_FALSE(winsim::FindProcess(info.dwProcessId)->elevated);
      CloseHandle(info.hProcess);
      CloseHandle(info.hThread);
    } else {
      EXPECT_EQ(c.withTokenError, GetLastError());
    }
    for (HANDLE handle : {primary, token, process}) CloseHandle(handle);
  }
}

// Who starts the companion, and as whom, in each way the installer is run.
TEST_F(SessionsTest, TheCompanionStartsAsTheSignedInUserOfTheSessionOrNotAtAll) {
  struct Case {
    const char* context;
    bool system;         // the installer runs as SYSTEM in session 0
    bool overShoulder;   // an administrator elevates it on a standard user's desktop
    bool nobodySignedIn;
    bool noShell;        // the session's shell is not running
    const char* startedWith;  // null: not started
    const char* log;
  };
  const Case cases[] = {
      {"elevated by the signed-in administrator", false, false, false, false, "CreateProcessWithTokenW", ""},
      {"over the shoulder", false, true, false, false, "CreateProcessWithTokenW", ""},
      // Only SYSTEM may take a session's user token.
      {"a session without its shell", false, false, false, true, nullptr,
       "Tray companion not started: WTSQueryUserToken failed with code 1314; it starts at the next logon\r\n"},
      {"SYSTEM with a user at the console", true, false, false, false, "CreateProcessAsUserW",
       "Tray companion started in session 1 for its signed-in user\r\n"},
      {"SYSTEM with nobody signed in", true, false, true, false, nullptr,
       "Tray companion not started: no user is signed in; it starts at the next logon\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.context);
    winsim::Reset();
    winsim::CreateRegKey(HKEY_LOCAL_MACHINE, kRunKey);
    winsim::InstallTrayProgram(kTray);
    std::string sessionUser = winsim::kFirstAdminSid;
    if (c.overShoulder) {
      winsim::SignOut(1);
      sessionUser = winsim::AddAccount(u"Bea", false);
      winsim::SignIn(sessionUser, 1);
      const std::string helper = winsim::AddAccount(u"Helpdesk", true);
      winsim::RunInstallerAs(helper, 1, true);
    }
    if (c.system) winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
    if (c.nobodySignedIn) winsim::SignOut(1);
    if (c.noShell) winsim::EndProcess(winsim::FindSession(1)->shellProcess);
    EXPECT_EQ(c.log, Register());
    // The Run value is written either way: the companion starts at the next logon.
    EXPECT_NE(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray"));
    const winsim::Process* process = Started();
    if (!c.startedWith) {
      EXPECT_EQ(nullptr, process);
      continue;
    }
    ASSERT_NE(nullptr, process);
    EXPECT_EQ(c.startedWith, process->startedWith);
    EXPECT_EQ(sessionUser, process->user);
    EXPECT_EQ(1u, process->session);
    EXPECT_EQ("C:\\Program Files\\Marbleleaf", Narrow(process->currentDirectory));
    EXPECT_EQ(process->id, winsim::FindMutexIn(kMutex, 1)->owner);
    ExpectNoPrivilegedStart();
  }
}

// Values written by this version are quoted; those of earlier versions are not. Both name the
// companion's file, which goes with the value.
TEST_F(SessionsTest, StopTrayRecognisesQuotedAndUnquotedRunValues) {
  const char16_t* const values[] = {u"C:\\Program Files\\Marbleleaf\\mbltray.exe",
                                    u"\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"",
                                    u"\"C:\\Program Files\\Marbleleaf\\mbltray.exe\" /minimized",
                                    u"\"C:\\Program Files\\Marbleleaf\\mbltray.exe"};
  for (const char16_t* value : values) {
    SCOPED_TRACE(Narrow(value));
    winsim::PutFile(kTray, "MZ");
    winsim::SetRegString(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray", value);
    StopTray();
    EXPECT_FALSE(winsim::FileExists(kTray));
    EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray"));
  }
  // A reinstall keeps the file it starts again, whichever way the value was written.
  winsim::PutFile(kTray, "MZ");
  winsim::SetRegString(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray", u"\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"");
  StopTray(kTray);
  EXPECT_TRUE(winsim::FileExists(kTray));
}

// A Remote Desktop host: two users, each with their companion. The removal, run as SYSTEM by a
// deployment agent or by an elevated administrator at the console, stops both so that the file
// can go; the next install as SYSTEM starts each again in its own session, as its own user.
TEST_F(SessionsTest, CompanionsOfEverySessionAreStoppedAndStartedAgainThere) {
  struct Case {
    const char* context;
    bool system;
    const char* startLog;
  };
  const Case cases[] = {
      // The administrator at the console is signed in too.
      {"SYSTEM in session 0", true,
       "Tray companion started in session 1 for its signed-in user\r\n"
       "Tray companion started in session 2 for its signed-in user\r\n"
       "Tray companion started in session 3 for its signed-in user\r\n"},
      // Other sessions' companions start at their users' next logon.
      {"the administrator at the console", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.context);
    winsim::Reset();
    winsim::CreateRegKey(HKEY_LOCAL_MACHINE, kRunKey);
    winsim::InstallTrayProgram(kTray);
    winsim::SetRegString(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray", u"\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"");
    const std::string bea = winsim::AddAccount(u"Bea", false);
    const std::string carl = winsim::AddAccount(u"Carl", true);
    winsim::SignIn(bea, 2);
    winsim::SignIn(carl, 3);
    // One answers the request to end, the other never does and is ended.
    const DWORD first = winsim::StartTrayCompanionIn(2, winsim::TrayScript{winsim::TrayAnswer::kExits, 200});
    const DWORD second = winsim::StartTrayCompanionIn(3, winsim::TrayScript{winsim::TrayAnswer::kNeverAnswers});
    if (c.system) winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
    StopTray();
    EXPECT_FALSE(winsim::FindProcess(first)->running);
    EXPECT_FALSE(winsim::FindProcess(second)->running);
    EXPECT_EQ(0, winsim::RunningProcesses(kTray));  // nothing holds the file: it is gone
    EXPECT_FALSE(winsim::FileExists(kTray));
    EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray"));

    winsim::InstallTrayProgram(kTray);  // the setup program copies the new file
    const std::string log = Register();
    if (c.system) {
      EXPECT_EQ(c.startLog, log);
    }
    const int expected = c.system ? 1 : 0;
    EXPECT_EQ(expected, winsim::RunningProcessesIn(kTray, 2));
    EXPECT_EQ(expected, winsim::RunningProcessesIn(kTray, 3));
    if (c.system) {
      EXPECT_EQ(bea, winsim::FindProcess(winsim::FindMutexIn(kMutex, 2)->owner)->user);
      EXPECT_EQ(carl, winsim::FindProcess(winsim::FindMutexIn(kMutex, 3)->owner)->user);
    } else {
      EXPECT_EQ(1, winsim::RunningProcessesIn(kTray, 1));  // the administrator's own
    }
    ExpectNoPrivilegedStart();
  }
}

// A standard user's own run (no elevation) may not end another user's companion: the Restart
// Manager refuses, and the file stays in use.
TEST_F(SessionsTest, WithoutAdministratorRightsOtherUsersCompanionsAreNotEnded) {
  const std::string bea = winsim::AddAccount(u"Bea", false);
  winsim::SignIn(bea, 2);
  winsim::PutFile(kTray, "MZ");
  winsim::SetRegString(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray", kTray);
  const DWORD other = winsim::StartTrayCompanionIn(2);
  winsim::RunInstallerAs(winsim::kFirstAdminSid, 1, false);
  StopTray();
  EXPECT_TRUE(winsim::FindProcess(other)->running);
}

// As SYSTEM, each failure costs only the start it concerns, and the log says which.
TEST_F(SessionsTest, FailuresOfTheStartInEverySessionAreLoggedAndCostOnlyThatStart) {
  struct Case {
    const char* function;
    int fromCall;
    int running;   // companions started, in sessions 1 and 2
    const char* log;
    size_t handlesLeft;
  };
  const Case cases[] = {
      {"WTSEnumerateSessionsW", 1, 0,
       "Tray companion not started: WTSEnumerateSessionsW failed with code 5; it starts at the next logon\r\n", 0},
      {"WTSQueryUserToken", 1, 1,
       "Tray companion not started in session 1: WTSQueryUserToken failed with code 5; it starts at the next logon\r\n"
       "Tray companion started in session 2 for its signed-in user\r\n", 0},
      {"CreateProcessAsUserW", 2, 1,
       "Tray companion started in session 1 for its signed-in user\r\n"
       "Tray companion not started in session 2: CreateProcessAsUserW failed with code 5; it starts at the next logon\r\n",
       0},
      {"CloseHandle", 3, 2,
       "Tray companion started in session 1 for its signed-in user\r\n"
       "Tray companion started in session 2 for its signed-in user\r\n", 1},  // session 1's token
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    winsim::Reset();
    winsim::CreateRegKey(HKEY_LOCAL_MACHINE, kRunKey);
    winsim::InstallTrayProgram(kTray);
    winsim::SignIn(winsim::AddAccount(u"Bea", false), 2);
    winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
    winsim::FailCall(c.function, ERROR_ACCESS_DENIED, 1, c.fromCall);
    EXPECT_EQ(c.log, Register());
    EXPECT_EQ(c.running, winsim::RunningProcesses(kTray));
    EXPECT_EQ(c.handlesLeft, M().desktop.handles.size());
    ExpectNoPrivilegedStart();
    M().desktop.handles.clear();
  }
}
