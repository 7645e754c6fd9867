#include <gtest/gtest.h>

#include <string>

#include "app/log.h"
#include "support/wide_format.h"
#include "system_fixture.h"

class LogTest : public SystemStateTest {
 protected:
  std::string Log() const { return Narrow(Text(state.logText)); }
};

TEST_F(LogTest, IndentsTwoBlanksPerLevelUpToTen) {
  state.depth = 3;
  LogLine(&state, TEXT("three"));
  state.depth = 10;
  LogLine(&state, TEXT("ten"));
  state.depth = 12;
  LogLine(&state, TEXT("twelve"));
  state.depth = -1;
  LogLine(&state, TEXT("below"));
  state.depth = 1;
  LogAppend(&state, nullptr);
  EXPECT_EQ("      three\r\n" + std::string(20, ' ') + "ten\r\n" + std::string(20, ' ') + "twelve\r\nbelow\r\n  \r\n",
            Log());
  EXPECT_EQ(0, state.errorCount);
}

TEST_F(LogTest, ErrorLinesCarryTheSystemTextAndKeepTheLastError) {
  SetLastError(0);
  LogError(&state, 4, TEXT("Can't start the spooler"));
  SetLastError(5);
  state.depth = 1;
  LogError(&state, 9, TEXT("Cant't open destination file: %s"), TEXT("C:\\x.dll"));
  EXPECT_EQ(5u, GetLastError());
  SetLastError(0xDEAD);  // a code Windows has no text for
  state.depth = 0;
  LogError(&state, 12, TEXT("Can`t remove the port monitor 'MarbleleafServer:'"));
  EXPECT_EQ(0xDEADu, GetLastError());
  SetLastError(ERROR_BAD_EXE_FORMAT);  // a text with an insert, taken as it is
  LogError(&state, 11, TEXT("Can`t install a local port monitor"));
  // A Windows without English texts: the English text is asked for, so there is none.
  winsim::M().messageLanguage = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
  SetLastError(ERROR_ACCESS_DENIED);
  LogError(&state, 16, TEXT("Can`t open printer 'P'"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(
      "Error(4): Can't start the spooler\r\n"
      "  Error(9): Cant't open destination file: C:\\x.dll - (Access is denied.)\r\n"
      "Error(12): Can`t remove the port monitor 'MarbleleafServer:' - ( No Description )\r\n"
      "Error(11): Can`t install a local port monitor - (%1 is not a valid Win32 application.)\r\n"
      "Error(16): Can`t open printer 'P' - ( No Description )\r\n",
      Log());
  EXPECT_EQ(5, state.errorCount);
  EXPECT_EQ(0, winsim::M().localBlocks);
}

// A silent run (the probes') logs into no state: nothing is written, nothing is asked of Windows,
// and the failure the caller is about to report elsewhere is still the last error.
TEST_F(LogTest, ANullStateLogsNothingAndKeepsTheLastError) {
  SetLastError(ERROR_ACCESS_DENIED);
  {
    LogSection section(nullptr, 2);
    LogLine(nullptr, TEXT("line %d"), 1);
    LogError(nullptr, 4, TEXT("Can't start the spooler"));
    LogAppend(nullptr, TEXT("text"));
  }
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(0, winsim::CallCount("FormatMessageW"));
}

TEST_F(LogTest, LongLinesAreCutAtTheBuffer) {
  std::u16string longText(3000, u'x');
  SetLastError(5);
  LogError(&state, 8, TEXT("CopyFile(..,%s)"), longText.c_str());
  LogLine(&state, TEXT("%s"), longText.c_str());
  const std::string log = Log();
  const size_t firstEnd = log.find("\r\n");
  EXPECT_EQ(1023u, firstEnd);
  EXPECT_EQ(1023u, log.size() - firstEnd - 4);
}

TEST(WideFormat, Conversions) {
  WCHAR out[64];
  FormatWide(out, 64, TEXT("%d|%d|%x|%u|%s|%s|%%|%q"), -2147483647 - 1, 2093, 0x80004005u, 7u, TEXT("w"),
             static_cast<LPCWSTR>(nullptr));
  EXPECT_EQ("-2147483648|2093|80004005|7|w|(null)|%|%q", Narrow(out));
  FormatWide(out, 4, TEXT("%s"), TEXT("abcdef"));
  EXPECT_EQ("abc", Narrow(out));
  // No buffer, or no room in it, writes nothing.
  EXPECT_EQ(0u, FormatWide(nullptr, 64, TEXT("%s"), TEXT("abcdef")));
  out[0] = TEXT('x');
  EXPECT_EQ(0u, FormatWide(out, 0, TEXT("%s"), TEXT("abcdef")));
  EXPECT_EQ(TEXT('x'), out[0]);
}
