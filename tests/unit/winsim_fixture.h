// One fresh simulated machine per test.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "winsim/machine.h"

// Every handle and block a test's run leaves open is reported when the test ends; a test that
// makes a close fail on purpose says how many stay open. Every machine a test builds, however
// many, is checked for processes started with the installer's own rights before it goes.
class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    winsim::SetResetCheck(ExpectNoPrivilegedStarts);
    winsim::Reset();
  }
  void TearDown() override {
    const std::vector<std::string> left = winsim::OpenHandles();
    if (left.size() != handlesLeftOpen)
      for (const std::string& item : left) ADD_FAILURE() << "left open: " << item;
    handlesLeftOpen = 0;
    winsim::Reset();
    winsim::SetResetCheck(nullptr);
  }
  size_t handlesLeftOpen = 0;

 private:
  // Whoever runs the installer, it never hands its own rights to a process it starts: none runs
  // as SYSTEM, none in session 0 (the services' session, where nobody sees it), none with an
  // elevated token on a user's desktop.
  static void ExpectNoPrivilegedStarts() {
    for (const winsim::Process& process : winsim::M().desktop.processes) {
      if (!process.startedByUs) continue;
      const std::string what = "process " + std::to_string(process.id) + " started with " + process.startedWith;
      EXPECT_NE(winsim::kSystemSid, process.user) << what << " runs as SYSTEM";
      EXPECT_NE(0u, process.session) << what << " runs in session 0";
      EXPECT_FALSE(process.elevated) << what << " runs elevated in session " << process.session;
    }
  }
};

// Narrow view of a wide text, for readable assertions (non-ASCII shown as '?').
inline std::string Narrow(const char16_t* text) {
  std::string out;
  for (; text && *text; ++text) out += (*text < 128) ? static_cast<char>(*text) : '?';
  return out;
}
inline std::string Narrow(const std::u16string& text) { return Narrow(text.c_str()); }
