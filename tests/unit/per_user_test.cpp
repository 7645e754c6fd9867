// Per-user state lands on its owner: the default printer that "def.set" sets, that "onInit"
// asks about and that a reinstall keeps and restores is the signed-in user's, whoever runs the
// installer; with nobody to act for, no account's default changes and nothing reports success.
#include <gtest/gtest.h>

#include <string>

#include "scenario_fixture.h"

namespace {
const char16_t* const kProduct = u"Front Desk";
const char16_t* const kOther = u"Laser";

enum class Context { kOwnDesk, kOverTheShoulder, kSystemWithUser, kSystemAlone, kSystemNoConsole };

struct Case {
  const char* name;
  Context context;
  bool acts;          // someone to act for
  const char* left;   // the log line of a run that acts for nobody
};

const Case kCases[] = {
    {"own desk", Context::kOwnDesk, true, nullptr},
    {"over the shoulder", Context::kOverTheShoulder, true, nullptr},
    {"SYSTEM, user at the console", Context::kSystemWithUser, true, nullptr},
    {"SYSTEM, nobody signed in", Context::kSystemAlone, false,
     "The default printer is not kept: no signed-in user to act for (WTSQueryUserToken, 1008)"},
    {"SYSTEM, no console session", Context::kSystemNoConsole, false,
     "The default printer is not kept: no signed-in user to act for (WTSGetActiveConsoleSessionId, 1008)"},
};

class PerUserTest : public ScenarioTest {
 protected:
  void SetUp() override {
    ScenarioTest::SetUp();
    winsim::PutFolder(u"C:\\ProgramData");
    eventsExpected = true;  // "def.set" and "onInit" runs as SYSTEM may explain themselves there
  }
  // A fresh machine with the user's own printer and a product printer, for the probes.
  void FreshMachineWithTwoPrinters() {
    winsim::Reset();
    SetUp();
    winsim::PutPrinter(kOther, u"Generic Laser", u"LPT1:");
    winsim::PutPrinter(kProduct, kProductDriver, kProductPort);
  }
  // A fresh machine with the product installed and its printer keyed, for the install runs.
  void FreshInstalledMachine() {
    winsim::Reset();
    SetUp();
    PutInstalledProduct(2093);
  }
  // Lays out the context; returns the SID whose state the run must act on ("" for nobody).
  std::string Enter(Context context) {
    bea_ = winsim::AddAccount(u"Bea", false);
    switch (context) {
      case Context::kOwnDesk:
        return winsim::kFirstAdminSid;
      case Context::kOverTheShoulder:
        winsim::SignOut(1);
        winsim::SignIn(bea_, 1);
        winsim::RunInstallerAs(winsim::kFirstAdminSid, 1, true);
        return bea_;
      case Context::kSystemWithUser:
        winsim::SignOut(1);
        winsim::SignIn(bea_, 1);
        winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
        return bea_;
      case Context::kSystemAlone:
        winsim::SignOut(1);
        winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
        return "";
      case Context::kSystemNoConsole:
        winsim::SignOut(1);
        winsim::M().sessions.consoleSession = 0xFFFFFFFF;
        winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
        return "";
    }
    return "";
  }
  // Every account's default: the owner's `owner`, everyone else's `others`.
  void SetDefaults(const std::string& owner, const char16_t* ownerDefault, const char16_t* others) {
    for (const std::string& sid : {std::string(winsim::kSystemSid), std::string(winsim::kFirstAdminSid), bea_})
      winsim::DefaultPrinterOf(sid) = sid == owner ? ownerDefault : others;
  }
  // What the run wrote to its log file (a successful run as SYSTEM shows and records nothing else).
  static std::string RunText() { return LogFileText(kRunLogFile); }
  // The "deleted" mark of the printer's settings in an account's own hive.
  static std::string MarkKey(const std::string& sid) {
    return (sid == winsim::kSystemSid ? std::string(".DEFAULT") : sid) +
           "\\Software\\Orvanel Software KFT\\Marbleleaf\\Marbleleafs\\FrontKey";
  }
  void MarkEveryone() {
    for (const std::string& sid : {std::string(winsim::kSystemSid), std::string(winsim::kFirstAdminSid), bea_}) {
      winsim::CreateRegKey(HKEY_USERS, MarkKey(sid));
      winsim::SetRegString(HKEY_USERS, MarkKey(sid), u"deleted", u"1");
    }
  }
  static bool Marked(const std::string& sid) {
    return winsim::GetRegValue(HKEY_USERS, MarkKey(sid), u"deleted") != nullptr;
  }
  static bool HasLine(const std::string& text, const std::string& line) {
    const size_t at = text.find(line + "\r\n");
    return at != std::string::npos && (at == 0 || text[at - 1] == ' ' || text[at - 1] == '\n');
  }
  std::string bea_;
};
}  // namespace

