// Pins winsim's model of other processes: named mutexes, waits on the virtual clock, process
// creation, window search and posting, and the scripted companion and help windows.
#include <gtest/gtest.h>

#include "winsim_fixture.h"

using winsim::M;
using WinsimDesktopTest = MachineTest;

namespace {
const char* const kMutex = "{A9CA955A-0A8A-4C32-AAC6-888FB5F83BDC}";
const char16_t* const kClass = u"mbs::{05759F8E-103D-41B6-8A61-EFAA89516692}";

HANDLE OpenTrayMutex() { return CreateMutexA(nullptr, FALSE, kMutex); }

// Starts the program with the caller's own token, shown as the product shows the companion;
// returns the process id or 0.
DWORD Start(std::u16string commandLine, PROCESS_INFORMATION* info) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  return CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, info)
             ? info->dwProcessId
             : 0;
}
}  // namespace

TEST_F(WinsimDesktopTest, NamedMutexIsSharedByNameAndGoesWithItsLastHandle) {
  HANDLE first = OpenTrayMutex();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(0u, GetLastError());
  HANDLE second = OpenTrayMutex();
  EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
  EXPECT_NE(first, second);
  EXPECT_EQ(2, winsim::FindMutex(kMutex)->handles);
  // Kernel object names are case-sensitive.
  HANDLE other = CreateMutexA(nullptr, FALSE, "{a9ca955a-0a8a-4c32-aac6-888fb5f83bdc}");
  EXPECT_EQ(0u, GetLastError());
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_TRUE(CloseHandle(other));
  EXPECT_EQ(nullptr, winsim::FindMutex(kMutex));
  EXPECT_FALSE(CloseHandle(second));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
  CloseHandle(OpenTrayMutex());
  EXPECT_EQ(0u, GetLastError());
  EXPECT_TRUE(M().desktop.handles.empty());

  winsim::FailCall("CreateMutexA", ERROR_ACCESS_DENIED, 1, winsim::CallCount("CreateMutexA") + 1);
  EXPECT_EQ(nullptr, OpenTrayMutex());
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
}

TEST_F(WinsimDesktopTest, WaitOnAHeldMutexTimesOutAfterTheWholeTimeout) {
  winsim::StartTrayCompanion(winsim::TrayScript{winsim::TrayAnswer::kNeverAnswers});
  HANDLE mutex = OpenTrayMutex();
  EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(mutex, 5000));
  EXPECT_EQ(5000u, M().clock.now);
  EXPECT_EQ(5000u, M().clock.slept);
  PostMessageW(FindWindowW(kClass, nullptr), 1026, 0, 0);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(mutex, 0));
  EXPECT_EQ(5000u, M().clock.now);
  CloseHandle(mutex);
  // An endless wait that nothing can end is reported instead of hanging the test.
  HANDLE held = OpenTrayMutex();
  EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(held, INFINITE));
  EXPECT_EQ(1, M().desktop.endlessWaits);
  CloseHandle(held);
}

TEST_F(WinsimDesktopTest, CompanionAnswersTheExitMessageAsScripted) {
  struct Case {
    winsim::TrayAnswer answer;
    uint64_t windowGoneAt;   // 0: never
    DWORD waitResult;
    uint64_t waitEndsAt;
  };
  const Case cases[] = {
      {winsim::TrayAnswer::kExits, 300, WAIT_OBJECT_0, 300},
      {winsim::TrayAnswer::kClosesWindowKeepsMutex, 300, WAIT_OBJECT_0, 2300},
      {winsim::TrayAnswer::kExitsHoldingMutex, 300, WAIT_ABANDONED, 300},
      {winsim::TrayAnswer::kNeverAnswers, 0, WAIT_TIMEOUT, 5000},
  };
  for (const Case& c : cases) {
    winsim::Reset();
    SCOPED_TRACE(static_cast<int>(c.answer));
    const DWORD id = winsim::StartTrayCompanion(winsim::TrayScript{c.answer, 300, 2000});
    HANDLE mutex = OpenTrayMutex();
    HWND window = FindWindowW(u"MBS::{05759f8e-103d-41b6-8a61-efaa89516692}", nullptr);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(id, winsim::FindMutex(kMutex)->owner);
    EXPECT_TRUE(PostMessageW(window, 1026, 0, 0));
    EXPECT_TRUE(PostMessageW(window, 1026, 0, 0));  // a second request changes nothing
    EXPECT_EQ(c.waitResult, WaitForSingleObject(mutex, 5000));
    EXPECT_EQ(c.waitEndsAt, M().clock.now);
    const winsim::Window& record = M().desktop.windows.back();
    EXPECT_EQ(c.windowGoneAt != 0, !record.alive);
    if (c.windowGoneAt) {
      EXPECT_EQ(c.windowGoneAt, record.closedAt);
    }
    EXPECT_EQ(c.waitResult == WAIT_TIMEOUT ? id : winsim::kThisProcessId, winsim::FindMutex(kMutex)->owner);
    EXPECT_EQ(c.answer != winsim::TrayAnswer::kNeverAnswers, !winsim::FindProcess(id)->running);
    // The owner's thread may wait again on a mutex it owns.
    if (c.waitResult != WAIT_TIMEOUT) {
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0));
    }
    CloseHandle(mutex);
    EXPECT_EQ(c.answer == winsim::TrayAnswer::kNeverAnswers, winsim::FindMutex(kMutex) != nullptr);
  }
}

