// Closing the product's help windows before an install or uninstall run.
#include <gtest/gtest.h>

#include "probes/probes.h"
#include "winsim_fixture.h"

using winsim::M;
using HelpWindowsTest = MachineTest;

TEST_F(HelpWindowsTest, NoHelpWindowReturnsAtOnce) {
  winsim::AddWindow(u"HH Parent", u"Other Product Help");
  winsim::AddWindow(u"Notepad", u"Marbleleaf Help");
  CloseHelpWindows();
  EXPECT_EQ(1, winsim::CallCount("FindWindowW"));
  EXPECT_EQ(0, winsim::CallCount("PostMessageW"));
  EXPECT_EQ(0u, M().clock.now);
}

TEST_F(HelpWindowsTest, AsksEveryHelpWindowUntilAllHaveClosed) {
  HWND slow = winsim::OpenHelpWindow(120);
  HWND quick = winsim::OpenHelpWindow(0);
  HWND other = winsim::AddWindow(u"HH Parent", u"Other Product Help");
  CloseHelpWindows();
  EXPECT_FALSE(IsWindow(slow));
  EXPECT_FALSE(IsWindow(quick));
  EXPECT_TRUE(IsWindow(other));
  // The newest is asked first and gone by the next look; the other is asked while it closes.
  EXPECT_EQ(1, winsim::PostedTo(quick, WM_SYSCOMMAND));
  EXPECT_EQ(3, winsim::PostedTo(slow, WM_SYSCOMMAND));
  EXPECT_EQ(0, winsim::PostedTo(other, WM_SYSCOMMAND));
  EXPECT_EQ(SC_CLOSE, M().desktop.posted.front().wParam);
  EXPECT_EQ(0, M().desktop.posted.front().lParam);
  EXPECT_EQ(200u, M().clock.now);
}

TEST_F(HelpWindowsTest, AWindowThatNeverClosesIsGivenUpAfterAboutFiveSeconds) {
  HWND stubborn = winsim::OpenHelpWindow(winsim::kNeverCloses);
  CloseHelpWindows();
  EXPECT_TRUE(IsWindow(stubborn));
  EXPECT_EQ(100, winsim::PostedTo(stubborn, WM_SYSCOMMAND));
  EXPECT_EQ(5000u, M().clock.now);
}

TEST_F(HelpWindowsTest, FailedCallsNeitherHangNorStopTheClosing) {
  // A failed search looks like no window: the run goes on.
  HWND window = winsim::OpenHelpWindow(0);
  winsim::FailNext("FindWindowW", ERROR_ACCESS_DENIED);
  CloseHelpWindows();
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(0u, M().clock.now);
  // A lost request is posted again on the next attempt.
  winsim::FailNext("PostMessageW", ERROR_ACCESS_DENIED);
  CloseHelpWindows();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(1, winsim::PostedTo(window, WM_SYSCOMMAND));
  EXPECT_EQ(100u, M().clock.now);
}
