#include <gtest/gtest.h>

#include "app/dispatcher.h"
#include "winsim_fixture.h"

using DispatcherTest = MachineTest;

namespace {
int RunWith(const std::u16string& arguments) {
  winsim::M().commandLine = u"\"C:\\Setup\\install.exe\"" + arguments;
  return RunInstaller(nullptr);
}
}  // namespace

TEST_F(DispatcherTest, VerbsMatchWholeArgumentsInTableOrder) {
  EXPECT_EQ(kVerbInstall, MatchVerb(u"install"));
  EXPECT_EQ(kVerbInstall, MatchVerb(u"INSTALL"));
  EXPECT_EQ(kVerbInstall, MatchVerb(u"serverInstall"));
  EXPECT_EQ(kVerbInstall, MatchVerb(u"In"));
  EXPECT_EQ(kVerbUninstall, MatchVerb(u"UN"));
  EXPECT_EQ(kVerbUninstall, MatchVerb(u"uninstall"));
  EXPECT_EQ(kVerbCheckDriver, MatchVerb(u"ONCHKDRV"));
  EXPECT_EQ(kVerbInit, MatchVerb(u"oninit"));
  EXPECT_EQ(kVerbRemoveTray, MatchVerb(u"RemoveTray"));
  EXPECT_EQ(kVerbSetDefault, MatchVerb(u"def.set"));
  for (const char16_t* other : {u"DEF.SET", u"def.set ", u"def.sett", u"installx", u"", u"i\u0130nstall",
                                u"\u0131n"}) {
    EXPECT_EQ(kVerbNone, MatchVerb(other)) << Narrow(other);
  }
}

TEST_F(DispatcherTest, NoVerbOrUnknownVerbEndsWithSix) {
  EXPECT_EQ(6, RunWith(u""));
  EXPECT_EQ(6, RunWith(u" bogus"));
  EXPECT_EQ(6, RunWith(u" DEF.SET"));
  EXPECT_EQ(6, RunWith(u" \"def.set \""));
  EXPECT_EQ(0, winsim::M().localBlocks);
}

TEST_F(DispatcherTest, ParentWindowOnlyWithExactlyThreeArguments) {
  HWND window = winsim::AddWindow(u"SetupFrame", u"Setup");
  const auto id = static_cast<long long>(reinterpret_cast<intptr_t>(window));
  std::u16string number;
  for (char c : std::to_string(id)) number += static_cast<char16_t>(c);
  LPWSTR three[] = {const_cast<LPWSTR>(u"x"), const_cast<LPWSTR>(u"in"), const_cast<LPWSTR>(number.c_str())};
  EXPECT_EQ(window, ParentWindowFromArguments(3, three));
  EXPECT_EQ(1, winsim::CallCount("IsWindow"));
  LPWSTR four[] = {three[0], three[1], three[2], const_cast<LPWSTR>(u"extra")};
  EXPECT_EQ(nullptr, ParentWindowFromArguments(4, four));
  EXPECT_EQ(1, winsim::CallCount("IsWindow"));  // the fourth argument means the number is not examined
  LPWSTR missing[] = {three[0], three[1], const_cast<LPWSTR>(u"12345")};
  EXPECT_EQ(nullptr, ParentWindowFromArguments(3, missing));
}

TEST_F(DispatcherTest, DecimalConversionFollowsWcstol) {
  EXPECT_EQ(42, ParseDecimal(u"  42abc"));
  EXPECT_EQ(-17, ParseDecimal(u"\t-17"));
  EXPECT_EQ(5, ParseDecimal(u"+5"));
  EXPECT_EQ(0, ParseDecimal(u"abc"));
  EXPECT_EQ(2147483647, ParseDecimal(u"99999999999999999999"));
  EXPECT_EQ(-2147483647 - 1, ParseDecimal(u"-99999999999999999999"));
  // A negative handle is widened with its sign.
  LPWSTR args[] = {const_cast<LPWSTR>(u"x"), const_cast<LPWSTR>(u"in"), const_cast<LPWSTR>(u"-2")};
  ParentWindowFromArguments(3, args);
  EXPECT_EQ(1, winsim::CallCount("IsWindow"));
}

TEST_F(DispatcherTest, ExitCodesForRuns) {
  EXPECT_EQ(100, ExitCodeForRun(true, 3, 1));  // errors beat files left for the reboot
  EXPECT_EQ(101, ExitCodeForRun(false, 1, 1));
  EXPECT_EQ(1, ExitCodeForRun(false, 0, 1));
  EXPECT_EQ(2, ExitCodeForRun(false, 0, 2));
}

TEST_F(DispatcherTest, FailedSplitOrWindowCheckAreNotFatal) {
  winsim::FailCall("CommandLineToArgvW", 8);
  EXPECT_EQ(6, RunWith(u" removetray"));
  HWND window = winsim::AddWindow(u"SetupFrame", u"Setup");
  std::u16string number;
  for (char c : std::to_string(reinterpret_cast<intptr_t>(window))) number += static_cast<char16_t>(c);
  LPWSTR three[] = {const_cast<LPWSTR>(u"x"), const_cast<LPWSTR>(u"in"), const_cast<LPWSTR>(number.c_str())};
  winsim::FailCall("IsWindow", 1400);
  EXPECT_EQ(nullptr, ParentWindowFromArguments(3, three));
}

TEST_F(DispatcherTest, TheLogFileIsAnySlashLogArgumentAfterTheVerb) {
  struct Case {
    std::vector<const char16_t*> arguments;
    const char16_t* file;  // null: none
  };
  const Case cases[] = {
      {{u"x", u"in", u"/LOG=C:\\a.log"}, u"C:\\a.log"},
      {{u"x", u"un", u"123", u"/log=b"}, u"b"},
      {{u"x", u"in", u"/Log="}, u""},
      {{u"x", u"/LOG=C:\\a.log"}, nullptr},  // argument 1 is always the verb
      {{u"x", u"in", u"/LOGX=b"}, nullptr},
      {{u"x", u"in", u"/LO"}, nullptr},
      {{u"x", u"in", u"LOG=b"}, nullptr},
  };
  for (const Case& c : cases) {
    std::vector<LPWSTR> arguments;
    for (const char16_t* a : c.arguments) arguments.push_back(const_cast<LPWSTR>(a));
    LPCWSTR file = LogFileFromArguments(static_cast<int>(arguments.size()), arguments.data());
    if (!c.file) {
      EXPECT_EQ(nullptr, file) << Narrow(arguments.back());
    } else {
      EXPECT_EQ(Narrow(c.file), Narrow(file)) << Narrow(arguments.back());
    }
  }
}
