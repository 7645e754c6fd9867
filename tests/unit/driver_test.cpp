// The driver environment, adding the product driver and deleting it.
#include <cstring>

#include "app/product.h"
#include "driver/driver_install.h"
#include "driver/driver_removal.h"
#include "driver/platform.h"
#include "spooler_step_fixture.h"

using winsim::FileExists;
using winsim::M;

namespace {
std::u16string Dir(const char16_t* folder, const char16_t* file) { return std::u16string(folder) + file; }

class DriverStepTest : public SpoolerStepTest {
 protected:
  // The copy lines of one staged file, as the file copy logs them inside ">Add Printer Driver".
  static Lines CopyLines(const std::string& file, const std::string& folder, bool ok) {
    return {"  >CopyFile " + file + " to " + folder + " [1])", ok ? "    Copy Succeeded :)" : "    Copy Failed :("};
  }
  static Lines Concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  }
  const std::string x64Dir = Narrow(kX64Dir);
};

TEST_F(DriverStepTest, StartSelectsX64AndSwitchingRequeriesTheFolder) {
  Start();
  EXPECT_TRUE(state.isX64);
  EXPECT_EQ(Narrow(state.environment), "Windows x64");
  EXPECT_EQ(Narrow(Text(state.driverDir)), Narrow(kX64Dir));

  SelectPlatform(&state, !state.isX64);
  EXPECT_FALSE(state.isX64);
  EXPECT_EQ(Narrow(state.environment), "Windows NT x86");
  EXPECT_EQ(Narrow(state.monitorFile), "mlxmon32.dll");
  EXPECT_EQ(Narrow(state.driverFile), "mlxdrv32.dll");
  EXPECT_EQ(Narrow(state.uiFile), "mlxui32.dll");
  EXPECT_EQ(Narrow(state.helpFile), "mlxhelp.chm");
  EXPECT_EQ(Narrow(Text(state.driverDir)), Narrow(kX86Dir));

  SelectPlatform(&state, !state.isX64);
  EXPECT_EQ(Narrow(state.environment), "Windows x64");
  EXPECT_EQ(Narrow(state.monitorFile), "mlxmon64.dll");
  EXPECT_EQ(Narrow(state.driverFile), "mlxdrv64.dll");
  EXPECT_EQ(Narrow(state.uiFile), "mlxui64.dll");
  EXPECT_EQ(Narrow(Text(state.driverDir)), Narrow(kX64Dir));
  EXPECT_EQ(winsim::CallCount("GetPrinterDriverDirectoryW"), 6);  // size and fill, three times
  EXPECT_TRUE(NewLines().empty());
  EXPECT_EQ(state.errorCount, 0);
}

TEST_F(DriverStepTest, AFolderEndingWithABackslashGetsNoSecondOne) {
  winsim::FindEnvironment(u"Windows NT x86")->driverDir = u"D:\\drivers\\x86\\";
  Start();
  SelectPlatform(&state, false);
  EXPECT_EQ(Narrow(Text(state.driverDir)), "D:\\drivers\\x86\\");
}

TEST_F(DriverStepTest, AFailedFolderQuerySwitchesTheNamesAndKeepsTheOldFolder) {
  Start();
  FailNext("GetPrinterDriverDirectoryW", RPC_S_SERVER_UNAVAILABLE);  // the size query
  SelectPlatform(&state, false);
  EXPECT_EQ(Narrow(state.environment), "Windows NT x86");
  EXPECT_EQ(Narrow(state.driverFile), "mlxdrv32.dll");
  EXPECT_EQ(Narrow(state.helpFile), "mlxhelp.chm");
  EXPECT_EQ(Narrow(Text(state.driverDir)), Narrow(kX64Dir));
  EXPECT_EQ(NewLines(), Lines({"Error(6): Can`t retrieve printer driver directory. - (The RPC server is unavailable.)"}));

  Mark();
  FailNext("GetPrinterDriverDirectoryW", ERROR_ACCESS_DENIED, 1, 1);  // the fill
  SelectPlatform(&state, true);
  EXPECT_EQ(Narrow(state.environment), "Windows x64");
  EXPECT_EQ(Narrow(Text(state.driverDir)), Narrow(kX64Dir));  // still the folder it had
  EXPECT_EQ(NewLines(), Lines({"Error(6): Can`t retrieve printer driver directory. - (Access is denied.)"}));
  EXPECT_EQ(state.errorCount, 2);
}

