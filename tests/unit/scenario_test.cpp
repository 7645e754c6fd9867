// Whole installer runs on simulated machines: exit code, the whole log (golden files in
// tests/unit/golden, reviewed line by line) and the machine afterwards.
#include <gtest/gtest.h>

#include <algorithm>

#include "scenario_fixture.h"

namespace {
const char16_t* const kDriver = u"Marbleleaf Server";
const char16_t* const kPort = u"MarbleleafServer:";

std::string RunValue() {
  const winsim::RegValue* value =
      winsim::GetRegValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", u"MarbleleafTray");
  if (!value) return "(none)";
  std::u16string text;
  for (size_t i = 0; i + 1 < value->data.size(); i += 2) text += static_cast<char16_t>(value->data[i] | value->data[i + 1] << 8);
  return Narrow(text.c_str());
}

// A product printer left by an earlier installation, with its settings key when given.
winsim::PrinterEntry& OldProductPrinter(const std::u16string& name, const std::string& key) {
  winsim::PrinterEntry& printer = winsim::PutPrinter(name, kDriver, kPort);
  if (!key.empty()) winsim::SetPrinterDataString(printer, "", "SubKey", key);
  return printer;
}

}  // namespace

TEST_F(ScenarioTest, FirstInstallationOnACleanMachine) {
  EXPECT_EQ(1, Run(u"install"));
  ExpectGoldenLog("first_install");
  EXPECT_EQ("Marbleleaf build 2093- Install log.", Title());
  ASSERT_NE(nullptr, winsim::FindMonitor(kPort));
  EXPECT_TRUE(winsim::FileExists(std::u16string(kSystem) + u"mlxmon64.dll"));
  ASSERT_NE(nullptr, winsim::FindDriver(kDriver, u"Windows x64"));
  ASSERT_NE(nullptr, winsim::FindDriver(kDriver, u"Windows NT x86"));
  EXPECT_TRUE(winsim::FileExists(u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll"));
  EXPECT_TRUE(winsim::FileExists(u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86\\3\\mlxui32.dll"));
  EXPECT_FALSE(winsim::FileExists(u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\mlxdrv64.dll"));  // staging gone
  const winsim::PrinterEntry* server = winsim::FindPrinter(u"mblServer");
  ASSERT_NE(nullptr, server);
  EXPECT_EQ(u"MarbleleafServer:", server->portName);
  EXPECT_TRUE(server->attributes & PRINTER_ATTRIBUTE_SHARED);
  EXPECT_EQ(u"mblServer", server->shareName.value_or(u"(null)"));
  EXPECT_EQ(u"", winsim::M().spooler.defaultPrinter);
  EXPECT_EQ("\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"", RunValue());
  EXPECT_EQ(1, winsim::RunningProcesses(kTray));
  EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));
}

// The setup program's upgrade: "removetray", the new files laid down, then the install verb.
TEST_F(ScenarioTest, ReinstallKeepsACompatibleMonitor) {
  ASSERT_EQ(1, Run(u"install"));
  const int registrations = winsim::CallCount("AddMonitorW");
  EXPECT_EQ(6, Run(u"removetray"));
  winsim::InstallTrayProgram(kTray);
  winsim::M().desktop.dialog = winsim::DialogState();
  EXPECT_EQ(1, Run(u"in"));
  ExpectGoldenLog("reinstall_over_install");
  EXPECT_EQ(registrations, winsim::CallCount("AddMonitorW"));
  EXPECT_NE(nullptr, winsim::FindMonitor(kPort));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"mblServer"));
  EXPECT_EQ(1, winsim::RunningProcesses(kTray));
}

TEST_F(ScenarioTest, ReinstallRecreatesSavedPrintersWithTheirSettings) {
  PutInstalledProduct(2093);
  winsim::PrinterEntry& front = OldProductPrinter(u"Front Desk", "FrontKey");
  front.comment = u"by the door";
  front.location = u"Ground floor";
  front.shareName = u"FRONT";
  front.attributes |= PRINTER_ATTRIBUTE_SHARED;
  winsim::PrinterEntry& back = OldProductPrinter(u"Back Office", "");
  winsim::SetPrinterDataString(back, "DsUser", "SubKey", "BackKey");
  OldProductPrinter(u"Scratch", "");  // no settings key: not recreated
  winsim::PutPrinter(u"Laser", u"Generic Laser", u"LPT1:");
  winsim::M().spooler.defaultPrinter = u"Back Office";
  winsim::CreateRegKey(HKEY_CURRENT_USER, "Software\\Orvanel Software KFT\\Marbleleaf\\Marbleleafs\\BackKey");
  winsim::SetRegString(HKEY_CURRENT_USER, "Software\\Orvanel Software KFT\\Marbleleaf\\Marbleleafs\\BackKey",
                       u"deleted", u"1");

  EXPECT_EQ(1, Run(u"serverinstall"));
  ExpectGoldenLog("reinstall_saved_printers");

  const winsim::PrinterEntry* frontNow = winsim::FindPrinter(u"Front Desk");
  ASSERT_NE(nullptr, frontNow);
  EXPECT_EQ(u"by the door", frontNow->comment.value_or(u"(null)"));
  EXPECT_EQ(u"Ground floor", frontNow->location.value_or(u"(null)"));
  EXPECT_EQ(u"FRONT", frontNow->shareName.value_or(u"(null)"));
  EXPECT_EQ(kPort, frontNow->portName);
  EXPECT_EQ("FrontKey", std::string(frontNow->data.at("").at("SubKey").data.begin(),
                                    frontNow->data.at("").at("SubKey").data.end() - 1));
  const winsim::PrinterEntry* backNow = winsim::FindPrinter(u"Back Office");
  ASSERT_NE(nullptr, backNow);
  EXPECT_EQ(u"Back Office", backNow->shareName.value_or(u"(null)"));
  EXPECT_EQ(u"Back Office", winsim::M().spooler.defaultPrinter);
  EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_CURRENT_USER,
                                         "Software\\Orvanel Software KFT\\Marbleleaf\\Marbleleafs\\BackKey", u"deleted"));
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"Scratch"));
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"mblServer"));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"Laser"));
}

