// A bare InstallerState on a fresh machine, for the operations of src/system, and its log as lines.
#pragma once
#include <cstring>
#include <string>
#include <vector>

#include "app/installer_state.h"
#include "winsim_fixture.h"

class SystemStateTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    std::memset(&state, 0, sizeof(state));
  }
  void TearDown() override {
    FreeInstallerState(&state);
    EXPECT_EQ(0, winsim::M().globalBlocks) << "global blocks left behind";
    MachineTest::TearDown();
  }
  // The log's lines, without their CR LF.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    const std::string text = Narrow(Text(state.logText));
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
      lines.push_back(text.substr(start, end - start));
    return lines;
  }
  InstallerState state;
};