TEST_F(DriverStepTest, AFolderQueryFailingAtStartLeavesTheFolderEmpty) {
  FailNext("GetPrinterDriverDirectoryW", RPC_S_SERVER_UNAVAILABLE);
  Start();
  EXPECT_EQ(Length(state.driverDir), 0u);
  EXPECT_EQ(Narrow(state.environment), "Windows x64");
  EXPECT_NE(Narrow(Text(state.logText)).find("Error(6): Can`t retrieve printer driver directory."), std::string::npos);
}

TEST_F(DriverStepTest, InstallDriverStagesAddsAndCleansUp) {
  // A store file newer than ours (a later build installed before) is replaced all the same.
  winsim::PutFile(Dir(kX64Dir, u"3\\mlxdrv64.dll"), "later module", winsim::Build(2100));
  Start();
  InstallDriver(&state);
  EXPECT_EQ(NewLines(), Concat({{">Add Printer Driver"}, CopyLines("mlxdrv64.dll", x64Dir, true),
                                CopyLines("mlxui64.dll", x64Dir, true), CopyLines("mlxhelp.chm", x64Dir, true),
                                {"  OK :)"}}));
  EXPECT_EQ(state.errorCount, 0);
  const winsim::DriverEntry* driver = winsim::FindDriver(u"Marbleleaf Server", u"Windows x64");
  ASSERT_NE(driver, nullptr);
  EXPECT_EQ(driver->version, 3u);
  EXPECT_EQ(driver->dataFile, driver->driverPath);
  EXPECT_EQ(Narrow(driver->driverPath), x64Dir + "3\\mlxdrv64.dll");
  EXPECT_EQ(Narrow(driver->configFile), x64Dir + "3\\mlxui64.dll");
  EXPECT_EQ(Narrow(driver->helpFile), x64Dir + "3\\mlxhelp.chm");
  EXPECT_EQ(Narrow(driver->mfgName.value_or(u"")), "Orvanel Software Kft.");
  EXPECT_EQ(Narrow(driver->provider.value_or(u"")), "Orvanel Software Kft.");
  EXPECT_TRUE(driver->oemUrl.has_value());
  for (const char16_t* file : {u"mlxdrv64.dll", u"mlxui64.dll", u"mlxhelp.chm"}) {
    EXPECT_FALSE(FileExists(Dir(kX64Dir, file))) << Narrow(file) << " left staged";
    EXPECT_TRUE(FileExists(Dir(kX64Dir, u"3\\") + file)) << Narrow(file) << " not in the store";
  }
  EXPECT_EQ(winsim::FindFile(Dir(kX64Dir, u"3\\mlxdrv64.dll"))->version->build, 2093);
  EXPECT_EQ(state.depth, 0);
}

TEST_F(DriverStepTest, TheOtherEnvironmentIsInstalledAndTheFirstRestored) {
  Start();
  SelectPlatform(&state, !state.isX64);
  InstallDriver(&state);
  SelectPlatform(&state, !state.isX64);
  EXPECT_EQ(state.errorCount, 0);
  const winsim::DriverEntry* driver = winsim::FindDriver(u"Marbleleaf Server", u"Windows NT x86");
  ASSERT_NE(driver, nullptr);
  EXPECT_EQ(Narrow(driver->driverPath), Narrow(kX86Dir) + "3\\mlxdrv32.dll");
  EXPECT_EQ(winsim::FindDriver(u"Marbleleaf Server", u"Windows x64"), nullptr);
  EXPECT_EQ(Narrow(state.environment), "Windows x64");
  EXPECT_EQ(Narrow(Text(state.driverDir)), x64Dir);
}