// Without "removetray" first (a repair), the Run value names the very file the reinstall starts
// again: the companion is stopped but its file is kept and started.
TEST_F(ScenarioTest, RepairReinstallKeepsAndRestartsTheCompanion) {
  ASSERT_EQ(1, Run(u"install"));
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_TRUE(winsim::FileExists(kTray));
  EXPECT_EQ(1, winsim::RunningProcesses(kTray));
  EXPECT_EQ("\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"", RunValue());

  // A Run value naming a companion elsewhere is still removed with its file.
  winsim::InstallTrayProgram(u"C:\\Old\\mbltray.exe");
  winsim::SetRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", u"MarbleleafTray",
                       u"C:\\Old\\mbltray.exe");
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_FALSE(winsim::FileExists(u"C:\\Old\\mbltray.exe"));
  EXPECT_TRUE(winsim::FileExists(kTray));
}

TEST_F(ScenarioTest, UninstallOfAMachineWithoutTheProduct) {
  EXPECT_EQ(2, Run(u"uninstall"));
  ExpectGoldenLog("uninstall_without_product");
  EXPECT_EQ("Marbleleaf build 2093- Install log.", Title());
}

TEST_F(ScenarioTest, UninstallRemovesEverythingOfTheProduct) {
  ASSERT_EQ(1, Run(u"install"));
  winsim::PutPrinter(u"Laser", u"Generic Laser", u"LPT1:");
  EXPECT_EQ(2, Run(u"UN"));
  ExpectGoldenLog("uninstall_after_install");
  EXPECT_EQ(nullptr, winsim::FindMonitor(kPort));
  EXPECT_EQ(nullptr, winsim::FindDriver(kDriver, u"Windows x64"));
  EXPECT_EQ(nullptr, winsim::FindDriver(kDriver, u"Windows NT x86"));
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"mblServer"));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"Laser"));
  EXPECT_FALSE(winsim::FileExists(std::u16string(kSystem) + u"mlxmon64.dll"));
  EXPECT_FALSE(winsim::FileExists(kTray));
  EXPECT_EQ("(none)", RunValue());
  EXPECT_EQ(0, winsim::RunningProcesses(kTray));
}

// A second registration that shares the module keeps it loaded until the spooler stops.
TEST_F(ScenarioTest, UninstallDeletesAModuleLockedUntilTheSpoolerStops) {
  PutInstalledProduct(2093);
  winsim::PutMonitor(u"Marbleleaf Legacy", u"mlxmon64.dll");
  EXPECT_EQ(2, Run(u"uninstall"));
  ExpectGoldenLog("uninstall_module_locked_until_restart");
  EXPECT_FALSE(winsim::FileExists(std::u16string(kSystem) + u"mlxmon64.dll"));
  EXPECT_TRUE(winsim::SpoolerRunning());

  // The same with a fax service running that needs the spooler: stopped for the restart, and
  // running again afterwards.
  winsim::Reset();
  SetUp();
  PutInstalledProduct(2093);
  winsim::PutMonitor(u"Marbleleaf Legacy", u"mlxmon64.dll");
  winsim::PutService(u"Fax", {u"Spooler"});
  EXPECT_EQ(2, Run(u"uninstall"));
  EXPECT_NE(std::string::npos, Log().find("DeleteFile-try\r\n>Restart Spooler\r\nStop dependent service Fax\r\n"
                                          "DeleteFile-try\r\nStart dependent service Fax\r\n"));
  EXPECT_FALSE(winsim::FileExists(std::u16string(kSystem) + u"mlxmon64.dll"));
  winsim::Service& fax = winsim::M().services.services[u"FAX"];
  winsim::Advance(1000);
  winsim::UpdateService(fax);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), fax.state);
  EXPECT_EQ(1, fax.stops);
}

