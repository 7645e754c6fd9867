// The probe verbs answer through the exit code and write no log.
#include <gtest/gtest.h>

#include "probes/probes.h"
#include "scenario_fixture.h"

namespace {
const char16_t* const kDriver = u"Marbleleaf Server";
const char16_t* const kModule = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxui64.dll";

void PendingDeletes(const std::vector<std::u16string>& strings) {
  winsim::SetRegMultiString(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue, strings);
}

void ProductDriverOfBuild(std::optional<winsim::VersionResource> version) {
  winsim::PutMonitor(u"MarbleleafServer:", u"mlxmon64.dll");
  winsim::PutDriver(kDriver, u"Windows x64", u"mlxdrv64.dll", u"mlxui64.dll", u"", version);
}
}  // namespace

using ProbesTest = ScenarioTest;

TEST_F(ProbesTest, PendingProductModulesAnswer200AfterTwoRestarts) {
  winsim::PutFile(u"C:\\WINDOWS\\system32\\spool\\drivers\\X64\\3\\MLXUI64.DLL", "locked");
  winsim::LockFile(u"C:\\WINDOWS\\system32\\spool\\drivers\\X64\\3\\MLXUI64.DLL");
  PendingDeletes({u"\\??\\C:\\WINDOWS\\system32\\spool\\drivers\\X64\\3\\MLXUI64.DLL", u""});
  EXPECT_EQ(200, Run(u"onInit"));
  EXPECT_EQ(2, winsim::Spooler().stops);
  EXPECT_EQ(0, winsim::M().desktop.dialog.shown);
  EXPECT_EQ(0, winsim::CallCount("GetDefaultPrinterW"));  // 200 answers alone

  // The last of several pairs counts too.
  winsim::Reset();
  SetUp();
  winsim::PutFile(u"C:\\tmp\\a.tmp", "a");
  winsim::PutFile(u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll", "locked");
  winsim::LockFile(u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll");
  PendingDeletes({u"\\??\\C:\\tmp\\a.tmp", u"", u"\\??\\C:\\tmp\\b.tmp", u"\\??\\C:\\tmp\\c.tmp",
                  u"\\??\\C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll", u""});
  EXPECT_TRUE(ProbePendingProductFiles());

  // As current Windows writes it: marked, in the second value, behind another program's entry.
  winsim::DeleteRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue);
  winsim::SetRegMultiString(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenames2Value,
                            {u"*1\\??\\C:\\tmp\\a.tmp", u"",
                             u"*1\\??\\C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll", u""});
  EXPECT_EQ(200, Run(u"onInit"));
  EXPECT_TRUE(winsim::FileExists(u"C:\\tmp\\a.tmp"));
}

TEST_F(ProbesTest, PendingEntriesThatAreNotLockedModulesAnswerNo) {
  winsim::PutFile(u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll", "deletable");
  winsim::PutFile(u"C:\\tmp\\new.dll", "n");
  PendingDeletes({u"\\??\\C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll", u"", u"\\??\\C:\\tmp\\new.dll",
                  u"\\??\\C:\\Windows\\system32\\mlxmon64.dll"});
  EXPECT_FALSE(ProbePendingProductFiles());
  EXPECT_FALSE(winsim::FileExists(u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll"));  // deleted by the purge
  EXPECT_TRUE(winsim::FileExists(u"C:\\tmp\\new.dll"));                     // a rename is left alone
  EXPECT_EQ(0, winsim::Spooler().stops);

  // Gone after the first restart: the second pass finds nothing.
  winsim::PutFile(kModule, "held by the spooler");
  winsim::LockFile(kModule, winsim::M().clock.now + 100);
  PendingDeletes({std::u16string(u"\\??\\") + kModule, u""});
  EXPECT_FALSE(ProbePendingProductFiles());
  EXPECT_EQ(1, winsim::Spooler().stops);

  // The companion's file beside the installer's folder is the product's too: its pending delete,
  // left by a run that found it held, is carried out now and taken out, so that the restart after
  // the setup cannot delete the new file laid down in its place.
  winsim::PutFile(kTray, "old companion");
  PendingDeletes({std::u16string(u"\\??\\") + kTray, u""});
  EXPECT_FALSE(ProbePendingProductFiles());
  EXPECT_FALSE(winsim::FileExists(kTray));
  EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));

  // An x86 module alone is never a hit.
  winsim::PutFile(u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86\\3\\mlxui32.dll", "locked");
  winsim::LockFile(u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86\\3\\mlxui32.dll");
  PendingDeletes({u"\\??\\C:\\Windows\\system32\\spool\\DRIVERS\\W32X86\\3\\mlxui32.dll", u""});
  EXPECT_FALSE(ProbePendingProductFiles());
}

TEST_F(ProbesTest, DefaultPrinterQuestion) {
  EXPECT_EQ(102, Run(u"oninit"));  // no default printer
  winsim::PutPrinter(u"Laser", u"Generic Laser", u"LPT1:");
  winsim::PutPrinter(u"Mine", kDriver, u"LPT1:");
  winsim::PutPrinter(u"Near", u"Marbleleaf Server2", u"LPT1:");
  winsim::PutPrinter(u"Small", u"marbleleaf server", u"LPT1:");
  winsim::PutPrinter(u"P", kDriver, u"LPT1:");
  const std::u16string longest(259, u'L');  // with its terminator, the whole buffer
  winsim::PutPrinter(longest, kDriver, u"LPT1:");
  for (const std::u16string& mine : {std::u16string(u"Mine"), std::u16string(u"P"), longest}) {
    winsim::M().spooler.defaultPrinter = mine;
    EXPECT_EQ(3, Run(u"onInit")) << Narrow(mine);
  }
  for (const char16_t* other : {u"Laser", u"Near", u"Small"}) {
    winsim::M().spooler.defaultPrinter = other;
    EXPECT_EQ(102, Run(u"onInit")) << Narrow(other);
  }
  winsim::M().spooler.defaultPrinter = u"Mine";
  winsim::FailNext("GetDefaultPrinterW", 2);
  EXPECT_TRUE(ProbeDefaultPrinterIsOther());
  winsim::FailNext("OpenPrinterW", 1801);
  EXPECT_TRUE(ProbeDefaultPrinterIsOther());
  winsim::FailNext("GetPrinterW", 1722);
  EXPECT_TRUE(ProbeDefaultPrinterIsOther());
  EXPECT_FALSE(ProbeDefaultPrinterIsOther());
}

TEST_F(ProbesTest, DriverIsCurrentFromBuild2073) {
  EXPECT_EQ(3, Run(u"onChkDrv"));  // no product printer
  ProductDriverOfBuild(winsim::Build(2073));
  winsim::PutPrinter(u"Mine", kDriver, u"MarbleleafServer:");
  EXPECT_EQ(103, Run(u"onChkDrv"));
  winsim::FindFile(u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll")->version = winsim::Build(2072);
  EXPECT_EQ(3, Run(u"ONCHKDRV"));
  winsim::FindFile(u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll")->version.reset();
  EXPECT_EQ(3, Run(u"onChkDrv"));
  EXPECT_EQ(0, winsim::M().desktop.dialog.shown);
}

TEST_F(ProbesTest, DriverProbeFailuresAnswerNotCurrent) {
  ProductDriverOfBuild(winsim::Build(2093));
  winsim::PutPrinter(u"Mine", kDriver, u"MarbleleafServer:");
  ASSERT_TRUE(ProbeDriverCurrent());
  for (const char* call : {"OpenPrinterW", "GetPrinterDriverW", "GlobalAlloc", "EnumPrintersW"}) {
    winsim::FailNext(call, call == std::string("GlobalAlloc") ? ERROR_NOT_ENOUGH_MEMORY : 1722);
    EXPECT_FALSE(ProbeDriverCurrent()) << call;
  }
  winsim::FailCall("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 1, winsim::CallCount("GlobalAlloc") + 2);  // the driver block
  EXPECT_FALSE(ProbeDriverCurrent());
  winsim::FailCall("GetPrinterDriverW", 1722, 1, winsim::CallCount("GetPrinterDriverW") + 2);  // the fill fails
  EXPECT_FALSE(ProbeDriverCurrent());
  EXPECT_TRUE(ProbeDriverCurrent());
}

TEST_F(ProbesTest, DefSetMakesTheFirstProductPrinterTheDefault) {
  ProductDriverOfBuild(winsim::Build(2093));
  winsim::PutPrinter(u"Laser", u"Generic Laser", u"LPT1:");
  winsim::PutPrinter(u"First", kDriver, u"MarbleleafServer:");
  winsim::PutPrinter(u"Second", kDriver, u"MarbleleafServer:");
  winsim::M().spooler.defaultPrinter = u"Laser";
  winsim::FailNext("SetDefaultPrinterW", 1801);
  EXPECT_EQ(4, Run(u"def.set"));
  EXPECT_EQ(u"Laser", winsim::M().spooler.defaultPrinter);
  EXPECT_EQ(4, Run(u"def.set"));
  EXPECT_EQ(u"First", winsim::M().spooler.defaultPrinter);
  EXPECT_EQ(6, Run(u"Def.Set"));
}

// A connection listed before this machine's product printer is another machine's queue: the probes
// neither wait on its server nor make it the default.
TEST_F(ProbesTest, ProbesPassOverConnectionsToThisMachinesProductPrinter) {
  ProductDriverOfBuild(winsim::Build(2093));
  winsim::PutServerQueue(u"\\\\LAPTOPHOST", u"Roaming", kDriver, u"MarbleleafServer:");
  winsim::PutConnection(u"\\\\LAPTOPHOST\\Roaming");
  winsim::PutPrintServer(u"\\\\LAPTOPHOST").reachable = false;
  winsim::PutPrinter(u"Laser", u"Generic Laser", u"LPT1:");
  winsim::M().spooler.defaultPrinter = u"Laser";
  EXPECT_EQ(3, Run(u"onChkDrv"));  // no product printer of this machine
  EXPECT_EQ(4, Run(u"def.set"));
  EXPECT_EQ(u"Laser", winsim::M().spooler.defaultPrinter);

  winsim::PutPrinter(u"Mine", kDriver, u"MarbleleafServer:");
  const uint64_t before = winsim::M().clock.now;
  EXPECT_EQ(103, Run(u"onChkDrv"));
  EXPECT_EQ(4, Run(u"def.set"));
  EXPECT_EQ(u"Mine", winsim::M().spooler.defaultPrinter);
  EXPECT_EQ(before, winsim::M().clock.now);  // no call waited on the server
  EXPECT_EQ(1, winsim::CallCount("OpenPrinterW"));
  ASSERT_EQ(1u, winsim::M().spooler.opened.size());
  EXPECT_EQ(u"Mine", winsim::M().spooler.opened[0].printer);
}