TEST_F(DriverStepTest, AMissingHelpFileAddsTheDriverWithoutHelp) {
  winsim::RemoveFile(Dir(kSetupDir, u"mlxhelp.chm"));
  Start();
  InstallDriver(&state);
  EXPECT_EQ(NewLines(),
            Concat({{">Add Printer Driver"}, CopyLines("mlxdrv64.dll", x64Dir, true),
                    CopyLines("mlxui64.dll", x64Dir, true),
                    {"  >CopyFile mlxhelp.chm to " + x64Dir + " [1])",
                     "    Error(10): Cant't open source file: mlxhelp.chm - (The system cannot find the file specified.)",
                     "    Copy Failed :(", "  OK :)"}}));
  EXPECT_EQ(state.errorCount, 1);
  const winsim::DriverEntry* driver = winsim::FindDriver(u"Marbleleaf Server", u"Windows x64");
  ASSERT_NE(driver, nullptr);
  EXPECT_TRUE(driver->helpFile.empty());
  EXPECT_EQ(state.deferredDeletes, nullptr);  // the empty help path is never deferred
}

TEST_F(DriverStepTest, AMissingUiModuleLeavesTheDriverModuleStagedAndDeletesNothing) {
  winsim::RemoveFile(Dir(kSetupDir, u"mlxui64.dll"));
  Start();
  InstallDriver(&state);
  EXPECT_EQ(NewLines(), Concat({{">Add Printer Driver"}, CopyLines("mlxdrv64.dll", x64Dir, true),
                                {"  >CopyFile mlxui64.dll to " + x64Dir + " [1])",
                                 "    Error(10): Cant't open source file: mlxui64.dll - (The system cannot find the file "
                                 "specified.)",
                                 "    Copy Failed :("}}));
  EXPECT_TRUE(FileExists(Dir(kX64Dir, u"mlxdrv64.dll")));
  EXPECT_EQ(winsim::CallCount("DeleteFileW"), 0);
  EXPECT_EQ(winsim::CallCount("AddPrinterDriverExW"), 0);
  EXPECT_EQ(state.depth, 0);
}

TEST_F(DriverStepTest, AMissingDriverModuleStopsBeforeAnythingElse) {
  winsim::RemoveFile(Dir(kSetupDir, u"mlxdrv64.dll"));
  Start();
  InstallDriver(&state);
  EXPECT_EQ(NewLines().size(), 4u);
  EXPECT_EQ(winsim::CallCount("AddPrinterDriverExW"), 0);
  EXPECT_FALSE(FileExists(Dir(kX64Dir, u"mlxui64.dll")));
}

TEST_F(DriverStepTest, ARefusedDriverIsErrorThirteenAndTheStagedFilesStillGo) {
  Start();
  FailNext("AddPrinterDriverExW", ERROR_ACCESS_DENIED);
  InstallDriver(&state);
  const Lines lines = NewLines();
  EXPECT_EQ(lines.back(), "  Error(13): Can`t install a printer driver 'Marbleleaf Server' - (Access is denied.)");
  EXPECT_EQ(state.errorCount, 1);
  EXPECT_EQ(winsim::FindDriver(u"Marbleleaf Server", u"Windows x64"), nullptr);
  for (const char16_t* file : {u"mlxdrv64.dll", u"mlxui64.dll", u"mlxhelp.chm"})
    EXPECT_FALSE(FileExists(Dir(kX64Dir, file)));
}

TEST_F(DriverStepTest, StagedFilesThatCantBeDeletedAreDeferredButNeverAnEmptyPath) {
  winsim::RemoveFile(Dir(kSetupDir, u"mlxhelp.chm"));
  Start();
  FailNext("DeleteFileW", ERROR_ACCESS_DENIED, -1);
  InstallDriver(&state);
  EXPECT_EQ(winsim::CallCount("DeleteFileW"), 3);  // the empty help path is tried, not deferred
  std::vector<std::string> deferred;
  for (DeferredDelete* node = state.deferredDeletes; node; node = node->next) deferred.push_back(Narrow(node->path));
  EXPECT_EQ(deferred, Lines({x64Dir + "mlxui64.dll", x64Dir + "mlxdrv64.dll"}));  // newest first
}