TEST_F(ScenarioTest, AFileThatStaysLockedIsLeftForTheReboot) {
  PutInstalledProduct(2093);
  winsim::LockFile(std::u16string(kSystem) + u"mlxmon64.dll");
  EXPECT_EQ(101, Run(u"uninstall"));
  ExpectGoldenLog("uninstall_file_left_for_reboot");
  winsim::Reboot();
  EXPECT_FALSE(winsim::FileExists(std::u16string(kSystem) + u"mlxmon64.dll"));

  // The same run with one error counted: errors decide before files left for the reboot.
  winsim::Reset();
  SetUp();
  PutInstalledProduct(2093);
  OldProductPrinter(u"Stuck", "");
  winsim::LockFile(std::u16string(kSystem) + u"mlxmon64.dll");
  winsim::FailCall("DeletePrinter", ERROR_ACCESS_DENIED);
  winsim::M().desktop.shiftDown = false;
  EXPECT_EQ(100, Run(u"uninstall"));
  EXPECT_EQ("Marbleleaf build 2093- Install error log!", Title());
  EXPECT_EQ(0, winsim::CallCount("GetAsyncKeyState"));  // an error decides alone
  EXPECT_NE(std::string::npos, Log().find("Error(17): Can`t delete printer 'Stuck' - (Access is denied.)\r\n"));
}

// An upgrade by uninstall and install without a restart in between, the old monitor module left
// for the reboot by the uninstall: the install deletes it, copies it afresh, and takes its pending
// delete out, so that the restart keeps the new module. The same with the setup program's
// "onInit" probe in between, which carries out the delete itself.
TEST_F(ScenarioTest, InstallBeforeTheRebootKeepsTheFreshMonitorModule) {
  const std::u16string module = std::u16string(kSystem) + u"mlxmon64.dll";
  for (const bool probeFirst : {false, true}) {
    winsim::Reset();
    SetUp();
    PutInstalledProduct(2093);
    winsim::LockFile(module);
    ASSERT_EQ(101, Run(u"uninstall"));
    ASSERT_NE(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));
    winsim::LockFile(module, 0);  // the program that held it has ended
    winsim::M().desktop.dialog = winsim::DialogState();
    if (probeFirst) {
      EXPECT_EQ(102, Run(u"onInit"));
    }
    EXPECT_EQ(1, Run(u"install"));
    if (!probeFirst) {
      ExpectGoldenLog("install_before_the_reboot");
    }
    EXPECT_EQ(!probeFirst, Log().find("    Monitor file was a pending delete, CopyMonitor == 1\r\n") != std::string::npos);
    EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));
    ASSERT_NE(nullptr, winsim::FindMonitor(kPort));
    winsim::Reboot();
    ASSERT_TRUE(winsim::FileExists(module)) << "probe first: " << probeFirst;
    EXPECT_EQ("module mlxmon64.dll", std::string(winsim::FindFile(module)->content.begin(),
                                                 winsim::FindFile(module)->content.end()));
  }
}

// The same story as current Windows writes it, the product's entry moved into the second value
// behind another program's pending delete in the first: "onInit" answers 200 while the module is
// held, the install takes the entry out of the second value and leaves the first as it was. After
// the reboot the fresh module is there and the product printer still sits on its monitor's port.
TEST_F(ScenarioTest, InstallBeforeTheRebootWithTheEntryInTheSecondValue) {
  const std::u16string module = std::u16string(kSystem) + u"mlxmon64.dll";
  winsim::M().files.pendingFormOfEarlierBuilds = false;
  ASSERT_EQ(1, Run(u"install"));
  winsim::LockFile(module);
  winsim::M().desktop.dialog = winsim::DialogState();
  ASSERT_EQ(101, Run(u"uninstall"));
  const winsim::RegValue* first = winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue);
  ASSERT_NE(nullptr, first);
  const std::vector<uint8_t> productEntry = first->data;
  winsim::PutFile(u"C:\\Other\\old.dll", "other");
  winsim::SetRegMultiString(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue,
                            {u"*1\\??\\C:\\Other\\old.dll", u""});
  const std::vector<uint8_t> other =
      winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue)->data;
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenames2Value, REG_MULTI_SZ,
                      productEntry);
  EXPECT_EQ(200, Run(u"onInit"));
  winsim::LockFile(module, 0);
  winsim::M().desktop.dialog = winsim::DialogState();
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_NE(std::string::npos, Log().find("    Monitor file was a pending delete, CopyMonitor == 1\r\n"
                                          "    Pending delete taken out: \\??\\C:\\Windows\\system32\\mlxmon64.dll\r\n"));
  EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenames2Value));
  EXPECT_EQ(other, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue)->data);
  EXPECT_TRUE(winsim::FileExists(u"C:\\Other\\old.dll"));
  winsim::Reboot();
  EXPECT_FALSE(winsim::FileExists(u"C:\\Other\\old.dll"));
  ASSERT_TRUE(winsim::FileExists(module));
  EXPECT_EQ("module mlxmon64.dll", std::string(winsim::FindFile(module)->content.begin(), winsim::FindFile(module)->content.end()));
  const winsim::MonitorEntry* monitor = winsim::FindMonitor(kPort);
  ASSERT_NE(nullptr, monitor);
  const winsim::PrinterEntry* printer = winsim::FindPrinter(u"mblServer");
  ASSERT_NE(nullptr, printer);
  EXPECT_EQ(kPort, printer->portName);
}

