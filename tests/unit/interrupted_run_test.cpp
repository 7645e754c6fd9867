// A reinstall killed at any point, then a complete install: no printer of the user is lost or
// changed, and nothing of another machine is touched.
#include <gtest/gtest.h>

#include "scenario_fixture.h"

namespace {
const char16_t* const kDriver = u"Marbleleaf Server";
const char16_t* const kPort = u"MarbleleafServer:";
const char16_t* const kServer = u"\\\\PRINTHOST";
const char16_t* const kConnection = u"\\\\PRINTHOST\\Studio";
const char16_t* const kRoaming = u"\\\\LAPTOPHOST\\Roaming";  // its server off the network

std::string SettingsKey(const winsim::PrinterEntry& printer) {
  auto plain = printer.data.find("");
  if (plain == printer.data.end() || !plain->second.count("SubKey")) return "(none)";
  const std::vector<uint8_t>& bytes = plain->second.at("SubKey").data;
  return std::string(bytes.begin(), bytes.end() - 1);
}

class InterruptedRunTest : public ScenarioTest {
 protected:
  // An installation with two keyed printers (one shared, one the default), a printer of another
  // driver, and a connection to a product printer of a server where this user is an administrator,
  // so that any change made through the connection would show.
  void LayDownMachine() {
    if (serverOffTheNetwork) {
      winsim::PutServerQueue(u"\\\\LAPTOPHOST", u"Roaming", kDriver, kPort);
      winsim::PutConnection(kRoaming);
      winsim::PutPrintServer(u"\\\\LAPTOPHOST").reachable = false;
    }
    winsim::PutMonitor(kPort, u"mlxmon64.dll", winsim::Build(2093));
    winsim::PutDriver(kDriver, u"Windows x64", u"mlxdrv64.dll", u"mlxui64.dll", u"mlxhelp.chm", winsim::Build(2093));
    winsim::PutDriver(kDriver, u"Windows NT x86", u"mlxdrv32.dll", u"mlxui32.dll", u"mlxhelp.chm", winsim::Build(2093));
    winsim::PrinterEntry& front = winsim::PutPrinter(u"Front Desk", kDriver, kPort);
    winsim::SetPrinterDataString(front, "", "SubKey", "FrontKey");
    front.comment = u"by the door";
    front.location = u"Ground floor";
    front.shareName = u"FRONT";
    front.attributes |= PRINTER_ATTRIBUTE_SHARED;
    winsim::PrinterEntry& back = winsim::PutPrinter(u"Back Office", kDriver, kPort);
    winsim::SetPrinterDataString(back, "DsUser", "SubKey", "BackKey");
    back.location = u"Annex";
    winsim::PutPrinter(u"Laser", u"Generic Laser", u"LPT1:").comment = u"not ours";
    winsim::PutPrintServer(kServer, true);
    winsim::PutServerQueue(kServer, u"Studio", kDriver, kPort).comment = u"the server's own";
    winsim::PutConnection(kConnection);
    winsim::M().spooler.defaultPrinter = u"Back Office";
    laser = Describe(*winsim::FindPrinter(u"Laser"));
    servers = DescribeServers();
  }

  // The spooler refuses the new driver after the old one is gone: a failure that no check before
  // the run can foresee (missing files are refused before anything is removed).
  static void RefuseTheDriver() { winsim::FailCall("AddPrinterDriverExW", ERROR_ACCESS_DENIED, -1); }
  static void AcceptTheDriver() { winsim::M().faults.clear(); }