TEST_F(DriverStepTest, WithoutADriverFolderTheFilesAreStagedUnderTheirBareNames) {
  FailNext("GetPrinterDriverDirectoryW", RPC_S_SERVER_UNAVAILABLE);
  Start();
  InstallDriver(&state);
  EXPECT_EQ(NewLines()[1], "  >CopyFile mlxdrv64.dll to  [1])");
}

// ---- inventory and removal

// A driver inventory of `level` over the given names, built as the spooler would (records first).
struct HandMadeInventory {
  std::vector<uint8_t> block;
  std::vector<std::u16string> names;
  DriverInventory inventory{};
  template <typename Record>
  void Build(DWORD level, const std::vector<const char16_t*>& list) {
    names.clear();
    for (const char16_t* name : list) names.push_back(name ? name : u"");
    block.assign(sizeof(Record) * list.size(), 0);
    Record* records = reinterpret_cast<Record*>(block.data());
    for (size_t i = 0; i < list.size(); ++i)
      records[i].pName = list[i] ? const_cast<LPWSTR>(names[i].c_str()) : nullptr;
    inventory = {block.data(), level, static_cast<DWORD>(list.size())};
  }
};

TEST(DriverInventoryTest, TheProductDriverIsFoundAtEveryLevelByItsExactName) {
  const std::vector<const char16_t*> names = {u"marbleleaf server", nullptr, u"Marbleleaf Server2", u"Marbleleaf Server",
                                              u"Marbleleaf Server"};
  HandMadeInventory hand;
  hand.Build<DRIVER_INFO_1W>(1, names);
  EXPECT_EQ(FindProductDriver(&hand.inventory), 3);
  hand.Build<DRIVER_INFO_2W>(2, names);
  EXPECT_EQ(FindProductDriver(&hand.inventory), 3);
  hand.Build<DRIVER_INFO_3W>(3, names);
  EXPECT_EQ(FindProductDriver(&hand.inventory), 3);
  hand.Build<DRIVER_INFO_4W>(4, names);
  EXPECT_EQ(FindProductDriver(&hand.inventory), 3);
  hand.Build<DRIVER_INFO_5W>(5, names);
  EXPECT_EQ(FindProductDriver(&hand.inventory), 3);
  hand.Build<DRIVER_INFO_6W>(6, names);
  EXPECT_EQ(FindProductDriver(&hand.inventory), 3);
  hand.inventory.level = 7;
  EXPECT_EQ(FindProductDriver(&hand.inventory), -1);
  hand.Build<DRIVER_INFO_6W>(6, {u"Marbleleaf Server"});
  hand.inventory.count = 0;
  EXPECT_EQ(FindProductDriver(&hand.inventory), -1);
  hand.Build<DRIVER_INFO_6W>(6, {u"Marbleleaf", u"MARBLELEAF SERVER", u"Marbleleaf Server "});
  EXPECT_EQ(FindProductDriver(&hand.inventory), -1);
}

TEST_F(DriverStepTest, EnumerationListsTheEnvironmentsDrivers) {
  winsim::PutDriver(u"Other One", u"Windows x64", u"o1.dll", u"o1ui.dll");
  winsim::PutDriver(u"Other Two", u"Windows x64", u"o2.dll", u"o2ui.dll");
  winsim::PutDriver(u"Marbleleaf Server", u"Windows x64", u"mlxdrv64.dll", u"mlxui64.dll");
  winsim::PutDriver(u"Marbleleaf Server", u"Windows NT x86", u"mlxdrv32.dll", u"mlxui32.dll");
  DriverInventory inventory;
  EnumerateDrivers(&inventory, TEXT("Windows x64"));
  EXPECT_EQ(inventory.level, 6u);
  ASSERT_EQ(inventory.count, 3u);
  EXPECT_EQ(FindProductDriver(&inventory), 2);
  GlobalFree(inventory.buffer);

  EnumerateDrivers(&inventory, TEXT("Windows NT x86"));
  EXPECT_EQ(inventory.count, 1u);
  EXPECT_EQ(FindProductDriver(&inventory), 0);
  GlobalFree(inventory.buffer);
}

