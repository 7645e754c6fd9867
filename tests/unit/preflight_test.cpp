// An install that cannot finish refuses before it removes anything: protected print mode, a
// machine that is not x64, product files missing or of another build. The uninstall still runs.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "app/installer_state.h"
#include "app/preflight.h"
#include "driver/platform.h"
#include "scenario_fixture.h"
#include "system/protected_print.h"

namespace {
const char16_t* const kDriver = u"Marbleleaf Server";
const char16_t* const kPort = u"MarbleleafServer:";

// Everything a user or an administrator could compare: printers with their data, monitors,
// drivers, the default printer, every file and registry value, and which programs run.
std::string MachineSnapshot() {
  std::ostringstream out;
  const winsim::Machine& m = winsim::M();
  for (const winsim::PrinterEntry& printer : m.spooler.printers) {
    out << "printer " << Narrow(printer.name) << "|" << Narrow(printer.portName) << "|" << Narrow(printer.driverName)
        << "|" << Narrow(printer.shareName.value_or(u"-")) << "|" << printer.attributes;
    for (const auto& key : printer.data)
      for (const auto& value : key.second)
        out << "|" << key.first << "\\" << value.first << "=" << std::string(value.second.data.begin(), value.second.data.end());
    out << "\n";
  }
  for (const winsim::MonitorEntry& monitor : m.spooler.monitors)
    out << "monitor " << Narrow(monitor.name) << "|" << Narrow(monitor.dllName) << "\n";
  for (const winsim::DriverEntry& driver : m.spooler.drivers)
    out << "driver " << Narrow(driver.name) << "|" << Narrow(driver.environment) << "|" << Narrow(driver.driverPath) << "\n";
  out << "default " << Narrow(m.spooler.defaultPrinter) << "\n";
  for (const auto& file : m.files.entries)
    out << "file " << Narrow(file.second.path) << "|" << file.second.content.size() << "|"
        << (file.second.version ? file.second.version->build : 0) << "\n";
  for (const auto& key : m.registry.keys)
    for (const auto& value : key.second.values)
      out << "reg " << Narrow(key.first) << "\\" << Narrow(value.second.name) << "="
          << std::string(value.second.data.begin(), value.second.data.end()) << "\n";
  for (const winsim::Process& process : m.desktop.processes)
    if (process.running) out << "process " << process.id << " " << Narrow(process.imagePath) << "\n";
  return out.str();
}

class PreflightTest : public ScenarioTest {
 protected:
  // A complete installation with a keyed, shared product printer that is the default.
  void SetUp() override {
    ScenarioTest::SetUp();
    ASSERT_EQ(1, Run(u"install"));
    winsim::PrinterEntry& office = winsim::PutPrinter(u"Office", kDriver, kPort);
    winsim::SetPrinterDataString(office, "", "SubKey", "office-key");
    office.attributes |= PRINTER_ATTRIBUTE_SHARED;
    office.shareName = u"OfficeShare";
    winsim::M().spooler.defaultPrinter = u"Office";
    winsim::M().desktop.shiftDown = false;
    winsim::M().desktop.dialog = winsim::DialogState();
  }