// A setup program lays down the new tray program over an uninstall that left the old one for the
// reboot: the install takes the pending delete out and keeps the file, so that the companion
// starts now and at the next log-on.
TEST_F(ScenarioTest, TheTrayProgramTheSetupLaidDownOutlivesItsPendingDelete) {
  ASSERT_EQ(1, Run(u"install"));
  ASSERT_TRUE(MoveFileExW(kTray, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));  // the old tray's uninstaller
  EXPECT_EQ(6, Run(u"removetray"));
  winsim::InstallTrayProgram(kTray);
  winsim::M().desktop.dialog = winsim::DialogState();
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_NE(std::string::npos,
            Log().find("    Pending delete taken out: \\??\\C:\\Program Files\\Marbleleaf\\mbltray.exe\r\n"));
  EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));
  EXPECT_EQ(1, winsim::RunningProcesses(kTray));
  winsim::Reboot();
  EXPECT_TRUE(winsim::FileExists(kTray));
  EXPECT_EQ("\"C:\\Program Files\\Marbleleaf\\mbltray.exe\"", RunValue());
}

// A printer that an interrupted run left pending deletion is taken as deleted: no handle is asked
// for, no error counted, and it comes back once a spooler restart has completed the deletion.
TEST_F(ScenarioTest, APrinterLeftPendingDeletionComesBack) {
  PutInstalledProduct(2093);
  winsim::PrinterEntry& front = OldProductPrinter(u"Front Desk", "FrontKey");
  front.pendingDeletion = true;
  front.status |= PRINTER_STATUS_PENDING_DELETION;
  front.otherHandles = 1;
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_NE(std::string::npos, Log().find("\n          >DeletePrinter(Front Desk)\r\n            Pending deletion already\r\n"));
  EXPECT_EQ(std::string::npos, Log().find("Error("));
  const winsim::PrinterEntry* back = winsim::FindPrinter(u"Front Desk");
  ASSERT_NE(nullptr, back);
  EXPECT_FALSE(back->pendingDeletion);
  EXPECT_EQ(kPort, back->portName);
}

// An old monitor module marked read-only resists its deletion; the copy makes it plain and
// overwrites it, so the new module is registered.
TEST_F(ScenarioTest, AReadOnlyOldMonitorModuleIsOverwritten) {
  PutInstalledProduct(2050);
  const std::u16string module = std::u16string(kSystem) + u"mlxmon64.dll";
  winsim::FindFile(module)->attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_NE(std::string::npos, Log().find("      >CopyFile mlxmon64.dll to C:\\Windows\\system32\\ [0])\r\n"
                                          "        Cleared attributes 0x1 of C:\\Windows\\system32\\mlxmon64.dll\r\n"
                                          "        Copy Succeeded :)\r\n"));
  ASSERT_NE(nullptr, winsim::FindFile(module));
  EXPECT_EQ(2093, winsim::FindFile(module)->version->build);
  EXPECT_NE(nullptr, winsim::FindMonitor(kPort));
}

// The setup program left a module out: the error and the log shown, and nothing installed or
// removed, since the installation could not have finished.
TEST_F(ScenarioTest, AModuleMissingFromTheInstallersFolderIsRefused) {
  winsim::RemoveFile(std::u16string(kApp) + u"mlxui64.dll");
  winsim::M().desktop.shiftDown = false;
  EXPECT_EQ(100, Run(u"install"));
  ExpectGoldenLog("install_refused_without_ui_file");
  EXPECT_EQ("Marbleleaf build 2093- Install error log!", Title());
  EXPECT_EQ(nullptr, winsim::FindDriver(kDriver, u"Windows x64"));
  EXPECT_EQ(nullptr, winsim::FindDriver(kDriver, u"Windows NT x86"));
  EXPECT_EQ(nullptr, winsim::FindMonitor(kPort));
  EXPECT_EQ(0, winsim::RunningProcesses(kTray));
}

