// The tray companion: stopping it in each way it can answer, removing its file and Run entry,
// registering and starting it.
#include <gtest/gtest.h>

#include <string>

#include "app/installer_state.h"
#include "tray/tray.h"
#include "winsim_fixture.h"

using winsim::M;

namespace {
const char* const kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char16_t* const kTray = u"C:\\Program Files\\Marbleleaf\\mbltray.exe";

class TrayTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    winsim::CreateRegKey(HKEY_LOCAL_MACHINE, kRunKey);
  }
  void TearDown() override {
    // Every handle the product opened is closed again.
    EXPECT_TRUE(M().desktop.handles.empty());
    EXPECT_TRUE(M().registry.handles.empty());
    MachineTest::TearDown();
  }

  static void SetRunValue(const std::u16string& path) {
    winsim::SetRegString(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray", path);
  }
  static bool HasRunValue() { return winsim::GetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray") != nullptr; }
  // The Run value's text up to its first terminator, and its size in bytes.
  static std::string RunValue(size_t* bytes = nullptr) {
    const winsim::RegValue* value = winsim::GetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray");
    if (!value) return "(none)";
    if (bytes) *bytes = value->data.size();
    std::u16string text;
    for (size_t i = 0; i + 1 < value->data.size(); i += 2) {
      const char16_t c = static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8));
      if (!c) break;
      text += c;
    }
    return Narrow(text);
  }
  // A running companion that Windows started from the Run value at log-on.
  static DWORD RunningCompanion(winsim::TrayAnswer answer, uint64_t delayMs = 300, uint64_t holdMs = 0) {
    winsim::PutFile(kTray, "MZ");
    SetRunValue(kTray);
    return winsim::StartTrayCompanion(winsim::TrayScript{answer, delayMs, holdMs}, kTray);
  }
  static int Calls(const char* function) { return winsim::CallCount(function); }
};
}  // namespace