TEST_F(WinsimDesktopTest, CreateProcessStartsOnlyRegisteredProgramsThatExist) {
  // The caller is the signed-in user's own unelevated program: the child gets that token.
  winsim::RunInstallerAs(winsim::kFirstAdminSid, 1, false);
  PROCESS_INFORMATION info = {};
  EXPECT_EQ(0u, Start(u"\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"", &info));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  winsim::PutFile(winsim::kDefaultTrayPath, "not registered");
  EXPECT_EQ(0u, Start(u"\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"", &info));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());

  winsim::InstallTrayProgram();
  const DWORD id = Start(u"\"C:\\PROGRAM FILES\\Marbleleaf\\MBLTRAY.EXE\"", &info);
  ASSERT_NE(0u, id);
  const winsim::Process& process = *winsim::FindProcess(id);
  EXPECT_EQ("\"C:\\PROGRAM FILES\\Marbleleaf\\MBLTRAY.EXE\"", Narrow(process.commandLine));
  EXPECT_EQ("C:\\Program Files\\Marbleleaf\\mbltray.exe", Narrow(process.imagePath));
  EXPECT_EQ(SW_SHOW, process.startup.wShowWindow);
  EXPECT_EQ("CreateProcessW", process.startedWith);
  EXPECT_EQ(winsim::kFirstAdminSid, process.user);
  EXPECT_EQ(1u, process.session);
  EXPECT_FALSE(process.elevated);
  // The started companion runs: it holds the mutex and owns its window.
  EXPECT_EQ(id, winsim::FindMutex(kMutex)->owner);
  EXPECT_NE(nullptr, FindWindowW(kClass, nullptr));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(info.hProcess, 10));
  // A second companion leaves at once because the mutex exists.
  PROCESS_INFORMATION second = {};
  ASSERT_NE(0u, Start(u"\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"", &second));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second.hProcess, 0));
  EXPECT_EQ(1, winsim::RunningProcesses(winsim::kDefaultTrayPath));

  winsim::EndProcess(id);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(info.hThread, 0));
  for (HANDLE handle : {info.hProcess, info.hThread, second.hProcess, second.hThread}) EXPECT_TRUE(CloseHandle(handle));
  EXPECT_TRUE(M().desktop.handles.empty());
}

TEST_F(WinsimDesktopTest, HelpWindowsCloseOnSystemCloseAfterTheirDelayOrNever) {
  HWND quick = winsim::OpenHelpWindow(120);
  HWND stubborn = winsim::OpenHelpWindow(winsim::kNeverCloses);
  EXPECT_EQ(stubborn, FindWindowW(u"HH Parent", u"Marbleleaf Help"));  // newest on top
  EXPECT_EQ(nullptr, FindWindowW(u"HH Parent", u"Other Help"));
  EXPECT_EQ(stubborn, FindWindowW(nullptr, u"marbleleaf help"));
  EXPECT_TRUE(PostMessageW(quick, WM_SYSCOMMAND, SC_CLOSE, 0));
  EXPECT_TRUE(PostMessageW(stubborn, WM_SYSCOMMAND, SC_CLOSE, 0));
  Sleep(119);
  EXPECT_TRUE(IsWindow(quick));
  Sleep(1);
  EXPECT_FALSE(IsWindow(quick));
  EXPECT_FALSE(PostMessageW(quick, WM_SYSCOMMAND, SC_CLOSE, 0));
  EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, GetLastError());
  Sleep(100000);
  EXPECT_TRUE(IsWindow(stubborn));
  EXPECT_EQ(1, winsim::PostedTo(quick, WM_SYSCOMMAND));
}