  // The line of the refusal: the only error, right after the spooler check.
  static std::string RefusalLine() {
    const std::string log = Log();
    const std::string head = "Marbleleaf 2093\r\n>Check Spooler\r\n";
    EXPECT_EQ(0u, log.find(head)) << log;
    EXPECT_EQ(std::string::npos, log.find(">ReInstall")) << log;
    const size_t end = log.find("\r\n", head.size());
    EXPECT_EQ(log.size() - 2, end) << "more than one line after the spooler check:\n" << log;
    return log.substr(head.size(), end == std::string::npos ? std::string::npos : end - head.size());
  }
};

struct Refusal {
  const char* cause;
  std::function<void()> arrange;
  const char* line;
};

const char* const kByPolicy =
    "Error(18): Windows protected print mode is on, set by policy: Windows accepts no third-party printer driver or "
    "port monitor, so Marbleleaf cannot be installed. Nothing was changed. Ask your administrator about the policy "
    "\"Configure Windows protected print\".";
const char* const kInSettings =
    "Error(18): Windows protected print mode is on: Windows accepts no third-party printer driver or port monitor, "
    "so Marbleleaf cannot be installed. Nothing was changed. Turn it off in Settings > Bluetooth & devices > "
    "Printers & scanners, then run setup again.";

const Refusal kRefusals[] = {
    {"protected print turned on in Settings", [] { winsim::M().system.protectedPrintSetting = true; }, kInSettings},
    {"the policy on a build with the class", [] { winsim::SetProtectedPrintPolicy(true); }, kByPolicy},
    {"the policy on a build before the class",
     [] {
       winsim::M().system.build = 22631;
       winsim::SetProtectedPrintPolicy(true);
     },
     kByPolicy},
    {"the policy while the class cannot be activated",
     [] {
       winsim::FailCall("RoGetActivationFactory", static_cast<DWORD>(E_FAIL), -1);
       winsim::SetProtectedPrintPolicy(true);
     },
     kByPolicy},
    {"an ARM64 machine", [] { winsim::M().system.nativeMachine = IMAGE_FILE_MACHINE_ARM64; },
     "Error(19): Windows runs on ARM64 here: the Marbleleaf printer driver and port monitor are for x64 Windows "
     "only, and the print spooler cannot load them. Nothing was changed."},
    {"a machine of an unnamed kind", [] { winsim::M().system.nativeMachine = 0x5064; },
     "Error(19): Windows runs on 0x5064 here: the Marbleleaf printer driver and port monitor are for x64 Windows "
     "only, and the print spooler cannot load them. Nothing was changed."},
    {"a module missing", [] { winsim::RemoveFile(u"C:\\Program Files\\Marbleleaf\\app\\mlxui32.dll"); },
     "Error(20): Product file mlxui32.dll cannot be read in C:\\Program Files\\Marbleleaf\\app\\. Nothing was "
     "changed. Run setup again from a complete copy of Marbleleaf build 2093. - (The system cannot find the file "
     "specified.)"},
    {"the x86 monitor module, which no install copies, may be missing",
     [] { winsim::RemoveFile(u"C:\\Program Files\\Marbleleaf\\app\\mlxmon32.dll"); }, nullptr},
    {"the help file missing", [] { winsim::RemoveFile(u"C:\\Program Files\\Marbleleaf\\app\\mlxhelp.chm"); },
     "Error(20): Product file mlxhelp.chm cannot be read in C:\\Program Files\\Marbleleaf\\app\\. Nothing was "
     "changed. Run setup again from a complete copy of Marbleleaf build 2093. - (The system cannot find the file "
     "specified.)"},
    {"a module that can't be read", [] { winsim::FailNext("GetFileAttributesW", ERROR_ACCESS_DENIED); },
     "Error(20): Product file mlxmon64.dll cannot be read in C:\\Program Files\\Marbleleaf\\app\\. Nothing was "
     "changed. Run setup again from a complete copy of Marbleleaf build 2093. - (Access is denied.)"},
    {"a module of another build",
     [] { winsim::PutFile(u"C:\\Program Files\\Marbleleaf\\app\\mlxdrv64.dll", "newer", winsim::Build(2094)); },
     "Error(20): Product file mlxdrv64.dll in C:\\Program Files\\Marbleleaf\\app\\ is of build 2094, this installer "
     "is build 2093. Nothing was changed. Run setup again from a complete copy of Marbleleaf build 2093."},
    {"a module without a version",
     [] { winsim::PutFile(u"C:\\Program Files\\Marbleleaf\\app\\mlxmon64.dll", "stripped"); },
     "Error(20): Product file mlxmon64.dll in C:\\Program Files\\Marbleleaf\\app\\ is of no build, this installer "
     "is build 2093. Nothing was changed. Run setup again from a complete copy of Marbleleaf build 2093."},
};
}  // namespace

TEST_F(PreflightTest, AnInstallThatCannotFinishChangesNothing) {
  for (const Refusal& refusal : kRefusals) {
    SCOPED_TRACE(refusal.cause);
    winsim::Reset();
    SetUp();
    refusal.arrange();
    if (!refusal.line) {
      EXPECT_EQ(1, Run(u"install"));
      continue;
    }
    const std::string before = MachineSnapshot();
    EXPECT_EQ(100, Run(u"install"));
    EXPECT_EQ(refusal.line, RefusalLine());
    EXPECT_EQ("Marbleleaf build 2093- Install error log!", Title());
    EXPECT_EQ(before, MachineSnapshot());
    EXPECT_EQ(0, winsim::CallCount("DeletePrinter"));
    EXPECT_EQ(0, winsim::CallCount("PostMessageW"));  // the companion was not asked to exit
  }
}

