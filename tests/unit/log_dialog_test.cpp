#include <gtest/gtest.h>

#include "app/installer_state.h"
#include "app/log.h"
#include "log/log_dialog.h"
#include "system_fixture.h"

using LogDialogTest = SystemStateTest;

TEST_F(LogDialogTest, TitleTellsWhetherErrorsWereCounted) {
  LogLine(&state, TEXT("line"));
  ShowLogDialog(&state, nullptr);
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

TEST_F(LogDialogTest, NotShownWithoutAVisibleWindowStation) {
  winsim::M().desktop.interactiveStation = false;
  state.errorCount = 1;
  ShowLogDialog(&state, nullptr);
  EXPECT_EQ(0, winsim::M().desktop.dialog.shown);
  winsim::FailNext("GetUserObjectInformationW", 6);
  // Windows can't tell: behave as on a desktop.
  ShowLogDialog(&state, nullptr);
  EXPECT_EQ(1, winsim::M().desktop.dialog.shown);
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
  winsim::FailNext("DialogBoxParamW", 1813);       // no template: returns at once
  ShowLogDialog(&state, nullptr);
  EXPECT_EQ(4, winsim::CallCount("DialogBoxParamW"));
}