  void ExpectPrintersWhole() {
    const winsim::PrinterEntry* front = winsim::FindPrinter(u"Front Desk");
    ASSERT_NE(nullptr, front);
    EXPECT_EQ("FrontKey", SettingsKey(*front));
    EXPECT_EQ("by the door", Narrow(front->comment.value_or(u"(null)")));
    EXPECT_EQ("Ground floor", Narrow(front->location.value_or(u"(null)")));
    EXPECT_EQ("FRONT", Narrow(front->shareName.value_or(u"(null)")));
    EXPECT_EQ(kPort, front->portName);
    const winsim::PrinterEntry* back = winsim::FindPrinter(u"Back Office");
    ASSERT_NE(nullptr, back);
    EXPECT_EQ("BackKey", SettingsKey(*back));
    EXPECT_EQ("(null)", Narrow(back->comment.value_or(u"(null)")));
    EXPECT_EQ("Annex", Narrow(back->location.value_or(u"(null)")));
    EXPECT_EQ("Back Office", Narrow(back->shareName.value_or(u"(null)")));
    EXPECT_EQ(u"Back Office", winsim::M().spooler.defaultPrinter);
    const winsim::PrinterEntry* connection = winsim::FindPrinter(kConnection);
    ASSERT_NE(nullptr, connection);
    EXPECT_TRUE(connection->connection);
    // A connection whose server does not answer could not be added back: it is never removed.
    if (serverOffTheNetwork) {
      EXPECT_NE(nullptr, winsim::FindPrinter(kRoaming));
    }
    ASSERT_NE(nullptr, winsim::FindPrinter(u"Laser"));
    EXPECT_EQ(laser, Describe(*winsim::FindPrinter(u"Laser")));
    EXPECT_EQ(servers, DescribeServers());
    EXPECT_EQ(0u, JournalEntries());
    EXPECT_EQ(0, winsim::M().globalBlocks);
    EXPECT_TRUE(winsim::M().spooler.handles.empty());
  }

  // Every cut point of the first run, each followed by a complete install with the product's
  // files in place (which ends with 100 while a connection keeps the old driver in use).
  void CutAtEveryCall(bool driverRefused, int firstRunExit) {
    const int secondRunExit = serverOffTheNetwork ? 100 : 1;
    LayDownMachine();
    if (driverRefused) RefuseTheDriver();
    const int64_t before = winsim::M().failableCalls;
    ASSERT_EQ(firstRunExit, Run(u"install"));
    const int64_t calls = winsim::M().failableCalls - before;
    ASSERT_GT(calls, 100);
    if (driverRefused) {
      // Every recreation failed with 1797: the journal keeps the printers for the next run.
      EXPECT_EQ(3u, JournalEntries());
      AcceptTheDriver();
      winsim::M().desktop.dialog = winsim::DialogState();
      EXPECT_EQ(1, Run(u"install"));
      ExpectGoldenLog("install_after_failed_driver_installation");
      ExpectPrintersWhole();
    }
    for (int64_t n = 1; n <= calls; ++n) {
      SCOPED_TRACE("first run cut at call " + std::to_string(n) + " of " + std::to_string(calls));
      SetUp();
      LayDownMachine();
      if (driverRefused) RefuseTheDriver();
      winsim::CutRunAt(n);
      Run(u"install");
      winsim::EndCut();
      AcceptTheDriver();
      winsim::M().desktop.dialog = winsim::DialogState();
      EXPECT_EQ(secondRunExit, Run(u"install")) << Log();
      ExpectPrintersWhole();
      if (HasFailure()) break;
    }
  }

  std::string laser;
  std::string servers;
  bool serverOffTheNetwork = false;
};
}  // namespace

TEST_F(InterruptedRunTest, AReinstallCutAtAnyCallLosesNoPrinter) { CutAtEveryCall(false, 1); }

TEST_F(InterruptedRunTest, ARunWhoseDriverIsRefusedCutAtAnyCallLosesNoPrinter) { CutAtEveryCall(true, 100); }

TEST_F(InterruptedRunTest, AReinstallWithAServerOffTheNetworkCutAtAnyCallLosesNoPrinter) {
  serverOffTheNetwork = true;
  CutAtEveryCall(false, 100);
}