// Deployed as SYSTEM in session 0: the refusal is explained in the event log instead.
TEST_F(PreflightTest, AnUnattendedRefusalGoesToTheEventLog) {
  eventsExpected = true;
  winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
  winsim::SetProtectedPrintPolicy(true);
  EXPECT_EQ(100, Run(u"install"));
  EXPECT_EQ(0, winsim::M().desktop.dialog.shown);
  EXPECT_EQ(std::string("Marbleleaf 2093\r\n>Check Spooler\r\n") + kByPolicy + "\r\n",
            OnlyEvent(EVENTLOG_ERROR_TYPE, 100));
}

// Removal is still possible under every cause, so the uninstall runs as it always does.
TEST_F(PreflightTest, UninstallProceedsWhereInstallIsRefused) {
  for (const Refusal& refusal : kRefusals) {
    SCOPED_TRACE(refusal.cause);
    winsim::Reset();
    SetUp();
    refusal.arrange();
    EXPECT_EQ(2, Run(u"uninstall"));
    EXPECT_EQ(nullptr, winsim::FindPrinter(u"Office"));
    EXPECT_EQ(nullptr, winsim::FindDriver(kDriver, u"Windows x64"));
    EXPECT_EQ(nullptr, winsim::FindMonitor(kPort));
    EXPECT_EQ(0, winsim::RunningProcesses(kTray));
  }
}

// Where Windows can't tell, nothing is refused: the reinstall runs with the log it has anyway.
// The policy's own calls fail with the policy set, on a build without the WinRT class.
TEST_F(PreflightTest, WhatWindowsCannotTellRefusesNothing) {
  winsim::M().desktop.shiftDown = true;
  ASSERT_EQ(1, Run(u"install"));
  const std::string usual = Log();
  const struct {
    const char* function;
    DWORD error;
    bool policySet;
  } kFailures[] = {
      {"LoadLibraryW", ERROR_MOD_NOT_FOUND, false},
      {"GetProcAddress", 127, false},
      {"RoInitialize", static_cast<DWORD>(E_OUTOFMEMORY), false},
      {"WindowsCreateString", static_cast<DWORD>(E_OUTOFMEMORY), false},
      {"RoGetActivationFactory", static_cast<DWORD>(REGDB_E_CLASSNOTREG), false},
      {"get_IsProtectedPrintEnabled", static_cast<DWORD>(E_FAIL), false},
      {"RegOpenKeyExA", ERROR_ACCESS_DENIED, true},
      {"RegQueryValueExW", ERROR_ACCESS_DENIED, true},
      {"GetModuleHandleW", ERROR_MOD_NOT_FOUND, false},
      {"IsWow64Process2", ERROR_ACCESS_DENIED, false},
  };
  for (const auto& failure : kFailures) {
    SCOPED_TRACE(failure.function);
    winsim::Reset();
    SetUp();
    winsim::M().desktop.shiftDown = true;
    if (failure.policySet) {
      winsim::M().system.build = 22631;  // only the policy can tell
      winsim::SetProtectedPrintPolicy(true);
    }
    winsim::FailNext(failure.function, failure.error);
    if (failure.policySet) {
      // Not honoured where it can't be read: the run goes ahead and meets the spooler's refusal.
      EXPECT_EQ(100, Run(u"install"));
      EXPECT_NE(std::string::npos, Log().find("\r\n>ReInstall\r\n"));
    } else {
      EXPECT_EQ(1, Run(u"install"));
      EXPECT_EQ(usual, Log());
    }
    EXPECT_EQ(0, winsim::M().system.combaseReferences);
    EXPECT_EQ(0, winsim::M().system.runtimeInits);
  }
}