// What the setup program and the user see of both run verbs: help windows closed first, the
// companion stopped before the inventories and started after the printers are back, the files
// left for the reboot handed over before the log is shown, and the log owned by the setup's
// window, whose 32-bit number is widened with its sign.
TEST_F(ScenarioTest, RunVerbsTakeTheirStepsInOrder) {
  winsim::M().desktop.nextHandle = 0xFFFFFFFF80001230u;
  const HWND setup = winsim::AddWindow(u"SetupFrame", u"Setup");
  const int32_t number = static_cast<int32_t>(reinterpret_cast<intptr_t>(setup));
  ASSERT_LT(number, 0);
  std::u16string argument;
  for (char c : std::to_string(number)) argument += static_cast<char16_t>(c);
  auto first = [](const char* call) {
    const auto& trace = winsim::M().trace;
    return std::find(trace.begin(), trace.end(), call) - trace.begin();
  };
  auto last = [](const char* call) {
    const auto& trace = winsim::M().trace;
    return trace.rend() - std::find(trace.rbegin(), trace.rend(), call) - 1;
  };

  PutInstalledProduct(2093);
  OldProductPrinter(u"Front Desk", "FrontKey");
  const HWND help = winsim::OpenHelpWindow();
  winsim::M().tracing = true;
  EXPECT_EQ(1, Run(u"install " + argument));
  EXPECT_EQ(nullptr, winsim::FindWindowRecord(help));
  EXPECT_EQ(setup, winsim::M().desktop.dialog.parent);
  // The companion is stopped before any inventory is taken (the run's lock is the first mutex,
  // the companion's the second).
  ASSERT_EQ(2, winsim::CallCount("CreateMutexA"));
  EXPECT_LT(last("CreateMutexA"), first("EnumMonitorsW"));
  ASSERT_EQ(1, winsim::CallCount("CreateProcessWithTokenW"));  // the companion, with the user's token
  EXPECT_GT(first("CreateProcessWithTokenW"), last("AddPrinterW"));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"Front Desk"));

  winsim::M().trace.clear();
  winsim::M().desktop.dialog.parent = nullptr;
  const HWND secondHelp = winsim::OpenHelpWindow();
  winsim::LockFile(std::u16string(kSystem) + u"mlxmon64.dll");
  EXPECT_EQ(101, Run(u"uninstall " + argument));
  EXPECT_EQ(nullptr, winsim::FindWindowRecord(secondHelp));
  EXPECT_EQ(setup, winsim::M().desktop.dialog.parent);
  EXPECT_LT(last("CreateMutexA"), first("EnumMonitorsW"));
  EXPECT_LT(last("MoveFileExW"), first("DialogBoxParamW"));
}

