// A user's own printers are theirs whoever runs the installer: their connections are removed and
// added back in their profile, and what an interrupted run journaled for them (their connections,
// their default printer) is applied and removed only by a run for them.
#include <gtest/gtest.h>

#include <string>

#include "scenario_fixture.h"

namespace {
const char16_t* const kFront = u"Front Desk";
const char16_t* const kStudio = u"\\\\PRINTHOST\\Studio";
const char* const kJournal = "SOFTWARE\\Orvanel Software KFT\\Marbleleaf\\Saved Printers";

// Who runs the installer, and for whom it can act.
enum class Context { kAdminOwnDesk, kOverTheShoulder, kSystemWithBea, kSystemAlone };

const char* Name(Context context) {
  switch (context) {
    case Context::kAdminOwnDesk: return "the administrator at their own desk";
    case Context::kOverTheShoulder: return "the administrator on Bea's desktop";
    case Context::kSystemWithBea: return "SYSTEM, Bea at the console";
    case Context::kSystemAlone: return "SYSTEM, nobody signed in";
  }
  return "";
}

class UserJournalTest : public ScenarioTest {
 protected:
  void SetUp() override {
    ScenarioTest::SetUp();
    winsim::PutFolder(u"C:\\ProgramData");
    eventsExpected = true;  // runs as SYSTEM may explain themselves there
    PutInstalledProduct(2093);
    winsim::SetPrinterDataString(winsim::PutPrinter(kFront, kProductDriver, kProductPort), "", "SubKey", "FrontKey");
    winsim::PutPrintServer(u"\\\\PRINTHOST", true);
    winsim::PutServerQueue(u"\\\\PRINTHOST", u"Studio", kProductDriver, kProductPort);
    bea_ = winsim::AddAccount(u"Bea", false);
  }
  void TearDown() override {
    EXPECT_TRUE(winsim::M().sessions.impersonating.empty());
    ScenarioTest::TearDown();
  }
  // Bea, a standard user, at the console with her connection to the server's queue; the front desk
  // printer is her default.
  void BeaAtTheConsole() {
    winsim::SignOut(1);
    winsim::SignIn(bea_, 1);
    winsim::PutConnection(kStudio, bea_);
    winsim::DefaultPrinterOf(bea_) = kFront;
  }
  void Enter(Context context) {
    switch (context) {
      case Context::kAdminOwnDesk:
        winsim::SignOut(1);
        winsim::SignIn(winsim::kFirstAdminSid, 1);
        winsim::RunInstallerAs(winsim::kFirstAdminSid, 1, true);
        break;
      case Context::kOverTheShoulder:
        winsim::SignOut(1);
        winsim::SignIn(bea_, 1);
        winsim::RunInstallerAs(winsim::kFirstAdminSid, 1, true);
        break;
      case Context::kSystemWithBea:
        winsim::SignOut(1);
        winsim::SignIn(bea_, 1);
        winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
        break;
      case Context::kSystemAlone:
        winsim::SignOut(1);
        winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
        break;
    }
  }
  static int Install() { return Run(std::u16string(u"serverinstall /LOG=") + kRunLogFile); }
  // What the last run wrote to its log file.
  static std::string RunText() { return LogFileText(kRunLogFile); }
  // The whole line, at any depth.
  static bool HasLine(const std::string& text, const std::string& line) {
    for (size_t at = text.find(line + "\r\n"); at != std::string::npos; at = text.find(line + "\r\n", at + 1))
      if (at == 0 || text[at - 1] == ' ' || text[at - 1] == '\n') return true;
    return false;
  }
  // The accounts that have the connection (none when it is gone).
  static std::string Owners() {
    const winsim::PrinterEntry* connection = winsim::FindPrinter(kStudio);
    std::string owners;
    for (const std::string& sid : connection ? connection->owners : std::set<std::string>())
      owners += (owners.empty() ? "" : ",") + sid;
    return owners.empty() ? "(none)" : owners;
  }
  // The values of one key of the journal: the machine's, or a user's own.
  static std::string JournalKey(const std::string& sid = "") {
    const std::u16string name =
        winsim::RegKeyName(HKEY_LOCAL_MACHINE, sid.empty() ? std::string(kJournal) : std::string(kJournal) + "\\" + sid);
    auto key = winsim::M().registry.keys.find(name);
    if (key == winsim::M().registry.keys.end()) return "(no key)";
    std::string all;
    for (const auto& value : key->second.values) {
      std::u16string text;
      const std::vector<uint8_t>& data = value.second.data;
      for (size_t i = 0; i + 1 < data.size(); i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
      for (char16_t& unit : text)
        if (unit == 0) unit = u'|';
      all += Narrow(value.second.name) + "=" + Narrow(text) + ";";
    }
    return all;
  }
  // An interrupted reinstall for Bea: the driver is refused after the old one went, so neither her
  // printer nor her connection came back; the journal holds both for her.
  void InterruptedRunForBea() {
    if (!winsim::FindPrinter(kFront))
      winsim::SetPrinterDataString(winsim::PutPrinter(kFront, kProductDriver, kProductPort), "", "SubKey", "FrontKey");
    BeaAtTheConsole();
    winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
    winsim::FailCall("AddPrinterDriverExW", ERROR_ACCESS_DENIED, -1);
    ASSERT_EQ(100, Install());
    winsim::M().faults.clear();
    ASSERT_EQ(nullptr, winsim::FindPrinter(kFront));
    ASSERT_EQ("(none)", Owners());
    // Her default status is journaled with her SID, after what the printer needs (a shared
    // printer's share name too).
    ASSERT_EQ(0u, JournalKey().find("Front Desk=SubKey=FrontKey|")) << JournalKey();
    ASSERT_NE(std::string::npos, JournalKey().find("|Default=1|User=" + bea_ + "||;")) << JournalKey();
    ASSERT_EQ("\\\\PRINTHOST\\Studio=Connection=1||;", JournalKey(bea_));
  }
  std::string bea_;
};
}  // namespace

// A reinstall for Bea, whoever runs it, removes her connection and adds it back in her profile:
// the running account gets none, and her default stays hers.
TEST_F(UserJournalTest, ConnectionsAreRemovedAndAddedBackForTheirUser) {
  for (Context context : {Context::kOverTheShoulder, Context::kSystemWithBea}) {
    SCOPED_TRACE(Name(context));
    winsim::Reset();
    SetUp();
    BeaAtTheConsole();
    winsim::DefaultPrinterOf(bea_) = kStudio;
    Enter(context);
    EXPECT_EQ(1, Install());
    const std::string text = RunText();
    EXPECT_TRUE(HasLine(text, ">DeletePrinterConnection(\\\\PRINTHOST\\Studio)")) << text;
    EXPECT_TRUE(HasLine(text, ">AddPrinterConnection(\\\\PRINTHOST\\Studio)")) << text;
    EXPECT_EQ(bea_, Owners());
    EXPECT_EQ(Narrow(kStudio), Narrow(winsim::DefaultPrinterOf(bea_)));
    EXPECT_EQ("", Narrow(winsim::DefaultPrinterOf(winsim::kSystemSid)));
    EXPECT_EQ(0u, JournalEntries());
  }
}

// What an interrupted run journaled for Bea waits for a run for her: another account's run
// recreates the machine's printer but neither takes her default nor her connection for itself,
// nor deletes them; the next run for her gives both back and clears them.
TEST_F(UserJournalTest, AUsersEntriesWaitForARunForThatUser) {
  struct Case {
    Context other;  // the run after the interrupted one, not for Bea
    Context owner;  // then a run for her
  };
  const Case cases[] = {
      {Context::kSystemAlone, Context::kOverTheShoulder},
      {Context::kAdminOwnDesk, Context::kSystemWithBea},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(Name(c.other)) + ", then " + Name(c.owner));
    winsim::Reset();
    SetUp();
    InterruptedRunForBea();

    Enter(c.other);
    const std::string runner = c.other == Context::kSystemAlone ? winsim::kSystemSid : winsim::kFirstAdminSid;
    winsim::DefaultPrinterOf(runner) = u"";
    EXPECT_EQ(1, Install());
    EXPECT_TRUE(HasLine(RunText(), "1 saved printers taken over from an earlier run")) << RunText();
    EXPECT_NE(nullptr, winsim::FindPrinter(kFront));
    EXPECT_EQ("", Narrow(winsim::DefaultPrinterOf(runner)));
    EXPECT_EQ("(none)", Owners());
    EXPECT_EQ("Front Desk=Default=1|User=" + bea_ + "||;", JournalKey());
    EXPECT_EQ("\\\\PRINTHOST\\Studio=Connection=1||;", JournalKey(bea_));

    Enter(c.owner);
    EXPECT_EQ(1, Install());
    EXPECT_TRUE(HasLine(RunText(), "1 saved printers taken over from an earlier run")) << RunText();
    EXPECT_EQ(bea_, Owners());
    EXPECT_EQ(Narrow(kFront), Narrow(winsim::DefaultPrinterOf(bea_)));
    EXPECT_EQ("", Narrow(winsim::DefaultPrinterOf(runner)));
    EXPECT_EQ(0u, JournalEntries());
  }
}

