// One fresh simulated machine per test.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "winsim/machine.h"

// Every handle and block a test's run leaves open is reported when the test ends; a test that
// makes a close fail on purpose says how many stay open.
class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override { winsim::Reset(); }
  void TearDown() override {
    const std::vector<std::string> left = winsim::OpenHandles();
    if (left.size() != handlesLeftOpen)
      for (const std::string& item : left) ADD_FAILURE() << "left open: " << item;
    handlesLeftOpen = 0;
    winsim::Reset();
  }
  size_t handlesLeftOpen = 0;
};

// Narrow view of a wide text, for readable assertions (non-ASCII shown as '?').
inline std::string Narrow(const char16_t* text) {
  std::string out;
  for (; text && *text; ++text) out += (*text < 128) ? static_cast<char>(*text) : '?';
  return out;
}
inline std::string Narrow(const std::u16string& text) { return Narrow(text.c_str()); }