// Both run verbs carry out the deletes an earlier run left for the reboot. A reinstall gives up
// what the old installation leaves locked, and retries its own leftovers at the end: only what
// still resists then is handed over to the reboot.
TEST_F(ScenarioTest, RunsCleanUpWhatWasLeftAndHandOverOnlyTheirOwn) {
  const std::u16string leftover = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll";
  for (const char16_t* verb : {u"uninstall", u"install"}) {
    winsim::PutFile(leftover, "old");
    winsim::SetRegMultiString(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue,
                              {u"\\??\\" + leftover, u""});
    Run(verb);
    EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue))
        << Narrow(verb);
  }

  // The product's module of an old build, loaded by the spooler for another registration too: it
  // goes once the spooler is stopped, and the install copies it afresh.
  winsim::Reset();
  SetUp();
  winsim::PutMonitor(kPort, u"mlxmon64.dll", winsim::Build(2000));
  winsim::PutMonitor(u"Marbleleaf Legacy", u"mlxmon64.dll");
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_NE(std::string::npos, Log().find("    >Restart Spooler\r\n    DeleteFile-try\r\n    >AddMonitor\r\n"));
  const winsim::FileEntry* fresh = winsim::FindFile(std::u16string(kSystem) + u"mlxmon64.dll");
  ASSERT_NE(nullptr, fresh);
  EXPECT_EQ("module mlxmon64.dll", std::string(fresh->content.begin(), fresh->content.end()));
  EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));

  // An older module name under the product's monitor is not the product's module: the monitor is
  // taken over, the file stays where it is, held or not, and nothing is left for the reboot.
  for (bool held : {false, true}) {
    winsim::Reset();
    SetUp();
    winsim::PutMonitor(kPort, u"mlxold64.dll", winsim::Build(2000));
    winsim::PutMonitor(u"Marbleleaf Legacy", u"mlxold64.dll");
    if (held) winsim::LockFile(std::u16string(kSystem) + u"mlxold64.dll");
    EXPECT_EQ(1, Run(u"install"));
    EXPECT_TRUE(winsim::FileExists(std::u16string(kSystem) + u"mlxold64.dll"));
    EXPECT_NE(std::string::npos,
              Log().find("The monitor's module is not the product's, left in place: C:\\Windows\\system32\\mlxold64.dll\r\n"));
    EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));
  }

  // A staged driver module that resists its first delete goes at the final retry.
  winsim::Reset();
  SetUp();
  winsim::M().tracing = true;
  ASSERT_EQ(1, Run(u"install"));
  const auto& trace = winsim::M().trace;
  const auto added = std::find(trace.begin(), trace.end(), "AddPrinterDriverExW");
  const int stagedDelete = static_cast<int>(std::count(trace.begin(), added, "DeleteFileW")) + 1;
  winsim::Reset();
  SetUp();
  winsim::FailCall("DeleteFileW", ERROR_SHARING_VIOLATION, 1, stagedDelete);
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_FALSE(winsim::FileExists(u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\mlxdrv64.dll"));
}

// Deployed as SYSTEM in session 0 nobody sees a window: the exit code is explained in the
// Application event log instead, by the same log the dialog would have shown. The companion is
// started for the user signed in at the console, which the log says.
TEST_F(ScenarioTest, AnUnattendedRunWritesItsLogToTheEventLog) {
  eventsExpected = true;
  winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
  winsim::M().desktop.shiftDown = false;
  winsim::RemoveFile(std::u16string(kApp) + u"mlxui64.dll");
  EXPECT_EQ(100, Run(u"install"));
  EXPECT_EQ(0, winsim::M().desktop.dialog.shown);
  ExpectGoldenLog("install_refused_without_ui_file", OnlyEvent(EVENTLOG_ERROR_TYPE, 100));
  const winsim::RegValue* messages = winsim::GetRegValue(
      HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Marbleleaf Install",
      u"EventMessageFile");
  ASSERT_NE(nullptr, messages);
  EXPECT_EQ(u"C:\\Windows\\system32\\mlxevent.dll", std::u16string(reinterpret_cast<const char16_t*>(messages->data.data())));
  EXPECT_TRUE(winsim::FileExists(u"C:\\Windows\\system32\\mlxevent.dll"));

  // A service's window station: files left for the reboot make an information event.
  winsim::Reset();
  SetUp();
  winsim::M().desktop.interactiveStation = false;
  PutInstalledProduct(2093);
  winsim::LockFile(std::u16string(kSystem) + u"mlxmon64.dll");
  EXPECT_EQ(101, Run(u"uninstall"));
  EXPECT_EQ(0, winsim::M().desktop.dialog.shown);
  ExpectGoldenLog("uninstall_file_left_for_reboot", OnlyEvent(EVENTLOG_INFORMATION_TYPE, 101));

  // The event log refusing everything changes nothing of the run's result.
  winsim::Reset();
  SetUp();
  winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
  winsim::RemoveFile(std::u16string(kApp) + u"mlxui64.dll");
  winsim::FailCall("RegisterEventSourceW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(100, Run(u"install"));
  EXPECT_TRUE(winsim::M().eventLog.application.empty());
  EXPECT_EQ(nullptr, winsim::FindDriver(kDriver, u"Windows NT x86"));
}

TEST_F(ScenarioTest, ShiftShowsTheLogOfAnErrorFreeRunOnly) {
  winsim::M().desktop.shiftDown = false;
  EXPECT_EQ(2, Run(u"uninstall"));
  EXPECT_EQ(0, winsim::M().desktop.dialog.shown);
  EXPECT_EQ(1, winsim::CallCount("GetAsyncKeyState"));
  winsim::M().desktop.shiftDown = true;
  winsim::M().desktop.dialog.scriptedCommand = IDCANCEL;
  EXPECT_EQ(2, Run(u"uninstall"));
  EXPECT_EQ(1, winsim::M().desktop.dialog.shown);
  EXPECT_EQ("Marbleleaf build 2093- Install log.", Title());
  // The reboot hand-over comes before the dialog.
  winsim::FailNext("GetAsyncKeyState", 5);
  EXPECT_EQ(2, Run(u"uninstall"));
  EXPECT_EQ(1, winsim::M().desktop.dialog.shown);
}

TEST_F(ScenarioTest, RemoveTrayStopsTheCompanionAndEndsWithSix) {
  ASSERT_EQ(1, Run(u"install"));
  ASSERT_EQ(1, winsim::RunningProcesses(kTray));
  EXPECT_EQ(6, Run(u"removetray"));
  EXPECT_EQ(0, winsim::RunningProcesses(kTray));
  EXPECT_EQ("(none)", RunValue());
  EXPECT_FALSE(winsim::FileExists(kTray));
}

// Another machine's product printer, shared as the product shares "mblServer", and this machine's
// connections to it and to one more server: removed here and added back, the servers' queues
// untouched, even where this user could administer them.
TEST_F(ScenarioTest, ConnectionsToOtherMachinesPrintersAreRemovedHereAndAddedBack) {
  PutInstalledProduct(2093);
  winsim::PutPrintServer(u"\\\\PRINTHOST", true);
  winsim::SetPrinterDataString(winsim::PutServerQueue(u"\\\\PRINTHOST", u"mblServer", kDriver, kPort), "", "SubKey",
                               "ServerKey");
  winsim::PutPrintServer(u"\\\\OFFICE", false);
  winsim::PutServerQueue(u"\\\\OFFICE", u"Plans", kDriver, kPort);
  winsim::PutConnection(u"\\\\PRINTHOST\\mblServer");
  winsim::PutConnection(u"\\\\OFFICE\\Plans");
  winsim::M().spooler.defaultPrinter = u"\\\\OFFICE\\Plans";
  const std::string servers = DescribeServers();

  EXPECT_EQ(1, Run(u"install"));
  ExpectGoldenLog("reinstall_with_connections");
  EXPECT_EQ(servers, DescribeServers());
  ASSERT_NE(nullptr, winsim::FindPrinter(u"\\\\PRINTHOST\\mblServer"));
  ASSERT_NE(nullptr, winsim::FindPrinter(u"\\\\OFFICE\\Plans"));
  EXPECT_EQ(u"\\\\OFFICE\\Plans", winsim::M().spooler.defaultPrinter);
  EXPECT_NE(nullptr, winsim::FindPrinter(u"mblServer"));  // this machine's own, as without product printers
  EXPECT_EQ(0u, JournalEntries());

  // An uninstall removes them here and does not add them back; the driver goes after them.
  winsim::M().desktop.dialog = winsim::DialogState();
  EXPECT_EQ(2, Run(u"uninstall"));
  EXPECT_NE(std::string::npos, Log().find("      >DeletePrinterConnection(\\\\OFFICE\\Plans)\r\n        OK\r\n"));
  EXPECT_EQ(std::string::npos, Log().find("AddPrinterConnection"));
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"\\\\PRINTHOST\\mblServer"));
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"\\\\OFFICE\\Plans"));
  EXPECT_EQ(nullptr, winsim::FindDriver(kDriver, u"Windows x64"));
  EXPECT_EQ(servers, DescribeServers());
}

