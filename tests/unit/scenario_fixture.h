// Whole runs of install.exe on a simulated machine laid out as the setup program leaves it: the
// installer and the product files in "C:\Program Files\Marbleleaf\app", the tray companion in
// its parent folder. Shift is held so that every run shows its log, which the tests read back.
// A run writes the event log only where nobody could see its dialog: a test that expects events
// says so, every other run must leave the event log empty.
#pragma once
#include <fstream>
#include <sstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/dispatcher.h"
#include "winsim_fixture.h"

class ScenarioTest : public MachineTest {
 protected:
  static constexpr const char16_t* kApp = u"C:\\Program Files\\Marbleleaf\\app\\";
  static constexpr const char16_t* kTray = u"C:\\Program Files\\Marbleleaf\\mbltray.exe";
  static constexpr const char16_t* kSystem = u"C:\\Windows\\system32\\";
  static constexpr const char16_t* kProductDriver = u"Marbleleaf Server";
  static constexpr const char16_t* kProductPort = u"MarbleleafServer:";
  static constexpr const char16_t* kRunLogFile = u"C:\\ProgramData\\install.log";  // a run's /LOG= file

  void SetUp() override {
    MachineTest::SetUp();
    winsim::M().modulePath = std::u16string(kApp) + u"install.exe";
    winsim::PutFile(winsim::M().modulePath, "installer");
    LayDownProduct(2093);
    winsim::InstallTrayProgram(kTray);
    winsim::M().desktop.shiftDown = true;
  }

  void TearDown() override {
    if (!eventsExpected) {
      EXPECT_TRUE(winsim::M().eventLog.application.empty()) << "an event was written";
    }
    EXPECT_TRUE(winsim::M().eventLog.handles.empty()) << "an event source left open";
    EXPECT_EQ(0, winsim::M().globalBlocks) << "global blocks left";
    EXPECT_EQ(0, winsim::M().localBlocks) << "local blocks left";
    MachineTest::TearDown();
  }

  // The product as an installation of that build left it in the spooler: its monitor and its
  // driver for both environments.
  static void PutInstalledProduct(WORD build) {
    winsim::PutMonitor(kProductPort, u"mlxmon64.dll", winsim::Build(build));
    winsim::PutDriver(kProductDriver, u"Windows x64", u"mlxdrv64.dll", u"mlxui64.dll", u"mlxhelp.chm",
                      winsim::Build(build));
    winsim::PutDriver(kProductDriver, u"Windows NT x86", u"mlxdrv32.dll", u"mlxui32.dll", u"mlxhelp.chm",
                      winsim::Build(build));
  }

  // The product files of one build in the installer's folder.
  static void LayDownProduct(WORD build) {
    for (const char16_t* module : {u"mlxmon64.dll", u"mlxdrv64.dll", u"mlxui64.dll", u"mlxmon32.dll",
                                   u"mlxdrv32.dll", u"mlxui32.dll"}) {
      winsim::PutFile(std::u16string(kApp) + module, "module " + Narrow(module), winsim::Build(build));
    }
    winsim::PutFile(std::u16string(kApp) + u"mlxhelp.chm", "help");
  }

  // The installed product as an installer of another build would have left it: the modules it put
  // into the system folder and the driver store carry that build. (The installer refuses product
  // files of another build than its own, so an older installation is not made by running it.)
  static void MarkInstalledBuild(WORD build) {
    for (auto& entry : winsim::M().files.entries) {
      winsim::FileEntry& file = entry.second;
      const bool installed = entry.first.rfind(u"C:\\WINDOWS\\SYSTEM32\\", 0) == 0;
      const size_t name = file.path.find_last_of(u'\\') + 1;
      if (installed && file.version && file.path.compare(name, 3, u"mlx") == 0) file.version->build = build;
    }
  }

  static int Run(const std::u16string& verb) {
    winsim::M().commandLine = u"\"" + winsim::M().modulePath + u"\" " + verb;
    return RunInstaller(winsim::kProgramModule);
  }

