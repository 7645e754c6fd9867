#include <gtest/gtest.h>

#include "app/installer_state.h"
#include "winsim_fixture.h"

class InstallerStateTest : public MachineTest {
 protected:
  void TearDown() override {
    FreeInstallerState(&state);
    EXPECT_EQ(0, winsim::M().globalBlocks);
    MachineTest::TearDown();
  }
  InstallerState state;
};

TEST_F(InstallerStateTest, FreshStateStartsWithTheBannerAndItsFolders) {
  InitInstallerState(&state);
  EXPECT_EQ(0, Narrow(Text(state.logText)).rfind("Marbleleaf 2093\r\n", 0));
  EXPECT_EQ("C:\\Program Files\\Marbleleaf\\Setup\\", Narrow(Text(state.installerDir)));
  EXPECT_EQ("C:\\Windows\\system32\\", Narrow(Text(state.systemDir)));
  EXPECT_TRUE(state.installMonitor);
  EXPECT_TRUE(state.copyMonitor);
  EXPECT_FALSE(state.checkMonitorVersion);
  EXPECT_TRUE(state.serverMode);
  EXPECT_EQ(0, state.depth);
}

TEST_F(InstallerStateTest, FoldersAtEdges) {
  winsim::M().modulePath = u"install.exe";
  winsim::M().systemDir = u"C:\\";
  InitInstallerState(&state);
  EXPECT_EQ(nullptr, state.installerDir);
  EXPECT_EQ("C:\\", Narrow(Text(state.systemDir)));
  FreeInstallerState(&state);

  winsim::M().modulePath = u"C:install.exe";
  InitInstallerState(&state);
  EXPECT_EQ("C:", Narrow(Text(state.installerDir)));
}

TEST_F(InstallerStateTest, SystemFolderUnknownIsErrorSeven) {
  winsim::FailCall("GetSystemDirectoryW", 5);
  InitInstallerState(&state);
  EXPECT_NE(std::string::npos, Narrow(Text(state.logText))
                                   .find("Error(7): Can`t retrieve system directory. - (Access is denied.)\r\n"));
  EXPECT_EQ(1, state.errorCount);
  EXPECT_EQ(nullptr, state.systemDir);
}

TEST_F(InstallerStateTest, UnknownExecutablePathOrMessageTextAreNotFatal) {
  winsim::FailCall("GetModuleFileNameW", 5);
  winsim::FailCall("FormatMessageW", 317);
  winsim::FailCall("GetSystemDirectoryW", 5);
  InitInstallerState(&state);
  EXPECT_EQ(nullptr, state.installerDir);
  EXPECT_NE(std::string::npos, Narrow(Text(state.logText))
                                   .find("Error(7): Can`t retrieve system directory. - ( No Description )\r\n"));
}