TEST_F(DriverStepTest, FailedEnumerationsLeaveAnEmptyInventory) {
  winsim::PutDriver(u"Marbleleaf Server", u"Windows x64", u"mlxdrv64.dll", u"mlxui64.dll");
  DriverInventory inventory;
  FailNext("EnumPrinterDriversW", RPC_S_SERVER_UNAVAILABLE);  // the size query
  EnumerateDrivers(&inventory, TEXT("Windows x64"));
  EXPECT_EQ(inventory.buffer, nullptr);
  EXPECT_EQ(inventory.count, 0u);

  FailNext("EnumPrinterDriversW", RPC_S_SERVER_UNAVAILABLE, 1, 1);  // the fill
  EnumerateDrivers(&inventory, TEXT("Windows x64"));
  EXPECT_EQ(inventory.buffer, nullptr);
  EXPECT_EQ(inventory.count, 0u);

  FailNext("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
  EnumerateDrivers(&inventory, TEXT("Windows x64"));
  EXPECT_EQ(inventory.buffer, nullptr);
  EXPECT_EQ(inventory.count, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_OUTOFMEMORY));
  EXPECT_EQ(M().globalBlocks, 0);
}

TEST_F(DriverStepTest, RemovingFromAnEmptyInventoryLogsThreeLines) {
  Start();
  DriverInventory inventory;
  EnumerateDrivers(&inventory, state.environment);
  RemoveDriver(&state, &inventory);
  EXPECT_EQ(NewLines(), Lines({">DeletePrinterDriver for Windows x64",
                               "  BTW, there is no printer drivers on this system.", "  No Marbleleaf driver was found"}));
  EXPECT_EQ(winsim::CallCount("DeletePrinterDriverExW"), 0);

  DRIVER_INFO_2W nameless[1] = {};
  const DriverInventory unnamed = {reinterpret_cast<LPBYTE>(nameless), 2, 1};
  Mark();
  RemoveDriver(&state, &unnamed);
  EXPECT_EQ(NewLines(), Lines({">DeletePrinterDriver for Windows x64", "  ------------ 1 existing drivers-----------",
                               "  1. ***EMPTY***", "  -------------------------------------------",
                               "  No Marbleleaf driver was found"}));
}

TEST_F(DriverStepTest, TheThirdDriverIsListedFoundAndDeletedWithItsFiles) {
  winsim::PutDriver(u"Other One", u"Windows x64", u"o1.dll", u"o1ui.dll");
  winsim::PutDriver(u"Marbleleaf Server Plus", u"Windows x64", u"o2.dll", u"o2ui.dll");
  winsim::PutDriver(u"Marbleleaf Server", u"Windows x64", u"mlxdrv64.dll", u"mlxui64.dll", u"mlxhelp.chm");
  Start();
  DriverInventory inventory;
  EnumerateDrivers(&inventory, state.environment);
  RemoveDriver(&state, &inventory);
  GlobalFree(inventory.buffer);
  EXPECT_EQ(NewLines(), Lines({">DeletePrinterDriver for Windows x64", "  ------------ 3 existing drivers-----------",
                               "  1. Other One", "  2. Marbleleaf Server Plus", "  3. Marbleleaf Server",
                               "  -------------------------------------------", "  Driver is found. Index=3",
                               "  OK :)"}));
  EXPECT_EQ(winsim::FindDriver(u"Marbleleaf Server", u"Windows x64"), nullptr);
  EXPECT_FALSE(FileExists(Dir(kX64Dir, u"3\\mlxdrv64.dll")));
  EXPECT_NE(winsim::FindDriver(u"Marbleleaf Server Plus", u"Windows x64"), nullptr);
}

