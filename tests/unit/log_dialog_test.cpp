#include <gtest/gtest.h>

#include "app/installer_state.h"
#include "app/log.h"
#include "log/log_dialog.h"
#include "system_fixture.h"

using LogDialogTest = SystemStateTest;

TEST_F(LogDialogTest, TitleTellsWhetherErrorsWereCounted) {
  LogLine(&state, TEXT("line"));
  EXPECT_TRUE(ShowLogDialog(&state, nullptr));
  const winsim::DialogState& dialog = winsim::M().desktop.dialog;
  EXPECT_EQ(1, dialog.shown);
  EXPECT_EQ(101, dialog.templateId);
  EXPECT_EQ("Marbleleaf build 2093- Install log.", Narrow(dialog.title));
  EXPECT_EQ("line\r\n", Narrow(dialog.text));
  EXPECT_EQ(1, dialog.result);

  state.errorCount = 1;
  winsim::M().desktop.dialog.scriptedCommand = IDCANCEL;
  HWND parent = winsim::AddWindow(u"SetupFrame", u"Setup");
  ShowLogDialog(&state, parent);
  EXPECT_EQ("Marbleleaf build 2093- Install error log!", Narrow(dialog.title));
  EXPECT_EQ(0, dialog.result);
  EXPECT_EQ(parent, dialog.parent);
}

TEST_F(LogDialogTest, EmptyLogAndOtherCommands) {
  ShowLogDialog(&state, nullptr);
  EXPECT_EQ("", Narrow(winsim::M().desktop.dialog.text));
  winsim::M().desktop.dialog.scriptedCommand = 1001;  // not a button that ends the dialog
  ShowLogDialog(&state, nullptr);
  EXPECT_EQ(-1, winsim::M().desktop.dialog.result);
}

// Nobody can close a dialog in a service's window station, nor in session 0.
TEST_F(LogDialogTest, SeenOnlyInAVisibleWindowStationOutsideSessionZero) {
  EXPECT_TRUE(LogDialogCanBeSeen(&state));
  winsim::M().desktop.interactiveStation = false;
  EXPECT_FALSE(LogDialogCanBeSeen(&state));
  winsim::FailNext("GetUserObjectInformationW", 6);
  EXPECT_TRUE(LogDialogCanBeSeen(&state));  // Windows can't tell the station: as on a desktop
  winsim::M().desktop.interactiveStation = true;
  winsim::M().sessionId = 0;
  EXPECT_FALSE(LogDialogCanBeSeen(&state));
  winsim::M().sessionId = 2;
  EXPECT_TRUE(LogDialogCanBeSeen(&state));
  EXPECT_TRUE(LogLines().empty());
  // Nor when it can't tell the session: a dialog there might never be closed.
  winsim::FailNext("ProcessIdToSessionId", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(LogDialogCanBeSeen(&state));
  EXPECT_EQ(std::vector<std::string>{"ProcessIdToSessionId failed with code 5: no log dialog"}, LogLines());
  EXPECT_EQ(0, state.errorCount);
}

TEST_F(LogDialogTest, FailuresOfTheDialogCallsOnlyLeaveItUnfinished) {
  state.errorCount = 1;
  winsim::FailCall("SetDlgItemTextW", 1400);
  winsim::FailCall("SetWindowTextW", 1400);
  ShowLogDialog(&state, nullptr);
  EXPECT_EQ("", Narrow(winsim::M().desktop.dialog.title));
  EXPECT_EQ(1, winsim::M().desktop.dialog.result);

  winsim::FailNext("EndDialog", 1400, 2);
  ShowLogDialog(&state, nullptr);
  winsim::M().desktop.dialog.scriptedCommand = IDCANCEL;
  ShowLogDialog(&state, nullptr);
  EXPECT_EQ(-1, winsim::M().desktop.dialog.result);

  winsim::FailNext("GetProcessWindowStation", 5);  // unknown station: shown as on a desktop
  EXPECT_TRUE(LogDialogCanBeSeen(&state));
  winsim::FailNext("DialogBoxParamW", 1813);  // no template: returns at once
  EXPECT_FALSE(ShowLogDialog(&state, nullptr));
  EXPECT_EQ(4, winsim::CallCount("DialogBoxParamW"));
}
