// A machine with the product's files beside the installer, and an InstallerState started on it
// once the test has arranged the machine (the state takes its printer inventory at start).
#pragma once
#include <string>
#include <vector>

#include "app/installer_state.h"
#include "winsim_fixture.h"

class SpoolerStepTest : public MachineTest {
 protected:
  static constexpr const char16_t* kSetupDir = u"C:\\Program Files\\Marbleleaf\\Setup\\";
  static constexpr const char16_t* kSystemDir = u"C:\\Windows\\system32\\";
  static constexpr const char16_t* kX64Dir = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\";
  static constexpr const char16_t* kX86Dir = u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86\\";

  void SetUp() override {
    MachineTest::SetUp();
    winsim::PutFolder(kX64Dir);
    winsim::PutFolder(kX86Dir);
    for (const char16_t* file : {u"mlxmon64.dll", u"mlxdrv64.dll", u"mlxui64.dll", u"mlxmon32.dll", u"mlxdrv32.dll",
                                 u"mlxui32.dll"})
      winsim::PutFile(std::u16string(kSetupDir) + file, "module", winsim::Build(2093));
    winsim::PutFile(std::u16string(kSetupDir) + u"mlxhelp.chm", "help");
  }

  void TearDown() override {
    if (started_) FreeInstallerState(&state);
    started_ = false;
    EXPECT_EQ(winsim::M().globalBlocks, 0) << "global blocks left behind";
    MachineTest::TearDown();
  }

  // Initialises the state on the machine as arranged so far and marks the log's end.
  void Start() {
    InitInstallerState(&state);
    started_ = true;
    Mark();
  }
  void Mark() { mark_ = Length(state.logText); }

  // The log lines written since the last mark, indentation kept, without CR LF.
  std::vector<std::string> NewLines() const {
    const std::string text = Narrow(Text(state.logText) + mark_);
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", from)) {
      lines.push_back(text.substr(from, end - from));
      from = end + 2;
    }
    return lines;
  }
  std::string NewText() const { return Narrow(Text(state.logText) + mark_); }

  // The next `times` calls of a function fail (-1: every later call), after `skip` more succeed.
  static void FailNext(const std::string& function, DWORD error, int times = 1, int skip = 0) {
    winsim::FailCall(function, error, times, winsim::CallCount(function) + 1 + skip);
  }

  InstallerState state{};

 private:
  bool started_ = false;
  uint64_t mark_ = 0;
};

using Lines = std::vector<std::string>;