// "def.set" makes the product printer the owner's default, in no one else's profile; with
// nobody to act for it changes no default and answers with the error code, not 4.
TEST_F(PerUserTest, SetDefaultActsForTheSignedInUser) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    FreshMachineWithTwoPrinters();
    const std::string owner = Enter(c.context);
    SetDefaults(owner, kOther, kOther);
    EXPECT_EQ(c.acts ? 4 : 100, Run(u"def.set"));
    for (const std::string& sid : {std::string(winsim::kSystemSid), std::string(winsim::kFirstAdminSid), bea_})
      EXPECT_EQ(Narrow(sid == owner ? kProduct : kOther), Narrow(winsim::DefaultPrinterOf(sid))) << sid;
    EXPECT_TRUE(winsim::M().sessions.impersonating.empty());
  }
}

// "onInit" asks about the owner's default, not the running account's: the owner uses another
// printer while the running account's default is the product's. With nobody to act for there is
// nothing to offer: 3.
TEST_F(PerUserTest, InitAsksAboutTheSignedInUsersDefault) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    FreshMachineWithTwoPrinters();
    const std::string owner = Enter(c.context);
    SetDefaults(owner, kOther, kProduct);
    EXPECT_EQ(c.acts ? 102 : 3, Run(u"onInit"));
    // The owner already using the product printer is not asked either.
    SetDefaults(owner, kProduct, kOther);
    if (c.acts) {
      EXPECT_EQ(3, Run(u"onInit"));
    }
  }
}

// A reinstall keeps the owner's default product printer and gives it back to them, and clears
// the "deleted" mark of the printer's settings in their hive; the running account's own default
// and marks stay as they were. With nobody to act for the log says so and nothing is touched.
TEST_F(PerUserTest, ReinstallKeepsTheSignedInUsersDefault) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    FreshInstalledMachine();
    winsim::PutPrinter(kOther, u"Generic Laser", u"LPT1:");
    winsim::SetPrinterDataString(winsim::PutPrinter(kProduct, kProductDriver, kProductPort), "", "SubKey", "FrontKey");
    const std::string owner = Enter(c.context);
    SetDefaults(owner, kProduct, kOther);
    MarkEveryone();
    EXPECT_EQ(1, Run(std::u16string(u"serverinstall /LOG=") + kRunLogFile));
    ASSERT_NE(nullptr, winsim::FindPrinter(kProduct));
    for (const std::string& sid : {std::string(winsim::kSystemSid), std::string(winsim::kFirstAdminSid), bea_})
      EXPECT_EQ(sid != owner, Marked(sid)) << sid;
    for (const std::string& sid : {std::string(winsim::kSystemSid), std::string(winsim::kFirstAdminSid), bea_})
      EXPECT_EQ(Narrow(sid == owner ? kProduct : kOther), Narrow(winsim::DefaultPrinterOf(sid))) << sid;
    const std::string text = RunText();
    if (c.left) {
      EXPECT_TRUE(HasLine(text, c.left)) << text;
    } else {
      EXPECT_EQ(std::string::npos, text.find("no signed-in user")) << text;
    }
    EXPECT_TRUE(winsim::M().sessions.impersonating.empty());
  }
}