// A printer whose journal entry could not be written stays where it is, counted as an error; the
// run goes on, and what the journal still holds comes back in a later run.
TEST_F(InterruptedRunTest, JournalFailuresKeepThePrinterOrAreSilentAndTheRunGoesOn) {
  LayDownMachine();
  RefuseTheDriver();
  const std::string front = Describe(*winsim::FindPrinter(u"Front Desk"));
  winsim::FailNext("RegCreateKeyExA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(100, Run(u"install"));
  EXPECT_NE(std::string::npos, Log().find("        >DeleteAllPrinters\r\n          Error(17): Can`t keep Front Desk in "
                                          "the journal of saved printers, so it is not removed - (Access is denied.)\r\n"
                                          "          >DeletePrinter(Back Office)\r\n"));
  ASSERT_NE(nullptr, winsim::FindPrinter(u"Front Desk"));
  EXPECT_EQ(front, Describe(*winsim::FindPrinter(u"Front Desk")));
  EXPECT_EQ(std::string::npos, Log().find(">AddPrinter(Front Desk)"));
  // The printer kept the driver in use: the others came back with it.
  EXPECT_NE(std::string::npos, Log().find("Error(14): Can`t remove the printer-driver 'Marbleleaf Server'"));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"Back Office"));
  EXPECT_NE(nullptr, winsim::FindPrinter(kConnection));
  EXPECT_EQ(0u, JournalEntries());

  // Without failures the driver goes, none comes back, and the journal keeps all three.
  EXPECT_EQ(100, Run(u"install"));
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"Front Desk"));
  EXPECT_EQ(3u, JournalEntries());

  AcceptTheDriver();
  for (const char* refused : {"RegOpenKeyExA", "RegEnumValueW"}) {
    // The check before the run opens the protected print policy's key first.
    const bool afterPolicy = std::string(refused) == "RegOpenKeyExA";
    // The enumeration fails for the machine's entries and the user's own alike.
    winsim::FailCall(refused, ERROR_ACCESS_DENIED, afterPolicy ? 1 : 2, winsim::CallCount(refused) + (afterPolicy ? 2 : 1));
    if (std::string(refused) == "RegEnumValueW") winsim::FailNext("RegCloseKey", ERROR_INVALID_HANDLE);
    EXPECT_EQ(1, Run(u"install")) << refused;
    EXPECT_EQ(std::string::npos, Log().find("taken over")) << refused;
    EXPECT_EQ(nullptr, winsim::FindPrinter(u"Back Office")) << refused;
    EXPECT_EQ(3u, JournalEntries()) << refused;
  }

  winsim::FailNext("RegDeleteValueW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_NE(std::string::npos, Log().find("    3 saved printers taken over from an earlier run\r\n    >UnInstall\r\n"));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"Front Desk"));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"Back Office"));
  EXPECT_NE(nullptr, winsim::FindPrinter(kConnection));
  EXPECT_EQ(u"Back Office", winsim::M().spooler.defaultPrinter);
  EXPECT_EQ(1u, JournalEntries());
  EXPECT_EQ(1, Run(u"install"));  // the entry left over is taken over again, then removed
  EXPECT_EQ(0u, JournalEntries());

  // Kept in place, the printer keeps the driver in use: its removal fails as for any printer in use.
  winsim::FailNext("RegSetValueExW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(100, Run(u"install"));
  EXPECT_NE(std::string::npos, Log().find("          Error(17): Can`t keep Back Office in the journal of saved printers, "
                                          "so it is not removed - (Access is denied.)\r\n"));
  EXPECT_NE(std::string::npos, Log().find("Error(14): Can`t remove the printer-driver 'Marbleleaf Server'"));
  ASSERT_NE(nullptr, winsim::FindPrinter(u"Back Office"));
  EXPECT_EQ("BackKey", SettingsKey(*winsim::FindPrinter(u"Back Office")));
  EXPECT_EQ(u"Back Office", winsim::M().spooler.defaultPrinter);
  EXPECT_EQ(0u, JournalEntries());

  winsim::FailNext("RegDeleteKeyA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(2, Run(u"uninstall"));
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"Back Office"));
  EXPECT_EQ(servers, DescribeServers());
  handlesLeftOpen = 1;  // the journal key whose close was refused
}
