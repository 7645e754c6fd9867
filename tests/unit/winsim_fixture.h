// One fresh simulated machine per test.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "winsim/machine.h"

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override { winsim::Reset(); }
  void TearDown() override { winsim::Reset(); }
};

// Narrow view of a wide text, for readable assertions (non-ASCII shown as '?').
inline std::string Narrow(const char16_t* text) {
  std::string out;
  for (; text && *text; ++text) out += (*text < 128) ? static_cast<char>(*text) : '?';
  return out;
}
inline std::string Narrow(const std::u16string& text) { return Narrow(text.c_str()); }