TEST_F(ScenarioTest, AConnectionThatCannotBeRemovedOrAddedBackIsAnError) {
  PutInstalledProduct(2093);
  winsim::PutServerQueue(u"\\\\PRINTHOST", u"mblServer", kDriver, kPort);
  winsim::PutConnection(u"\\\\PRINTHOST\\mblServer");
  winsim::M().spooler.defaultPrinter = u"\\\\PRINTHOST\\mblServer";
  const std::string servers = DescribeServers();
  winsim::M().desktop.shiftDown = false;
  winsim::FailCall("DeletePrinterConnectionW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(100, Run(u"install"));
  EXPECT_NE(std::string::npos,
            Log().find("Error(17): Can`t delete printer connection '\\\\PRINTHOST\\mblServer' - (Access is denied.)\r\n"));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"\\\\PRINTHOST\\mblServer"));
  EXPECT_EQ(0u, JournalEntries());  // still in place: nothing to bring back

  // Removed, but not added back: the journal keeps it, and the next install brings it back.
  winsim::FailNext("AddPrinterConnection2W", ERROR_ACCESS_DENIED);
  EXPECT_EQ(100, Run(u"install"));
  EXPECT_NE(std::string::npos, Log().find("    >AddPrinterConnection(\\\\PRINTHOST\\mblServer)\r\n      Error(15): Can`t "
                                          "add printer connection '\\\\PRINTHOST\\mblServer' - (Access is denied.)\r\n"));
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"\\\\PRINTHOST\\mblServer"));
  EXPECT_EQ(1u, JournalEntries());
  winsim::FailNext("SetDefaultPrinterW", ERROR_INVALID_PRINTER_NAME);  // silent, as for local printers
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"\\\\PRINTHOST\\mblServer"));
  EXPECT_EQ(0u, JournalEntries());
  EXPECT_EQ(servers, DescribeServers());
}

// A connection is removed only when its server answers now, since adding it back needs the
// server. One whose server is off the network stays, and keeps the driver in use: the driver's
// removal fails as for any printer in use, and the connection that could go comes back.
TEST_F(ScenarioTest, AConnectionWhoseServerDoesNotAnswerStaysAndTheOthersComeBack) {
  PutInstalledProduct(2093);
  winsim::PutServerQueue(u"\\\\PRINTHOST", u"mblServer", kDriver, kPort);
  winsim::PutServerQueue(u"\\\\LAPTOPHOST", u"Roaming", kDriver, kPort);
  winsim::PutConnection(u"\\\\LAPTOPHOST\\Roaming");
  winsim::PutConnection(u"\\\\PRINTHOST\\mblServer");
  winsim::PutPrintServer(u"\\\\LAPTOPHOST").reachable = false;
  winsim::M().spooler.defaultPrinter = u"\\\\LAPTOPHOST\\Roaming";
  const std::string servers = DescribeServers();
  const std::string roaming = Describe(*winsim::FindPrinter(u"\\\\LAPTOPHOST\\Roaming"));

  EXPECT_EQ(100, Run(u"install"));
  EXPECT_NE(std::string::npos,
            Log().find("        >DeleteAllPrinters\r\n"
                       "          >DeletePrinterConnection(\\\\LAPTOPHOST\\Roaming)\r\n"
                       "            The print server does not answer (1722): the connection stays\r\n"
                       "          >DeletePrinterConnection(\\\\PRINTHOST\\mblServer)\r\n"
                       "            OK\r\n"
                       "        >DeletePrinterDriver for Windows x64\r\n"));
  EXPECT_NE(std::string::npos, Log().find("Error(14): Can`t remove the printer-driver 'Marbleleaf Server' - (The "
                                          "specified printer driver is currently in use.)\r\n"));
  EXPECT_NE(std::string::npos, Log().find("    >AddPrinterConnection(\\\\PRINTHOST\\mblServer)\r\n      OK :)\r\n"));
  EXPECT_EQ(std::string::npos, Log().find("AddPrinterConnection(\\\\LAPTOPHOST"));
  ASSERT_NE(nullptr, winsim::FindPrinter(u"\\\\LAPTOPHOST\\Roaming"));
  EXPECT_EQ(roaming, Describe(*winsim::FindPrinter(u"\\\\LAPTOPHOST\\Roaming")));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"\\\\PRINTHOST\\mblServer"));
  EXPECT_EQ(u"\\\\LAPTOPHOST\\Roaming", winsim::M().spooler.defaultPrinter);
  EXPECT_EQ(servers, DescribeServers());
  EXPECT_EQ(0u, JournalEntries());

  // Back on the network, the next install removes it and adds it back.
  winsim::PutPrintServer(u"\\\\LAPTOPHOST").reachable = true;
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_NE(std::string::npos, Log().find("    >AddPrinterConnection(\\\\LAPTOPHOST\\Roaming)\r\n      OK :)\r\n"));
  EXPECT_EQ(u"\\\\LAPTOPHOST\\Roaming", winsim::M().spooler.defaultPrinter);
  EXPECT_EQ(servers, DescribeServers());
}