TEST_F(DriverStepTest, ARefusedDeletionIsRetriedOnceAfterASpoolerRestart) {
  winsim::PutDriver(u"Marbleleaf Server", u"Windows x64", u"mlxdrv64.dll", u"mlxui64.dll");
  Start();
  DriverInventory inventory;
  EnumerateDrivers(&inventory, state.environment);
  FailNext("DeletePrinterDriverExW", ERROR_PRINTER_DRIVER_IN_USE);
  RemoveDriver(&state, &inventory);
  GlobalFree(inventory.buffer);
  const Lines lines = NewLines();
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[4], "  Driver is found. Index=1");
  EXPECT_EQ(lines[5], "  Can't delete driver. Trying to restart spooler");
  EXPECT_EQ(lines[6], "  >Restart Spooler");
  EXPECT_EQ(lines.back(), "  OK :)");
  EXPECT_EQ(state.errorCount, 0);
  EXPECT_EQ(winsim::CallCount("DeletePrinterDriverExW"), 2);
  EXPECT_EQ(winsim::FindDriver(u"Marbleleaf Server", u"Windows x64"), nullptr);
  EXPECT_TRUE(winsim::SpoolerRunning());
}

TEST_F(DriverStepTest, ADeletionRefusedTwiceIsErrorFourteen) {
  winsim::PutDriver(u"Marbleleaf Server", u"Windows x64", u"mlxdrv64.dll", u"mlxui64.dll");
  Start();
  DriverInventory inventory;
  EnumerateDrivers(&inventory, state.environment);
  FailNext("DeletePrinterDriverExW", ERROR_PRINTER_DRIVER_IN_USE, 2);
  RemoveDriver(&state, &inventory);
  GlobalFree(inventory.buffer);
  EXPECT_EQ(NewLines().back(),
            "  Error(14): Can`t remove the printer-driver 'Marbleleaf Server' - (The specified printer driver is "
            "currently in use.)");
  EXPECT_EQ(state.errorCount, 1);
  EXPECT_EQ(state.depth, 0);
  EXPECT_EQ(winsim::CallCount("DeletePrinterDriverExW"), 2);
  EXPECT_NE(winsim::FindDriver(u"Marbleleaf Server", u"Windows x64"), nullptr);
}

// A file that another driver names too makes the spooler keep the whole driver.
TEST_F(DriverStepTest, ADriverSharingAFileWithAnotherIsKept) {
  winsim::PutDriver(u"Marbleleaf Server", u"Windows x64", u"mlxdrv64.dll", u"mlxui64.dll", u"mlxhelp.chm");
  winsim::PutDriver(u"Other One", u"Windows x64", u"o1.dll", u"o1ui.dll", u"mlxhelp.chm");
  Start();
  DriverInventory inventory;
  EnumerateDrivers(&inventory, state.environment);
  RemoveDriver(&state, &inventory);
  GlobalFree(inventory.buffer);
  EXPECT_EQ(NewLines().back(),
            "  Error(14): Can`t remove the printer-driver 'Marbleleaf Server' - (The specified printer driver is "
            "currently in use.)");
  EXPECT_NE(winsim::FindDriver(u"Marbleleaf Server", u"Windows x64"), nullptr);
  EXPECT_TRUE(FileExists(Dir(kX64Dir, u"3\\mlxdrv64.dll")));
}

TEST_F(DriverStepTest, TheDeletionUsesTheSelectedEnvironmentNotTheInventorys) {
  winsim::PutDriver(u"Marbleleaf Server", u"Windows x64", u"mlxdrv64.dll", u"mlxui64.dll");
  winsim::PutDriver(u"Marbleleaf Server", u"Windows NT x86", u"mlxdrv32.dll", u"mlxui32.dll");
  Start();
  DriverInventory inventory;
  EnumerateDrivers(&inventory, TEXT("Windows x64"));
  SelectPlatform(&state, false);
  RemoveDriver(&state, &inventory);
  GlobalFree(inventory.buffer);
  EXPECT_EQ(NewLines().front(), ">DeletePrinterDriver for Windows NT x86");
  EXPECT_EQ(winsim::FindDriver(u"Marbleleaf Server", u"Windows NT x86"), nullptr);
  EXPECT_NE(winsim::FindDriver(u"Marbleleaf Server", u"Windows x64"), nullptr);
}
}  // namespace
