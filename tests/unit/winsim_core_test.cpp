// Where winsim could differ from Windows, these pin the Windows behaviour.
#include <gtest/gtest.h>

#include <vector>

#include "winsim_fixture.h"

using WinsimCoreTest = MachineTest;

namespace {
std::vector<std::string> Split(const char16_t* commandLine) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(commandLine, &count);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(Narrow(argv[i]));
  LocalFree(argv);
  return out;
}
}  // namespace

TEST_F(WinsimCoreTest, CommandLineSplitsAsShell32Does) {
  using V = std::vector<std::string>;
  EXPECT_EQ((V{"C:\\a b\\x.exe", "in", "123"}), Split(u"\"C:\\a b\\x.exe\" in 123"));
  EXPECT_EQ((V{"x.exe", "a b", "c"}), Split(u"x.exe \"a b\" c"));
  EXPECT_EQ((V{"x.exe", "a\\\\b", "c\"d", "e\\f"}), Split(u"x.exe a\\\\b c\\\"d \"e\\f\""));
  EXPECT_EQ((V{"x.exe", "a\\\"b"}), Split(u"x.exe a\\\\\\\"b"));
  EXPECT_EQ((V{"x.exe", "a\\b"}), Split(u"x.exe \"a\\\\\"b"));
  // shell32 (unlike the C runtime) ends the quoted part after a doubled quote.
  EXPECT_EQ((V{"x.exe", "a\"b", "c"}), Split(u"x.exe \"a\"\"b c\""));
  EXPECT_EQ((V{"x.exe", ""}), Split(u"x.exe \"\""));
  EXPECT_EQ((V{"x.exe"}), Split(u"x.exe   "));
  EXPECT_EQ((V{"C:\\x\\y\\", "in"}), Split(u"C:\\x\\y\\ in"));
  EXPECT_EQ((V{"C:\\Program Files\\Marbleleaf\\Setup\\install.exe"}), Split(u""));
}

TEST_F(WinsimCoreTest, SystemTextsEndWithLineBreakAndAreFreedWithLocalFree) {
  LPWSTR text = nullptr;
  const DWORD n = FormatMessageW(0x1300, nullptr, 1062, 1033, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  EXPECT_EQ("The service has not been started.\r\n", Narrow(text));
  EXPECT_EQ(35u, n);
  LocalFree(text);
  EXPECT_EQ(0u, FormatMessageW(0x1300, nullptr, 0xDEAD, 1033, reinterpret_cast<LPWSTR>(&text), 0, nullptr));
  EXPECT_EQ(0, winsim::M().localBlocks);
}

TEST_F(WinsimCoreTest, FaultsFireByNameFromTheChosenCallForTheChosenCount) {
  winsim::FailCall("GetSystemDirectoryW", 5, 2, 2);
  WCHAR buffer[MAX_PATH];
  EXPECT_NE(0u, GetSystemDirectoryW(buffer, MAX_PATH));
  EXPECT_EQ(0u, GetSystemDirectoryW(buffer, MAX_PATH));
  EXPECT_EQ(5u, GetLastError());
  EXPECT_EQ(0u, GetSystemDirectoryW(buffer, MAX_PATH));
  EXPECT_NE(0u, GetSystemDirectoryW(buffer, MAX_PATH));
  EXPECT_EQ(4, winsim::CallCount("GetSystemDirectoryW"));
}

// A run cut at its nth failable call: from there every call fails without effect and time
// stands still, but the dead process's handles are still given back.
TEST_F(WinsimCoreTest, ACutRunDoesNothingFromItsNthCallOn) {
  winsim::PutPrinter(u"Office", u"Driver", u"LPT1:");
  std::u16string office = u"Office";
  HANDLE printer = nullptr;
  winsim::CutRunAt(2);
  ASSERT_TRUE(OpenPrinterW(&office[0], &printer, nullptr));
  WCHAR buffer[MAX_PATH];
  EXPECT_EQ(0u, GetSystemDirectoryW(buffer, MAX_PATH));
  const DWORD ticks = GetTickCount();
  Sleep(5000);
  EXPECT_EQ(ticks, GetTickCount());
  EXPECT_TRUE(ClosePrinter(printer));
  EXPECT_TRUE(winsim::M().spooler.handles.empty());
  winsim::EndCut();
  EXPECT_NE(0u, GetSystemDirectoryW(buffer, MAX_PATH));
  EXPECT_EQ(1, winsim::CallCount("GetSystemDirectoryW"));  // the cut calls never reached Windows
}

TEST_F(WinsimCoreTest, VirtualClockRunsScheduledEventsInOrder) {
  std::vector<int> seen;
  winsim::After(300, [&] { seen.push_back(300); });
  winsim::After(100, [&] {
    seen.push_back(100);
    winsim::After(50, [&] { seen.push_back(150); });
  });
  const DWORD start = GetTickCount();
  Sleep(200);
  EXPECT_EQ((std::vector<int>{100, 150}), seen);
  Sleep(200);
  EXPECT_EQ(400u, GetTickCount() - start);
  EXPECT_EQ((std::vector<int>{100, 150, 300}), seen);
}