// Connections come back without UI: a Point and Print policy that refuses the server's driver can
// show no prompt that nobody may be there to answer. The refusal is an error, and the journal
// keeps the connection for a later install.
TEST_F(ScenarioTest, AConnectionRefusedByPointAndPrintIsAnErrorWithoutAPrompt) {
  PutInstalledProduct(2093);
  winsim::PutServerQueue(u"\\\\PRINTHOST", u"mblServer", kDriver, kPort);
  winsim::PutConnection(u"\\\\PRINTHOST\\mblServer");
  winsim::PutPrintServer(u"\\\\PRINTHOST").pointAndPrintRefused = true;
  winsim::M().desktop.shiftDown = false;
  EXPECT_EQ(100, Run(u"install"));
  EXPECT_NE(std::string::npos,
            Log().find("    >AddPrinterConnection(\\\\PRINTHOST\\mblServer)\r\n      Error(15): Can`t add printer connection "
                       "'\\\\PRINTHOST\\mblServer' - (The specified printer driver was not found on the system and needs "
                       "to be downloaded.)\r\n"));
  EXPECT_EQ(0, winsim::M().spooler.pointAndPrintPrompts);
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"\\\\PRINTHOST\\mblServer"));
  EXPECT_EQ(1u, JournalEntries());

  winsim::PutPrintServer(u"\\\\PRINTHOST").pointAndPrintRefused = false;
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"\\\\PRINTHOST\\mblServer"));
  EXPECT_EQ(0u, JournalEntries());
}

// A registry at its quota refuses every journal entry: no printer is removed, each is a counted
// error, and the driver they keep in use stays.
TEST_F(ScenarioTest, ARegistryAtItsQuotaRemovesNoPrinter) {
  PutInstalledProduct(2093);
  winsim::PrinterEntry& front = winsim::PutPrinter(u"Front Desk", kDriver, kPort);
  winsim::SetPrinterDataString(front, "", "SubKey", "FrontKey");
  winsim::PutServerQueue(u"\\\\PRINTHOST", u"mblServer", kDriver, kPort);
  winsim::PutConnection(u"\\\\PRINTHOST\\mblServer");
  const std::string before = Describe(*winsim::FindPrinter(u"Front Desk"));
  winsim::M().registry.quotaBytes = 1;  // full: no write fits
  EXPECT_EQ(100, Run(u"install"));
  const std::string full = " - (The system has reached the maximum size allowed for the system part of the registry. "
                           "Additional storage requests will be ignored.)\r\n";
  EXPECT_NE(std::string::npos,
            Log().find("        >DeleteAllPrinters\r\n          Error(17): Can`t keep Front Desk in the journal of saved "
                       "printers, so it is not removed" + full +
                       "          >DeletePrinterConnection(\\\\PRINTHOST\\mblServer)\r\n            Error(17): Can`t keep "
                       "\\\\PRINTHOST\\mblServer in the journal of saved printers, so it is not removed" + full +
                       "        >DeletePrinterDriver for Windows x64\r\n"));
  ASSERT_NE(nullptr, winsim::FindPrinter(u"Front Desk"));
  EXPECT_EQ(before, Describe(*winsim::FindPrinter(u"Front Desk")));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"\\\\PRINTHOST\\mblServer"));
  EXPECT_EQ(std::string::npos, Log().find(">AddPrinter(Front Desk)"));
  EXPECT_EQ(0u, JournalEntries());
}

// The uninstall of a complete installation (its printer included) while another process holds the
// monitor module loaded: the module is left for the reboot, 101.
TEST_F(ScenarioTest, UninstallOfAnInstallationLeavesAHeldModuleForTheReboot) {
  ASSERT_EQ(1, Run(u"install"));
  winsim::LockFile(std::u16string(kSystem) + u"mlxmon64.dll");
  winsim::M().desktop.dialog = winsim::DialogState();
  EXPECT_EQ(101, Run(u"uninstall"));
  ExpectGoldenLog("uninstall_installation_file_left_for_reboot");
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"mblServer"));
  winsim::Reboot();
  EXPECT_FALSE(winsim::FileExists(std::u16string(kSystem) + u"mlxmon64.dll"));
}