  // A printer as a user or a server's administrator would compare it, data included.
  static std::string Describe(const winsim::PrinterEntry& printer) {
    std::ostringstream out;
    out << Narrow(printer.name) << "|" << Narrow(printer.portName) << "|" << Narrow(printer.driverName) << "|"
        << Narrow(printer.shareName.value_or(u"(null)")) << "|" << Narrow(printer.comment.value_or(u"(null)")) << "|"
        << Narrow(printer.location.value_or(u"(null)")) << "|" << printer.attributes << "|" << printer.purges;
    for (const auto& key : printer.data)
      for (const auto& value : key.second)
        out << "|" << key.first << "\\" << value.first << "="
            << std::string(value.second.data.begin(), value.second.data.end());
    return out.str();
  }
  static std::string DescribeServers() {
    std::string all;
    for (const winsim::PrintServer& server : winsim::M().spooler.servers)
      for (const winsim::PrinterEntry& queue : server.printers) all += Narrow(server.name) + ":" + Describe(queue) + "\n";
    return all;
  }
  // The entries of the saved-printer journal, users' own keys included.
  static size_t JournalEntries() {
    const std::u16string journal =
        winsim::RegKeyName(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvanel Software KFT\\Marbleleaf\\Saved Printers");
    size_t entries = 0;
    for (const auto& key : winsim::M().registry.keys)
      if (key.first == journal || key.first.rfind(journal + u"\\", 0) == 0) entries += key.second.values.size();
    return entries;
  }

  static std::string Log() { return Narrow(winsim::M().desktop.dialog.text); }
  // What a run wrote to its log file ("/LOG=", UTF-16 after its byte order mark): a run as SYSTEM
  // shows no dialog. "(none)" when there is no file or no mark.
  static std::string LogFileText(const char16_t* path) {
    const winsim::FileEntry* file = winsim::FindFile(path);
    if (!file || file->content.size() < 2 || file->content[0] != 0xFF || file->content[1] != 0xFE) return "(none)";
    std::u16string text;
    for (size_t i = 2; i + 1 < file->content.size(); i += 2)
      text += static_cast<char16_t>(file->content[i] | (file->content[i + 1] << 8));
    return Narrow(text);
  }
  // The text of the one event a run wrote, after checking its source, type and id.
  static std::string OnlyEvent(WORD type, DWORD id) {
    const std::vector<winsim::EventRecord>& events = winsim::M().eventLog.application;
    if (events.size() != 1 || events[0].strings.size() != 1) {
      ADD_FAILURE() << events.size() << " events";
      return "";
    }
    EXPECT_EQ("Marbleleaf Install", Narrow(events[0].source));
    EXPECT_EQ(type, events[0].type);
    EXPECT_EQ(id, events[0].id);
    return Narrow(events[0].strings[0]);
  }
  static std::string Title() { return Narrow(winsim::M().desktop.dialog.title); }

  // The log compared with tests/unit/golden/<name>.log; UPDATE_GOLDEN=1 writes the file instead.
  static void ExpectGoldenLog(const std::string& name, const std::string& log = Log()) {
    const std::string path = std::string(INSTALL_SOURCE_DIR) + "/tests/unit/golden/" + name + ".log";
    // Stored with LF line ends so that reviews and diffs read well; the log itself uses CR LF.
    std::string stored;
    for (char c : log)
      if (c != '\r') stored += c;
    if (std::getenv("UPDATE_GOLDEN")) {
      std::ofstream(path, std::ios::binary) << stored;
      return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in.good()) << "missing golden log " << path;
    std::stringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(expected.str(), stored) << "golden log " << name;
    for (size_t i = 0; i < log.size(); ++i) {
      if (log[i] == '\n') {
        ASSERT_TRUE(i > 0 && log[i - 1] == '\r') << "a line not ended by CR LF";
      }
    }
  }

  bool eventsExpected = false;
};
