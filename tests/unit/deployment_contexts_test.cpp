// Where each effect of a run lands in every way the installer is deployed: which session's
// companion runs afterwards, as whom and how it was started; whose HKCU and default printer
// change; what the log says about it; the exit code. One machine per context and operation.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scenario_fixture.h"

namespace {
const char16_t* const kProduct = u"Front Desk";
const char16_t* const kOther = u"Laser";
const char* const kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kQuotedTray = "\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"";

// The machines' accounts: the first administrator, a standard user, a second administrator, a
// helpdesk administrator who elevates on another user's desktop, and SYSTEM.
enum class Who { kNobody, kAdmin, kBea, kCarl, kHelpdesk, kSystem };
const Who kAccounts[] = {Who::kAdmin, Who::kBea, Who::kCarl, Who::kHelpdesk, Who::kSystem};

struct Seat {
  DWORD session;
  Who user;
};

struct Context {
  const char* name;
  Who runs;                 // the installer's account, elevated (as SYSTEM always is)
  DWORD session;            // the installer's session
  std::vector<Seat> seats;  // who is signed in where; each runs a companion while the product is installed
  bool everySession;        // the install starts a companion in every seat, not only in its own session's
  const char* startCall;
  Who actsFor;              // whose default printer and settings marks the install keeps
  const char* noUserReason; // with nobody to act for: the call and error the log names
  std::vector<std::string> companionLines;  // an install's whole log lines about the companion
};

const Context kContexts[] = {
    {"own desk: the signed-in administrator elevates", Who::kAdmin, 1, {{1, Who::kAdmin}}, false,
     "CreateProcessWithTokenW", Who::kAdmin, nullptr, {}},
    {"over the shoulder: a helpdesk administrator elevates on Bea's desktop", Who::kHelpdesk, 1, {{1, Who::kBea}},
     false, "CreateProcessWithTokenW", Who::kBea, nullptr, {}},
    {"SYSTEM in session 0, Bea at the console", Who::kSystem, 0, {{1, Who::kBea}}, true, "CreateProcessAsUserW",
     Who::kBea, nullptr, {"    Tray companion started in session 1 for its signed-in user"}},
    {"SYSTEM in session 0, nobody signed in", Who::kSystem, 0, {}, true, "CreateProcessAsUserW", Who::kNobody,
     "(WTSQueryUserToken, 1008)",
     {"    Tray companion not started: no user is signed in; it starts at the next logon"}},
    {"Remote Desktop host, SYSTEM in session 0", Who::kSystem, 0, {{1, Who::kBea}, {2, Who::kCarl}}, true,
     "CreateProcessAsUserW", Who::kBea, nullptr,
     {"    Tray companion started in session 1 for its signed-in user",
      "    Tray companion started in session 2 for its signed-in user"}},
    // Bea's companion, ended for the removal, starts at her next logon.
    {"Remote Desktop host, the administrator elevates in session 1", Who::kAdmin, 1,
     {{1, Who::kAdmin}, {2, Who::kBea}}, false, "CreateProcessWithTokenW", Who::kAdmin, nullptr, {}},
};

enum class Operation { kReinstall, kFreshInstall, kUninstall, kRemoveTrayThenInstall };
struct OperationCase {
  Operation operation;
  const char* name;
};
const OperationCase kOperations[] = {
    {Operation::kReinstall, "install over the installed product, its companions running"},
    {Operation::kFreshInstall, "install on a clean machine"},
    {Operation::kUninstall, "uninstall"},
    {Operation::kRemoveTrayThenInstall, "removetray, then the install that the setup runs next"},
};

class DeploymentContextsTest : public ScenarioTest {
 protected:
  // A fresh machine laid out for the context: its users signed in where it has them and the
  // installer's token. Installed: the product with its printer, the acting user's default, whose
  // settings are marked deleted in every hive, the Run value, a companion in every seat.
  void Enter(const Context& context, bool installed) {
    winsim::Reset();
    SetUp();
    winsim::PutFolder(u"C:\\ProgramData");
    sids_[static_cast<int>(Who::kAdmin)] = winsim::kFirstAdminSid;
    sids_[static_cast<int>(Who::kSystem)] = winsim::kSystemSid;
    sids_[static_cast<int>(Who::kBea)] = winsim::AddAccount(u"Bea", false);
    sids_[static_cast<int>(Who::kCarl)] = winsim::AddAccount(u"Carl", true);
    sids_[static_cast<int>(Who::kHelpdesk)] = winsim::AddAccount(u"Helpdesk", true);
    winsim::SignOut(1);
    for (const Seat& seat : context.seats) winsim::SignIn(Sid(seat.user), seat.session);
    winsim::RunInstallerAs(Sid(context.runs), context.session, true);
    winsim::PutPrinter(kOther, u"Generic Laser", u"LPT1:");
    for (Who who : kAccounts) winsim::DefaultPrinterOf(Sid(who)) = installed && who == context.actsFor ? kProduct : kOther;
    if (!installed) return;
    PutInstalledProduct(2093);
    winsim::SetPrinterDataString(winsim::PutPrinter(kProduct, kProductDriver, kProductPort), "", "SubKey", "FrontKey");
    for (Who who : kAccounts) {
      winsim::CreateRegKey(HKEY_USERS, MarkKey(who));
      winsim::SetRegString(HKEY_USERS, MarkKey(who), u"deleted", u"1");
    }
    winsim::SetRegString(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray", Wide(kQuotedTray));
    for (const Seat& seat : context.seats) winsim::StartTrayCompanionIn(seat.session);
  }

  const std::string& Sid(Who who) const { return sids_[static_cast<int>(who)]; }
  static std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }
  static std::string Name(const std::string& sid) { return Narrow(winsim::FindAccount(sid)->name); }
  std::string MarkKey(Who who) const {
    return (who == Who::kSystem ? std::string(".DEFAULT") : Sid(who)) +
           "\\Software\\Orvanel Software KFT\\Marbleleaf\\Marbleleafs\\FrontKey";
  }