TEST_F(PreflightTest, ProtectedPrintIsReadAsWindowsAndThePolicyTellIt) {
  const struct {
    const char* machine;
    DWORD build;
    bool setting;
    int policy;  // -1: no value
    ProtectedPrint expected;
  } kCases[] = {
      {"23H2, nothing set", 22631, false, -1, kProtectedPrintOff},
      {"24H2, off", 26100, false, -1, kProtectedPrintOff},
      {"24H2, on in Settings", 26100, true, -1, kProtectedPrintOn},
      {"24H2, on in Settings and by policy", 26100, true, 1, kProtectedPrintByPolicy},
      {"23H2, the policy set", 22631, false, 1, kProtectedPrintByPolicy},
      {"24H2, the policy set to off", 26100, false, 0, kProtectedPrintOff},
      {"24H2, the policy of another value", 26100, false, 2, kProtectedPrintOff},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.machine);
    winsim::Reset();
    winsim::M().system.build = c.build;
    winsim::M().system.protectedPrintSetting = c.setting;
    if (c.policy >= 0) winsim::SetProtectedPrintPolicy(true, static_cast<DWORD>(c.policy));
    EXPECT_EQ(c.expected, DetectProtectedPrint());
    EXPECT_EQ(0, winsim::M().system.combaseReferences);
    EXPECT_EQ(0, winsim::M().system.factoryReferences);
  }
  // A policy value of the wrong type is not the policy.
  winsim::Reset();
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, winsim::kProtectedPrintPolicyKey, winsim::kProtectedPrintPolicyValue,
                      REG_SZ, {'1', 0, 0, 0});
  EXPECT_EQ(kProtectedPrintOff, DetectProtectedPrint());
  // The thread already in the single-threaded apartment still gets its answer, and stays there.
  winsim::M().system.protectedPrintSetting = true;
  winsim::M().system.singleThreadedApartment = true;
  EXPECT_EQ(kProtectedPrintOn, DetectProtectedPrint());
  EXPECT_EQ(0, winsim::M().system.runtimeInits);
  winsim::M().system.singleThreadedApartment = false;
  // A key that can't be closed still gives its value.
  winsim::SetProtectedPrintPolicy(true);
  winsim::FailNext("RegCloseKey", ERROR_INVALID_HANDLE);
  EXPECT_EQ(kProtectedPrintByPolicy, DetectProtectedPrint());
  handlesLeftOpen = 1;
}

TEST_F(PreflightTest, TheNativeMachineIsWhatIsWow64Process2Reports) {
  winsim::Reset();
  winsim::M().system.nativeMachine = IMAGE_FILE_MACHINE_ARM64;
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  EXPECT_EQ(PROCESSOR_ARCHITECTURE_AMD64, info.wProcessorArchitecture);  // the emulated x64 story
  EXPECT_EQ(IMAGE_FILE_MACHINE_ARM64, QueryNativeMachine());
  // Windows before 10 version 1709 has no IsWow64Process2, and no x64 emulation either.
  winsim::M().system.build = 15063;
  EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, QueryNativeMachine());
}

// What the spooler does under protected print mode, and on ARM64, when an installer goes ahead.
TEST_F(PreflightTest, TheSpoolerRefusesThirdPartyDriversAndMonitorsUnderProtectedPrint) {
  winsim::Reset();
  winsim::M().system.protectedPrintSetting = true;
  winsim::PutFile(u"C:\\Windows\\system32\\mlxmon64.dll", "monitor");
  MONITOR_INFO_2W monitor = {const_cast<LPWSTR>(kPort), const_cast<LPWSTR>(u"Windows x64"),
                             const_cast<LPWSTR>(u"mlxmon64.dll")};
  EXPECT_FALSE(AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&monitor)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  const std::u16string staging = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\";
  for (const char16_t* file : {u"mlxdrv64.dll", u"mlxui64.dll"}) winsim::PutFile(staging + file, "module");
  DRIVER_INFO_6W driver{};
  driver.cVersion = 3;
  driver.pName = const_cast<LPWSTR>(kDriver);
  driver.pEnvironment = const_cast<LPWSTR>(u"Windows x64");
  driver.pDriverPath = const_cast<LPWSTR>(u"mlxdrv64.dll");
  driver.pDataFile = const_cast<LPWSTR>(u"mlxdrv64.dll");
  driver.pConfigFile = const_cast<LPWSTR>(u"mlxui64.dll");
  EXPECT_FALSE(AddPrinterDriverExW(nullptr, 6, reinterpret_cast<LPBYTE>(&driver), APD_COPY_ALL_FILES));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PRINTER_DRIVER_BLOCKED), GetLastError());

  winsim::M().system.protectedPrintSetting = false;
  winsim::M().system.nativeMachine = IMAGE_FILE_MACHINE_ARM64;
  EXPECT_FALSE(AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&monitor)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_EXE_FORMAT), GetLastError());
  EXPECT_TRUE(AddPrinterDriverExW(nullptr, 6, reinterpret_cast<LPBYTE>(&driver), APD_COPY_ALL_FILES));
}