// An uninstall forgets the machine's entries and its own user's, but another user's connection
// stays journaled for them: their next install adds it back.
TEST_F(UserJournalTest, AnUninstallByAnotherAccountKeepsAUsersConnections) {
  InterruptedRunForBea();
  Enter(Context::kSystemAlone);
  EXPECT_EQ(2, Run(std::u16string(u"uninstall /LOG=") + kRunLogFile));
  EXPECT_EQ("", JournalKey());
  EXPECT_EQ("\\\\PRINTHOST\\Studio=Connection=1||;", JournalKey(bea_));

  Enter(Context::kSystemWithBea);
  EXPECT_EQ(1, Install());
  EXPECT_EQ(bea_, Owners());
  EXPECT_EQ(0u, JournalEntries());

  // Her own uninstall forgets hers too, even when her key cannot be deleted.
  InterruptedRunForBea();
  EXPECT_EQ(2, Run(std::u16string(u"uninstall /LOG=") + kRunLogFile));
  EXPECT_EQ(0u, JournalEntries());
  InterruptedRunForBea();
  winsim::FailNext("RegDeleteKeyA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(2, Run(std::u16string(u"uninstall /LOG=") + kRunLogFile));
  EXPECT_EQ("", JournalKey());
  EXPECT_EQ("\\\\PRINTHOST\\Studio=Connection=1||;", JournalKey(bea_));
  // Nor can the journal's own key: its entries still go.
  EXPECT_EQ(2, Run(std::u16string(u"uninstall /LOG=") + kRunLogFile));
  EXPECT_EQ("(no key)", JournalKey());
  InterruptedRunForBea();
  winsim::FailCall("RegDeleteKeyA", ERROR_ACCESS_DENIED, 1, winsim::CallCount("RegDeleteKeyA") + 2);
  EXPECT_EQ(2, Run(std::u16string(u"uninstall /LOG=") + kRunLogFile));
  EXPECT_EQ("", JournalKey());
  EXPECT_EQ("(no key)", JournalKey(bea_));
}

// Whose printers they are cannot be told: the run says so, her connection is not journaled, so it
// stays where it is, and her default status is not journaled either.
TEST_F(UserJournalTest, WithoutTheUsersSidNothingOfTheirsIsJournaled) {
  for (const char* call : {"GetTokenInformation", "ConvertSidToStringSidW"}) {
    SCOPED_TRACE(call);
    winsim::Reset();
    SetUp();
    BeaAtTheConsole();
    Enter(Context::kSystemWithBea);
    winsim::FailNext(call, ERROR_ACCESS_DENIED);
    EXPECT_EQ(100, Install());
    const std::string text = RunText();
    EXPECT_TRUE(HasLine(text, std::string("Can`t tell whose printer connections these are (") + call +
                                  ", 5): none is journaled"))
        << text;
    EXPECT_TRUE(HasLine(text, "Error(17): Can`t keep \\\\PRINTHOST\\Studio in the journal of saved printers, so it "
                              "is not removed - (The security ID structure is invalid.)"))
        << text;
    EXPECT_EQ(bea_, Owners());
    EXPECT_NE(nullptr, winsim::FindPrinter(kFront));
    EXPECT_EQ(Narrow(kFront), Narrow(winsim::DefaultPrinterOf(bea_)));
  }

  // With nobody to act for, the SID read is the running account's own; a token that cannot be
  // closed costs nothing but the handle.
  for (const char* call : {"OpenProcessToken", "CloseHandle"}) {
    SCOPED_TRACE(call);
    winsim::Reset();
    SetUp();
    Enter(Context::kSystemAlone);
    winsim::FailNext(call, ERROR_ACCESS_DENIED);
    EXPECT_EQ(1, Install());
    const bool lineExpected = std::string(call) == "OpenProcessToken";
    EXPECT_EQ(lineExpected,
              HasLine(RunText(), "Can`t tell whose printer connections these are (OpenProcessToken, 5): none is journaled"))
        << RunText();
    EXPECT_EQ(lineExpected ? 0u : 1u, winsim::M().desktop.handles.size());
    winsim::M().desktop.handles.clear();
  }
}

// Acting for the user can fail at each step of a connection's way: what could not be done for her
// is never done in the running account's profile, and the journal keeps what is not back.
TEST_F(UserJournalTest, FailuresToActForTheUserLeaveHerConnectionToHer) {
  struct Failure {
    const char* call;
    int nth;           // counted from the run's start
    int exitCode;
    const char* line;  // whole
    const char* owners;
    size_t journaled;
  };
  const char* const kEnter = "Error(15): Can`t act for the signed-in user (ImpersonateLoggedOnUser) - (Access is denied.)";
  const char* const kLeave = "Error(15): Can`t return from the signed-in user's context - (Access is denied.)";
  // The calls of a run for Bea: the inventory's (1), the server asked (2), the connection removed
  // (3), the settings mark cleared (4), the default given back (5), the connection added back (6).
  const Failure failures[] = {
      {"ImpersonateLoggedOnUser", 2, 100, kEnter, "B", 0},
      {"ImpersonateLoggedOnUser", 3, 100, kEnter, "B", 0},
      {"ImpersonateLoggedOnUser", 6, 100, kEnter, "", 1},
      {"RevertToSelf", 2, 100, kLeave, "B", 0},
      {"DeletePrinterConnectionW", 1, 100,
       "Error(17): Can`t delete printer connection '\\\\PRINTHOST\\Studio' - (Access is denied.)", "B", 0},
      {"AddPrinterConnection2W", 1, 100,
       "Error(15): Can`t add printer connection '\\\\PRINTHOST\\Studio' - (Access is denied.)", "", 1},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(std::string(f.call) + " " + std::to_string(f.nth));
    winsim::Reset();
    SetUp();
    BeaAtTheConsole();
    Enter(Context::kSystemWithBea);
    winsim::FailCall(f.call, ERROR_ACCESS_DENIED, 1, f.nth);
    EXPECT_EQ(f.exitCode, Install());
    EXPECT_TRUE(HasLine(RunText(), f.line)) << RunText();
    EXPECT_EQ(*f.owners ? bea_ : "(none)", Owners());
    EXPECT_EQ(f.journaled, JournalEntries());
    winsim::M().sessions.impersonating.clear();  // a thread that could not revert ends with the process
  }
}

// The journal's records of another user's default, and the uninstall's clearing, can fail: the
// record then stays whole, and nothing else of the run changes.
TEST_F(UserJournalTest, JournalWriteFailuresKeepTheUsersRecords) {
  InterruptedRunForBea();
  Enter(Context::kSystemAlone);
  // The whole entry stays when it cannot be cut down to her default status.
  winsim::FailNext("RegSetValueExW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(1, Install());
  EXPECT_EQ("Front Desk=SubKey=FrontKey|Default=1|User=" + bea_ + "||;", JournalKey());

  // Cut down by the next such run; then a run for her whose removals of records fail still gives
  // her default back, and her record stays.
  EXPECT_EQ(1, Install());
  EXPECT_EQ("Front Desk=Default=1|User=" + bea_ + "||;", JournalKey());
  Enter(Context::kSystemWithBea);
  winsim::FailCall("RegDeleteValueW", ERROR_ACCESS_DENIED, -1);
  EXPECT_EQ(1, Install());
  winsim::M().faults.clear();
  EXPECT_EQ(Narrow(kFront), Narrow(winsim::DefaultPrinterOf(bea_)));
  EXPECT_NE(std::string::npos, JournalKey().find("Front Desk="));
  EXPECT_NE(std::string::npos, JournalKey().find("|Default=1|User=" + bea_ + "||;"));

  // An uninstall that cannot delete the journal's key or its values leaves them.
  InterruptedRunForBea();
  Enter(Context::kSystemAlone);
  for (const char* call : {"RegEnumValueW", "RegDeleteValueW"}) {
    SCOPED_TRACE(call);
    winsim::FailCall(call, ERROR_ACCESS_DENIED, -1);
    EXPECT_EQ(2, Run(std::u16string(u"uninstall /LOG=") + kRunLogFile));
    winsim::M().faults.clear();
    EXPECT_NE("", JournalKey());
  }
  EXPECT_EQ(2, Run(std::u16string(u"uninstall /LOG=") + kRunLogFile));
  EXPECT_EQ("", JournalKey());
}