  // Each account's hive as text, its keys and values: what a run may change for whom.
  std::vector<std::string> Hives() const {
    std::vector<std::string> hives;
    for (Who who : kAccounts) {
      const std::u16string hive = winsim::UserHive(Sid(who)) + u"\\";
      std::string text;
      for (const auto& key : winsim::M().registry.keys) {
        if (key.first.compare(0, hive.size(), hive) != 0) continue;
        text += Narrow(key.first) + ";";
        for (const auto& value : key.second.values)
          text += Narrow(value.second.name) + "=" + std::string(value.second.data.begin(), value.second.data.end()) + ";";
      }
      hives.push_back(text);
    }
    return hives;
  }
  std::vector<std::string> ChangedHives(const std::vector<std::string>& before) const {
    std::vector<std::string> changed;
    const std::vector<std::string> now = Hives();
    for (size_t i = 0; i < now.size(); ++i)
      if (now[i] != before[i]) changed.push_back(Name(Sid(kAccounts[i])));
    return changed;
  }
  bool Marked(Who who) const { return winsim::GetRegValue(HKEY_USERS, MarkKey(who), u"deleted") != nullptr; }

  // The companions that run, and every start the installer made, as "session: user" records.
  static std::vector<std::string> Companions(bool startsOnly) {
    std::vector<std::string> found;
    for (const winsim::Process& process : winsim::M().desktop.processes) {
      if (process.imagePath != kTray || (startsOnly ? !process.startedByUs : !process.running)) continue;
      std::string record = "session " + std::to_string(process.session) + ": " + Name(process.user) +
                           (process.elevated ? ", elevated" : ", unelevated");
      if (startsOnly)
        record += ", " + process.startedWith + " " + Narrow(process.commandLine) + " in " +
                  Narrow(process.currentDirectory);
      found.push_back(record);
    }
    std::sort(found.begin(), found.end());
    return found;
  }
  std::vector<std::string> Expected(const std::vector<Seat>& seats, bool starts, const Context& context) const {
    std::vector<std::string> expected;
    for (const Seat& seat : seats) {
      std::string record = "session " + std::to_string(seat.session) + ": " + Name(Sid(seat.user)) + ", unelevated";
      if (starts) record += std::string(", ") + context.startCall + " " + kQuotedTray + " in C:\\Program Files\\Marbleleaf";
      expected.push_back(record);
    }
    std::sort(expected.begin(), expected.end());
    return expected;
  }

  static std::string RunValue() {
    const winsim::RegValue* value = winsim::GetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray");
    return value ? Narrow(reinterpret_cast<const char16_t*>(value->data.data())) : "(none)";
  }