// Acting for the user can fail at each step: no account's default changes (but the owner's, when
// only the way back failed), and "def.set" does not answer 4. A token that can't be closed
// costs nothing else.
TEST_F(PerUserTest, FailuresToActForTheUserLeaveEveryDefault) {
  struct Failure {
    const char* call;
    Context context;
    const char* also;  // a second call failed in the same run
    bool ownerChanged;
    int exitCode;
  };
  const Failure failures[] = {
      {"ProcessIdToSessionId", Context::kOwnDesk, nullptr, false, 100},
      {"OpenProcessToken", Context::kOverTheShoulder, nullptr, false, 100},
      {"ImpersonateLoggedOnUser", Context::kOverTheShoulder, nullptr, false, 100},
      {"WTSGetActiveConsoleSessionId", Context::kSystemWithUser, nullptr, false, 100},
      {"WTSQueryUserToken", Context::kSystemWithUser, nullptr, false, 100},
      {"RevertToSelf", Context::kSystemWithUser, nullptr, true, 100},
      {"CloseHandle", Context::kSystemWithUser, nullptr, true, 4},
      {"CloseHandle", Context::kSystemWithUser, "ImpersonateLoggedOnUser", false, 100},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(std::string(f.call) + (f.also ? std::string(" and ") + f.also : ""));
    FreshMachineWithTwoPrinters();
    const std::string owner = Enter(f.context);
    SetDefaults(owner, kOther, kOther);
    winsim::FailNext(f.call, ERROR_ACCESS_DENIED);
    if (f.also) winsim::FailNext(f.also, ERROR_ACCESS_DENIED);
    EXPECT_EQ(f.exitCode, Run(u"def.set"));
    for (const std::string& sid : {std::string(winsim::kSystemSid), std::string(winsim::kFirstAdminSid), bea_})
      EXPECT_EQ(Narrow(sid == owner && f.ownerChanged ? kProduct : kOther), Narrow(winsim::DefaultPrinterOf(sid)))
          << sid;
    // A thread that could not revert still acts for the user: the process ends with the verb.
    EXPECT_EQ(std::string(f.call) == "RevertToSelf" ? owner : "", winsim::M().sessions.impersonating);
    winsim::M().sessions.impersonating.clear();
    // The token whose close failed is the one handle left.
    if (std::string(f.call) == "CloseHandle") {
      ASSERT_EQ(1u, winsim::M().desktop.handles.size());
      winsim::M().desktop.handles.clear();
    }
  }
}

// The reinstall's own steps: the log line of each failure, the run itself unharmed.
TEST_F(PerUserTest, FailuresToActForTheUserAreLoggedByTheReinstall) {
  struct Failure {
    const char* call;
    int nth;
    const char* line;
  };
  const Failure failures[] = {
      {"ImpersonateLoggedOnUser", 1,
       "The default printer is not kept: no signed-in user to act for (ImpersonateLoggedOnUser, 5)"},
      {"ImpersonateLoggedOnUser", 2,
       "The user's settings stay marked deleted: no signed-in user to act for (ImpersonateLoggedOnUser, 5)"},
      {"ImpersonateLoggedOnUser", 3,
       "The default printer is left as it is: no signed-in user to act for (ImpersonateLoggedOnUser, 5)"},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(std::string(f.call) + " " + std::to_string(f.nth));
    FreshInstalledMachine();
    winsim::SetPrinterDataString(winsim::PutPrinter(kProduct, kProductDriver, kProductPort), "", "SubKey", "FrontKey");
    const std::string owner = Enter(Context::kSystemWithUser);
    SetDefaults(owner, kProduct, kOther);
    winsim::FailCall(f.call, ERROR_ACCESS_DENIED, 1, f.nth);
    EXPECT_EQ(1, Run(std::u16string(u"serverinstall /LOG=") + kRunLogFile));
    EXPECT_TRUE(HasLine(RunText(), f.line)) << RunText();
    // The default is gone with the printer unless it was kept and given back.
    EXPECT_EQ(f.nth == 2 ? Narrow(kProduct) : "", Narrow(winsim::DefaultPrinterOf(owner)));
    EXPECT_TRUE(winsim::M().sessions.impersonating.empty());
  }
}