// The companion's answers, what StopTray spends waiting for each, and what it leaves.
TEST_F(TrayTest, StopTrayWaitsForEachKindOfCompanionAndRemovesItsFileAndValue) {
  struct Case {
    const char* name;
    winsim::TrayAnswer answer;
    uint64_t holdMs;
    uint64_t elapsed;  // virtual time StopTray took
    int posts;
    int waits;
    bool companionEnds;
  };
  using A = winsim::TrayAnswer;
  const Case cases[] = {
      {"exits 300 ms after the request", A::kExits, 0, 300, 1, 1, true},
      {"holds the mutex 2 s after closing its window", A::kClosesWindowKeepsMutex, 2000, 2300, 1, 1, true},
      // The first wait times out with the window gone; one more wait sees the release.
      {"holds the mutex 7 s after closing its window", A::kClosesWindowKeepsMutex, 7000, 7300, 1, 2, true},
      // Two waits of 5 s, then StopTray goes on while the companion still holds the mutex.
      // ... and then the Restart Manager's wait of 5 s, after which it ends the companion.
      {"holds the mutex 20 s after closing its window", A::kClosesWindowKeepsMutex, 20000, 15000, 1, 2, true},
      // The abandoned mutex is ours after the first wait; the second returns at once.
      {"exits holding the mutex", A::kExitsHoldingMutex, 0, 300, 1, 2, true},
      // 20 passes of 5 s and one last wait.
      {"never answers", A::kNeverAnswers, 0, 110000, 20, 21, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::Reset();
    winsim::CreateRegKey(HKEY_LOCAL_MACHINE, kRunKey);
    const DWORD companion = RunningCompanion(c.answer, 300, c.holdMs);
    StopTray();
    EXPECT_EQ(c.elapsed, M().clock.now);
    EXPECT_EQ(c.posts, Calls("PostMessageW"));
    EXPECT_EQ(c.posts, winsim::PostedTo(M().desktop.windows.back().handle, 1026));
    EXPECT_EQ(c.waits, Calls("WaitForSingleObject"));
    EXPECT_EQ(0, Calls("Sleep"));
    EXPECT_EQ(c.companionEnds, !winsim::FindProcess(companion)->running);
    EXPECT_FALSE(winsim::FileExists(kTray));
    EXPECT_FALSE(HasRunValue());
  }
}

TEST_F(TrayTest, StopTrayGivesUpOnACompanionWhoseWindowNeverAppears) {
  winsim::PutFile(kTray, "MZ");
  SetRunValue(kTray);
  const DWORD companion = winsim::StartOtherProcess(kTray);
  winsim::OpenMutexFor(companion, "{A9CA955A-0A8A-4C32-AAC6-888FB5F83BDC}", true);
  StopTray();
  EXPECT_EQ(20, Calls("FindWindowW"));
  EXPECT_EQ(20, Calls("Sleep"));
  EXPECT_EQ(0, Calls("WaitForSingleObject"));
  EXPECT_EQ(10000u, M().clock.now);  // and the Restart Manager's wait, after which it ends it
  EXPECT_FALSE(winsim::FindProcess(companion)->running);
  EXPECT_FALSE(winsim::FileExists(kTray));
  EXPECT_FALSE(HasRunValue());
}

TEST_F(TrayTest, StopTrayWithoutCompanionDeletesWhatTheRunValueNames) {
  // No companion, a Run value: no window search, no wait, no pause.
  winsim::PutFile(kTray, "MZ");
  SetRunValue(kTray);
  StopTray();
  EXPECT_EQ(1, Calls("CreateMutexA"));
  EXPECT_EQ(0, Calls("FindWindowW"));
  EXPECT_EQ(0u, M().clock.now);
  EXPECT_FALSE(winsim::FileExists(kTray));
  EXPECT_FALSE(HasRunValue());
  EXPECT_EQ(nullptr, winsim::FindMutex("{A9CA955A-0A8A-4C32-AAC6-888FB5F83BDC}"));

  // A Run value naming a file that is gone: one attempt, no pause.
  SetRunValue(kTray);
  StopTray();
  EXPECT_EQ(2, Calls("DeleteFileW"));
  EXPECT_EQ(0u, M().clock.now);
  EXPECT_FALSE(HasRunValue());

  // No Run value: one pause of a second, nothing deleted.
  winsim::PutFile(kTray, "MZ");
  StopTray();
  EXPECT_EQ(1000u, M().clock.now);
  EXPECT_EQ(2, Calls("DeleteFileW"));
  EXPECT_TRUE(winsim::FileExists(kTray));
}

TEST_F(TrayTest, StopTrayRetriesTheDeletionWithPausesByError) {
  // Held open by another program for 25 ms: sharing violations, 10 ms apart.
  winsim::PutFile(kTray, "MZ");
  SetRunValue(kTray);
  winsim::LockFile(kTray, 25);
  StopTray();
  EXPECT_EQ(4, Calls("DeleteFileW"));
  EXPECT_EQ(30u, M().clock.now);
  EXPECT_FALSE(winsim::FileExists(kTray));

  // Access denied every time: ten attempts, each followed by 100 ms, then the value goes anyway.
  winsim::PutFile(kTray, "MZ").attributes = FILE_ATTRIBUTE_READONLY;
  SetRunValue(kTray);
  StopTray();
  EXPECT_EQ(14, Calls("DeleteFileW"));
  EXPECT_EQ(1030u, M().clock.now);
  EXPECT_TRUE(winsim::FileExists(kTray));
  EXPECT_FALSE(HasRunValue());
}

TEST_F(TrayTest, StopTrayDeletesOnlyTheCompanionWhateverTheRunValueSays) {
  const char16_t* const others[] = {u"C:\\Windows\\system32\\kernel32.dll", u"C:\\Tools\\mbltray.exe.bak",
                                    u"C:\\Tools\\notmbltray.exe", u"C:\\Tools\\mbltray.ex"};
  for (const char16_t* other : others) {
    SCOPED_TRACE(Narrow(other));
    winsim::PutFile(other, "precious");
    SetRunValue(other);
    StopTray();
    EXPECT_TRUE(winsim::FileExists(other));
    EXPECT_FALSE(HasRunValue());
  }
  EXPECT_EQ(0, Calls("DeleteFileW"));
  // The companion's name in any letter case, behind a slash or a drive, is the companion.
  for (const char16_t* tray : {u"C:\\Tools\\MBLTRAY.EXE", u"D:/apps/MblTray.exe", u"E:mbltray.exe"}) {
    SCOPED_TRACE(Narrow(tray));
    winsim::PutFile(tray, "MZ");
    SetRunValue(tray);
    StopTray();
    EXPECT_FALSE(winsim::FileExists(tray));
  }
}

TEST_F(TrayTest, StopTrayTerminatesARunValueStoredWithoutTerminator) {
  // REG_SZ data written without its terminator comes back without one.
  auto setUnterminated = [](const std::u16string& path) {
    std::vector<uint8_t> bytes;
    for (char16_t c : path) {
      bytes.push_back(static_cast<uint8_t>(c & 0xFF));
      bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    winsim::SetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray", REG_SZ, bytes);
  };
  winsim::PutFile(u"C:\\Tools\\mbltray.exe", "MZ");
  setUnterminated(u"C:\\Tools\\mbltray.exe");
  StopTray();
  EXPECT_FALSE(winsim::FileExists(u"C:\\Tools\\mbltray.exe"));
  EXPECT_EQ(1, Calls("DeleteFileW"));

  // A quoted value that fills all 524 bytes of the buffer.
  const std::u16string folder = u"C:\\" + std::u16string(245, u'd');
  const std::u16string full = folder + u"\\mbltray.exe";
  ASSERT_EQ(260u, full.size());
  winsim::PutFile(full, "MZ");
  setUnterminated(u"\"" + full + u"\"");
  StopTray();
  EXPECT_FALSE(winsim::FileExists(full));
  EXPECT_FALSE(HasRunValue());
  // One character more does not fit: the read fails and StopTray pauses instead.
  winsim::PutFile(full + u"x", "MZ");
  setUnterminated(u"\"" + full + u"x\"");
  StopTray();
  EXPECT_EQ(1000u, M().clock.now);
  EXPECT_EQ(2, Calls("DeleteFileW"));
}

TEST_F(TrayTest, StopTrayWhenWindowsRefuses) {
  // The Run key does not open with full access: file and value stay.
  RunningCompanion(winsim::TrayAnswer::kExits, 0);
  winsim::FailCall("RegOpenKeyExA", ERROR_ACCESS_DENIED);
  StopTray();
  EXPECT_TRUE(winsim::FileExists(kTray));
  EXPECT_TRUE(HasRunValue());
  EXPECT_EQ(0, winsim::RunningProcesses(kTray));

  // No mutex: no waiting and no deletion, but the value goes.
  winsim::FailCall("CreateMutexA", ERROR_ACCESS_DENIED, 1, 2);
  winsim::StartTrayCompanion(winsim::TrayScript{}, kTray);
  StopTray();
  EXPECT_EQ(1, Calls("FindWindowW"));  // only by the first StopTray
  EXPECT_EQ(1, winsim::RunningProcesses(kTray));
  EXPECT_TRUE(winsim::FileExists(kTray));
  EXPECT_FALSE(HasRunValue());
  EXPECT_EQ(0, Calls("DeleteFileW"));
}

// Each failing Windows call leaves StopTray going on to its next step.
TEST_F(TrayTest, StopTrayCarriesOnWhenACallFails) {
  using A = winsim::TrayAnswer;
  struct Case {
    const char* function;
    DWORD error;
    int fromCall;
    A answer;
    uint64_t holdMs;
    uint64_t elapsed;
    bool fileGone;
    bool valueGone;
    size_t objectHandlesLeft;    // a failed CloseHandle leaves ours open
    size_t registryHandlesLeft;  // as does a failed RegCloseKey
  };
  const Case cases[] = {
      // No window seen on the first pass: a pause, then the usual request.
      {"FindWindowW", ERROR_ACCESS_DENIED, 1, A::kExits, 0, 550, true, true, 0, 0},
      // The lost request costs one full wait.
      {"PostMessageW", ERROR_INVALID_WINDOW_HANDLE, 1, A::kExits, 0, 5300, true, true, 0, 0},
      // A failed wait goes straight to the next pass.
      {"WaitForSingleObject", ERROR_INVALID_HANDLE, 1, A::kExits, 0, 300, true, true, 0, 0},
      // The wait after the window has gone fails: StopTray goes on at once, and the Restart
      // Manager sees the companion leave 2.3 s into its wait.
      {"WaitForSingleObject", ERROR_INVALID_HANDLE, 2, A::kClosesWindowKeepsMutex, 7000, 7300, true, true, 0, 0},
      // The last wait after 20 passes fails; the Restart Manager ends it after its own wait.
      {"WaitForSingleObject", ERROR_INVALID_HANDLE, 21, A::kNeverAnswers, 0, 105000, true, true, 0, 0},
      // Without the Restart Manager a companion that never answers keeps running.
      {"RmStartSession", ERROR_ACCESS_DENIED, 1, A::kNeverAnswers, 0, 105000, true, true, 0, 0},
      {"RmRegisterResources", ERROR_ACCESS_DENIED, 1, A::kNeverAnswers, 0, 105000, true, true, 0, 0},
      {"RmShutdown", ERROR_ACCESS_DENIED, 1, A::kNeverAnswers, 0, 105000, true, true, 0, 0},
      {"RmEndSession", ERROR_INVALID_HANDLE, 1, A::kNeverAnswers, 0, 110000, true, true, 0, 0},
      {"DeleteFileW", ERROR_ACCESS_DENIED, 1, A::kExits, 0, 400, true, true, 0, 0},
      {"RegQueryValueExW", ERROR_ACCESS_DENIED, 1, A::kExits, 0, 1300, false, true, 0, 0},
      {"CloseHandle", ERROR_INVALID_HANDLE, 1, A::kExits, 0, 300, true, true, 1, 0},
      {"RegDeleteValueA", ERROR_ACCESS_DENIED, 1, A::kExits, 0, 300, true, false, 0, 0},
      {"RegCloseKey", ERROR_INVALID_HANDLE, 1, A::kExits, 0, 300, true, true, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.function) + " from call " + std::to_string(c.fromCall));
    winsim::Reset();
    winsim::CreateRegKey(HKEY_LOCAL_MACHINE, kRunKey);
    RunningCompanion(c.answer, 300, c.holdMs);
    winsim::FailCall(c.function, c.error, 1, c.fromCall);
    StopTray();
    EXPECT_GE(winsim::CallCount(c.function), c.fromCall);  // the fault fired
    EXPECT_EQ(c.elapsed, M().clock.now);
    EXPECT_EQ(c.fileGone, !winsim::FileExists(kTray));
    EXPECT_EQ(c.valueGone, !HasRunValue());
    EXPECT_EQ(c.objectHandlesLeft, M().desktop.handles.size());
    EXPECT_EQ(c.registryHandlesLeft, M().registry.handles.size());
  }
  winsim::Reset();
}

// ---- RegisterAndStartTray

class RegisterTrayTest : public TrayTest {
 protected:
  void TearDown() override {
    Release(state_.installerDir);
    Release(state_.logText);
    TrayTest::TearDown();
  }
  std::string LogText() const { return state_.logText ? Narrow(Text(state_.logText)) : std::string(); }
  void Register(const std::u16string& installerDir) {
    Assign(state_.installerDir, installerDir.c_str());
    RegisterAndStartTray(&state_);
  }
  static const winsim::Process* Started() {
    for (const winsim::Process& process : M().desktop.processes)
      if (process.startedByUs) return &process;
    return nullptr;
  }
  InstallerState state_ = {};
};

TEST_F(RegisterTrayTest, RegistersAndStartsTheCompanionBesideTheInstallerFolder) {
  winsim::InstallTrayProgram(kTray);
  Register(u"C:\\Program Files\\Marbleleaf\\Setup\\");
  size_t bytes = 0;
  // A command line: quoted, so that Windows never tries "C:\Program.exe".
  EXPECT_EQ("\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"", RunValue(&bytes));
  EXPECT_EQ(84u, bytes);  // 41 characters and the terminator
  EXPECT_EQ(REG_SZ, winsim::GetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray")->type);
  const winsim::Process* process = Started();
  ASSERT_NE(nullptr, process);
  EXPECT_EQ("\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"", Narrow(process->commandLine));
  EXPECT_EQ(104u, process->startup.cb);
  EXPECT_EQ(static_cast<DWORD>(STARTF_USESHOWWINDOW), process->startup.dwFlags);
  EXPECT_EQ(SW_SHOW, process->startup.wShowWindow);
  EXPECT_EQ(static_cast<DWORD>(NORMAL_PRIORITY_CLASS), process->creationFlags);
  EXPECT_FALSE(process->inheritHandles || process->hadApplicationName || process->hadEnvironment);
  // The signed-in user's own unelevated token (the shell's), in its own folder, not the setup's.
  EXPECT_EQ("CreateProcessWithTokenW", process->startedWith);
  EXPECT_EQ(winsim::kFirstAdminSid, process->user);
  EXPECT_FALSE(process->elevated);
  EXPECT_EQ(1u, process->session);
  EXPECT_EQ("C:\\Program Files\\Marbleleaf", Narrow(process->currentDirectory));
  EXPECT_TRUE(process->running);  // not waited for; its handles are closed at once
  EXPECT_EQ("", LogText());  // the ordinary case logs what it always did: nothing
  EXPECT_NE(nullptr, FindWindowW(u"mbs::{05759F8E-103D-41B6-8A61-EFAA89516692}", nullptr));
}

TEST_F(RegisterTrayTest, AnInstallerFolderAtADriveRootGivesTheBareFileName) {
  M().modulePath = u"C:\\install.exe";
  winsim::InstallTrayProgram(u"C:\\mbltray.exe");
  Register(u"C:\\");
  EXPECT_EQ("\"mbltray.exe\"", RunValue());
  ASSERT_NE(nullptr, Started());
  EXPECT_EQ("\"mbltray.exe\"", Narrow(Started()->commandLine));
  // Windows finds the bare name beside the installer.
  EXPECT_EQ("C:\\mbltray.exe", Narrow(Started()->imagePath));
}

TEST_F(RegisterTrayTest, WritesTheValueWithoutAProgramAndStartsWithoutTheValue) {
  Register(u"C:\\Tools\\Setup");  // no trailing separator: the same parent
  EXPECT_EQ("\"C:\\Tools\\mbltray.exe\"", RunValue());
  EXPECT_EQ(1, Calls("CreateProcessWithTokenW"));
  EXPECT_EQ(nullptr, Started());
  // Not counted: the Run value starts it at the next log-on.
  EXPECT_EQ("Can't start the tray program C:\\Tools\\mbltray.exe (2)\r\n", LogText());
  EXPECT_EQ(0, state_.errorCount);

  winsim::InstallTrayProgram(u"C:\\Tools\\mbltray.exe");
  winsim::DeleteRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray");
  winsim::FailCall("RegOpenKeyExA", ERROR_ACCESS_DENIED, 1, 2);
  Register(u"C:\\Tools\\Setup\\");
  EXPECT_FALSE(HasRunValue());
  ASSERT_NE(nullptr, Started());
}

TEST_F(RegisterTrayTest, APathTooLongForTheCommandLineIsRegisteredButNotStartedCut) {
  // The companion's path is the parent folder plus "\\mbltray.exe" (12 characters).
  const std::u16string fits = u"C:\\" + std::u16string(244, u'f');           // path of 259
  const std::u16string tooLong = u"C:\\" + std::u16string(245, u'g');        // path of 260
  winsim::InstallTrayProgram(fits + u"\\mbltray.exe");
  winsim::InstallTrayProgram(tooLong + u"\\mbltray.exe");
  // Where the cut path would lead.
  winsim::InstallTrayProgram(tooLong + u"\\mbltray.ex");

  Register(fits + u"\\Setup\\");
  ASSERT_NE(nullptr, Started());
  EXPECT_EQ(261u, Started()->commandLine.size());
  EXPECT_EQ(Narrow(fits + u"\\mbltray.exe"), Narrow(Started()->imagePath));
  winsim::EndProcess(Started()->id);
  M().desktop.processes.clear();

  Register(tooLong + u"\\Setup\\");
  size_t bytes = 0;
  EXPECT_EQ("\"" + Narrow(tooLong + u"\\mbltray.exe") + "\"", RunValue(&bytes));
  EXPECT_EQ(526u, bytes);
  EXPECT_EQ(1, Calls("CreateProcessWithTokenW"));
  EXPECT_EQ(nullptr, Started());
}

TEST_F(RegisterTrayTest, CarriesOnWhenACallFails) {
  struct Case {
    const char* function;
    int fromCall;
    bool valueWritten;
    bool started;
    size_t objectHandlesLeft;
    size_t registryHandlesLeft;
  };
  const Case cases[] = {
      {"RegSetValueExW", 1, false, true, 0, 0},
      {"RegCloseKey", 1, true, true, 0, 1},
      {"ProcessIdToSessionId", 1, true, false, 0, 0},
      {"GetShellWindow", 1, true, false, 0, 0},
      {"GetWindowThreadProcessId", 1, true, false, 0, 0},
      {"OpenProcess", 1, true, false, 0, 0},
      {"OpenProcessToken", 1, true, false, 0, 0},
      {"DuplicateTokenEx", 1, true, false, 0, 0},
      {"CreateProcessWithTokenW", 1, true, false, 0, 0},
      {"CloseHandle", 1, true, true, 1, 0},  // the shell's token
      {"CloseHandle", 2, true, true, 1, 0},  // the shell's process
      {"CloseHandle", 3, true, true, 1, 0},  // the companion's process handle
      {"CloseHandle", 4, true, true, 1, 0},  // its thread handle
      {"CloseHandle", 5, true, true, 1, 0},  // the user's token
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.function) + " from call " + std::to_string(c.fromCall));
    winsim::Reset();
    winsim::CreateRegKey(HKEY_LOCAL_MACHINE, kRunKey);
    winsim::InstallTrayProgram(kTray);
    winsim::FailCall(c.function, ERROR_ACCESS_DENIED, 1, c.fromCall);
    Release(state_.logText);
    Register(u"C:\\Program Files\\Marbleleaf\\Setup\\");
    EXPECT_EQ(c.valueWritten, HasRunValue());
    EXPECT_EQ(c.started ? 1 : 0, winsim::RunningProcesses(kTray));
    // A companion not started is said, with the call that failed.
    EXPECT_EQ(!c.started, !LogText().empty()) << LogText();
    EXPECT_EQ(c.objectHandlesLeft, M().desktop.handles.size());
    EXPECT_EQ(c.registryHandlesLeft, M().registry.handles.size());
  }
  winsim::Reset();
}

TEST_F(RegisterTrayTest, ReinstallReplacesTheRunningCompanion) {
  // As after the setup program's "removetray" and copying the new files: no Run value.
  winsim::InstallTrayProgram(kTray, winsim::TrayScript{winsim::TrayAnswer::kExits, 200});
  const DWORD old = winsim::StartTrayCompanion(winsim::TrayScript{winsim::TrayAnswer::kExits, 200}, kTray);
  StopTray();
  Register(u"C:\\Program Files\\Marbleleaf\\Setup\\");
  EXPECT_FALSE(winsim::FindProcess(old)->running);
  ASSERT_NE(nullptr, Started());
  EXPECT_TRUE(Started()->running);
  EXPECT_EQ(Started()->id, winsim::FindMutex("{A9CA955A-0A8A-4C32-AAC6-888FB5F83BDC}")->owner);
  EXPECT_EQ(1, winsim::RunningProcesses(kTray));

  // A Run value of the earlier installation naming the same file: StopTray deletes the file
  // that is then to be started, and no companion runs afterwards.
  StopTray();
  SetRunValue(kTray);
  StopTray();
  Register(u"C:\\Program Files\\Marbleleaf\\Setup\\");
  EXPECT_EQ(0, winsim::RunningProcesses(kTray));
  EXPECT_EQ("\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"", RunValue());
}