  // An install or uninstall run with its log in a file, as a deployment runs it.
  static int RunLogged(const char16_t* verb) { return Run(std::u16string(verb) + u" /LOG=" + kRunLogFile); }
  // The log's lines about the companion and about acting for the signed-in user, whole.
  static std::vector<std::string> LinesAboutUsers() {
    const std::string text = LogFileText(kRunLogFile);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      const std::string line = text.substr(start, end - start);
      for (const char* topic : {"Tray companion", "tray program", "signed-in user"})
        if (line.find(topic) != std::string::npos) {
          lines.push_back(line);
          break;
        }
    }
    if (text == "(none)") lines.push_back(text);
    return lines;
  }

  // Nothing of the companion is left, anywhere: no process runs its file, the file and its Run
  // value are gone.
  static void ExpectCompanionGone() {
    EXPECT_EQ(std::vector<std::string>(), Companions(false));
    EXPECT_EQ(0, winsim::RunningProcesses(kTray));
    EXPECT_FALSE(winsim::FileExists(kTray));
    EXPECT_EQ("(none)", RunValue());
  }

  std::string sids_[6];
};
}  // namespace

TEST_F(DeploymentContextsTest, EachRunActsWhereItsContextPutsItAndSaysSo) {
  for (const Context& context : kContexts) {
    for (const OperationCase& operation : kOperations) {
      SCOPED_TRACE(std::string(context.name) + ": " + operation.name);
      const bool installed = operation.operation != Operation::kFreshInstall;
      const bool installs = operation.operation != Operation::kUninstall;
      Enter(context, installed);
      const std::vector<std::string> hives = Hives();

      if (operation.operation == Operation::kRemoveTrayThenInstall) {
        EXPECT_EQ(6, Run(u"removetray"));
        ExpectCompanionGone();
        EXPECT_EQ(nullptr, winsim::FindFile(kRunLogFile));
        EXPECT_EQ(std::vector<std::string>(), ChangedHives(hives));
        winsim::InstallTrayProgram(kTray);  // the setup lays down the new file
      }
      EXPECT_EQ(installs ? 1 : 2, RunLogged(installs ? u"install" : u"uninstall"));

      // The companion: started by the install for whom the context serves, as them, unelevated,
      // in their session and its own folder. A repair stops the companions of every session as
      // well (the file stays) and starts them again where it can: from session 0 in every seat,
      // from a desktop in its own session; the others start at their users' next logon.
      std::vector<Seat> started;
      for (const Seat& seat : context.seats)
        if (context.everySession || seat.session == context.session) started.push_back(seat);
      if (installs) {
        EXPECT_EQ(Expected(started, true, context), Companions(true));
        EXPECT_EQ(Expected(started, false, context), Companions(false));
        EXPECT_EQ(kQuotedTray, RunValue());
      } else {
        EXPECT_EQ(std::vector<std::string>(), Companions(true));
        ExpectCompanionGone();
      }

      // The per-user state, only ever the acting user's: a reinstall clears the mark in their
      // hive and gives them their default back; an uninstall takes the printer and with it their
      // default. Neither the installer's own account's nor anyone else's changes.
      const bool acts = context.actsFor != Who::kNobody;
      const bool clears = acts && installed && installs;
      EXPECT_EQ(clears ? std::vector<std::string>{Name(Sid(context.actsFor))} : std::vector<std::string>(),
                ChangedHives(hives));
      for (Who who : kAccounts) {
        SCOPED_TRACE(Name(Sid(who)));
        EXPECT_EQ(installed && !(clears && who == context.actsFor), Marked(who));
        const bool owner = installed && who == context.actsFor;
        EXPECT_EQ(Narrow(owner ? (installs ? kProduct : u"") : kOther), Narrow(winsim::DefaultPrinterOf(Sid(who))));
      }

      std::vector<std::string> lines;
      if (!acts) {
        lines.push_back(std::string("The default printer is not kept: no signed-in user to act for ") +
                        context.noUserReason);
        if (installed && installs)
          lines.push_back(std::string("    The user's settings stay marked deleted: no signed-in user to act for ") +
                          context.noUserReason);
      }
      if (installs) lines.insert(lines.end(), context.companionLines.begin(), context.companionLines.end());
      EXPECT_EQ(lines, LinesAboutUsers());

      EXPECT_EQ(0, winsim::M().desktop.dialog.shown);
      EXPECT_TRUE(winsim::M().eventLog.application.empty());
      EXPECT_EQ(std::vector<std::string>(), winsim::OpenHandles());
    }
  }
}
