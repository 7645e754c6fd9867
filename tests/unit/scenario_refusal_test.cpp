// Whole installer runs on a machine with printers of the user's own, and where the spooler
// refuses: a monitor in use (3008), a printer name the user has taken (1802), a port without its
// monitor (1796). The same stories run end to end (tests/e2e/scenarios_refusals.sh and
// scenarios.sh), whose logs are compared with these golden logs.
#include <gtest/gtest.h>

#include "scenario_fixture.h"

namespace {
const char16_t* const kDriver = u"Marbleleaf Server";
const char16_t* const kPort = u"MarbleleafServer:";

// The user's own printer driver and a printer of the user's on the given port.
winsim::PrinterEntry& UserPrinter(const std::u16string& name, const std::u16string& port) {
  winsim::PutDriver(u"User Laser", u"Windows x64", u"lasdrv64.dll", u"lasui64.dll", u"lashelp.chm", winsim::Build(1));
  return winsim::PutPrinter(name, u"User Laser", port);
}
}  // namespace

// A printer of the user's on the product port during an uninstall: the monitor is refused while
// the printer uses its port, the printer moves to "file:", and the monitor goes.
TEST_F(ScenarioTest, UninstallMovesAUsersPrinterOffTheProductPort) {
  ASSERT_EQ(1, Run(u"install"));
  UserPrinter(u"Plotter", kPort);
  winsim::M().desktop.dialog = winsim::DialogState();
  EXPECT_EQ(2, Run(u"uninstall"));
  ExpectGoldenLog("uninstall_users_printer_on_product_port");
  EXPECT_EQ(nullptr, winsim::FindMonitor(kPort));
  const winsim::PrinterEntry* plotter = winsim::FindPrinter(u"Plotter");
  ASSERT_NE(nullptr, plotter);
  EXPECT_EQ(u"file:", plotter->portName);
  EXPECT_EQ(u"User Laser", plotter->driverName);
}

// The same printer during a reinstall over an incompatible monitor (build 2072): moved to
// "file:" while the old monitor goes, and back onto the new monitor's port.
TEST_F(ScenarioTest, ReinstallOverAnIncompatibleMonitorMovesAUsersPrinterAndBack) {
  ASSERT_EQ(1, Run(u"install"));
  MarkInstalledBuild(2072);
  UserPrinter(u"Plotter", kPort);
  winsim::M().desktop.dialog = winsim::DialogState();
  EXPECT_EQ(1, Run(u"install"));
  ExpectGoldenLog("reinstall_incompatible_monitor_users_printer");
  ASSERT_NE(nullptr, winsim::FindMonitor(kPort));
  const winsim::PrinterEntry* plotter = winsim::FindPrinter(u"Plotter");
  ASSERT_NE(nullptr, plotter);
  EXPECT_EQ(kPort, plotter->portName);
  EXPECT_EQ(u"User Laser", plotter->driverName);
}

// The user has a printer named "mblServer" with a driver of its own: the product's printer
// cannot be added (1802, also after the spooler's restart), the user's printer stays as it was.
TEST_F(ScenarioTest, CleanInstallLeavesAUsersPrinterNamedLikeTheProducts) {
  UserPrinter(u"mblServer", u"LPT1:").comment = u"mine";
  EXPECT_EQ(100, Run(u"install"));
  ExpectGoldenLog("install_users_printer_named_mblserver");
  const winsim::PrinterEntry* printer = winsim::FindPrinter(u"mblServer");
  ASSERT_NE(nullptr, printer);
  EXPECT_EQ(u"User Laser", printer->driverName);
  EXPECT_EQ(u"LPT1:", printer->portName);
  EXPECT_EQ(u"mine", printer->comment.value_or(u"(null)"));
  EXPECT_NE(nullptr, winsim::FindMonitor(kPort));
  EXPECT_NE(nullptr, winsim::FindDriver(kDriver, u"Windows x64"));
}

// A reinstall over an incompatible monitor whose new monitor cannot be registered: without it the
// product port does not exist, so no printer can be made again (1796); the journal keeps them for
// the next run.
TEST_F(ScenarioTest, APrinterCannotBeMadeWithoutItsMonitorAndStaysInTheJournal) {
  ASSERT_EQ(1, Run(u"install"));
  MarkInstalledBuild(2072);
  ASSERT_NE(nullptr, winsim::FindPrinter(u"mblServer"));
  winsim::SetPrinterDataString(*winsim::FindPrinter(u"mblServer"), "", "SubKey", "server-key");
  winsim::SetPrinterDataString(winsim::PutPrinter(u"Office", kDriver, kPort), "", "SubKey", "office-key");
  // A module of the right build that is no port monitor: loaded, but without the monitor's entry
  // point (127). A module that is missing or of another build is refused before the run.
  winsim::FailNext("AddMonitorW", 127, 10);
  winsim::M().desktop.dialog = winsim::DialogState();
  EXPECT_EQ(100, Run(u"install"));
  ExpectGoldenLog("install_monitor_not_registered");
  EXPECT_EQ(nullptr, winsim::FindMonitor(kPort));
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"Office"));
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"mblServer"));
  for (const char16_t* name : {u"Office", u"mblServer"})
    EXPECT_NE(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvanel Software KFT\\Marbleleaf\\Saved Printers",
                                           name))
        << Narrow(name);
}

// A clean install on a machine with the user's own printer, the default: the product's printer is
// added beside it, and the default stays the user's choice.
TEST_F(ScenarioTest, FirstInstallationBesideTheUsersDefaultPrinter) {
  UserPrinter(u"Laser", u"LPT1:");
  winsim::M().spooler.defaultPrinter = u"Laser";
  EXPECT_EQ(1, Run(u"install"));
  ExpectGoldenLog("first_install_beside_users_printer");
  EXPECT_EQ(u"Laser", winsim::M().spooler.defaultPrinter);
  EXPECT_NE(nullptr, winsim::FindPrinter(u"mblServer"));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"Laser"));
}
