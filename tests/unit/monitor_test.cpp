// The port monitor: inventory, removal with its build check and printer switching, installation.
#include <algorithm>
#include <cstring>
#include <memory>

#include "app/product.h"
#include "monitor/monitor_install.h"
#include "monitor/monitor_inventory.h"
#include "monitor/monitor_removal.h"
#include "monitor/port_switch.h"
#include "spooler_step_fixture.h"
#include "support/size_then_fill.h"
#include "system/deferred_deletes.h"

using winsim::FileExists;
using winsim::M;

namespace {
// ---- port texts

// A port text in a heap block of exactly its own room, so that any write beyond it is caught.
struct PortText {
  explicit PortText(const std::u16string& text) : room(text.size() + 1), units(new char16_t[text.size() + 1]) {
    std::memcpy(units.get(), text.c_str(), room * sizeof(char16_t));
  }
  std::string str() const { return Narrow(units.get()); }
  size_t room;
  std::unique_ptr<char16_t[]> units;
};

TEST(PortTextTest, TheProductPortBecomesFileAndComesBackWhereItWas) {
  struct Case {
    const char16_t* port;
    const char* switched;
    DWORD offset;
  };
  for (const Case& c : {Case{u"MarbleleafServer:", "file:", 0}, Case{u"LPT1:,MarbleleafServer:", "LPT1:,file:", 6},
                        Case{u"MarbleleafServer:,LPT1:", "file:,LPT1:", 0},
                        Case{u"MarbleleafServer:,MarbleleafServer:", "file:,MarbleleafServer:", 0},
                        Case{u"file:,MarbleleafServer:", "file:,file:", 6},
                        // Compared as the spooler compares port names; the way back keeps the spelling.
                        Case{u"marbleleafserver:", "file:", 0}, Case{u"LPT1:, MARBLELEAFSERVER: ,COM1:", "LPT1:, file: ,COM1:", 7},
                        Case{u"MarbleleafServer:2,MarbleleafServer:", "MarbleleafServer:2,file:", 19}}) {
    PortText text(c.port);
    RepointedPort switched = {99, 99, {0}};
    ASSERT_TRUE(SwitchPortToFile(text.units.get(), &switched)) << Narrow(c.port);
    EXPECT_EQ(text.str(), c.switched);
    EXPECT_EQ(switched.offset, c.offset);
    EXPECT_EQ(switched.room, text.room);
    ASSERT_TRUE(SwitchPortBack(text.units.get(), switched)) << Narrow(c.port);
    EXPECT_EQ(text.str(), Narrow(c.port));
    // A second way back would need room that the text no longer has.
    EXPECT_FALSE(SwitchPortBack(text.units.get(), switched));
    EXPECT_EQ(text.str(), Narrow(c.port));
  }
}

// Only a whole element of the list is a port: names that merely contain the product's are other ports.
TEST(PortTextTest, TextsWithoutTheProductPortStayAsTheyAre) {
  for (const char16_t* port : {u"", u"LPT1:", u"MarbleleafServer", u"file:", u"MarbleleafServe:", u"MarbleleafServer:2",
                               u"XMarbleleafServer:Y", u"XMarbleleafServer:", u"LPT1:MarbleleafServer:",
                               u"MarbleleafServer::", u",", u"MarbleleafServer:;LPT1:", u"Marbleleaf Server:"}) {
    PortText text(port);
    RepointedPort switched = {7, 7, {0}};
    EXPECT_FALSE(SwitchPortToFile(text.units.get(), &switched));
    EXPECT_EQ(text.str(), Narrow(port));
    EXPECT_EQ(switched.offset, 7u);
  }
  RepointedPort switched{};
  EXPECT_FALSE(SwitchPortToFile(nullptr, &switched));
  EXPECT_FALSE(SwitchPortBack(nullptr, RepointedPort{0, 100, {0}}));
}

TEST(PortTextTest, TheWayBackWritesOnlyWhereFileStillIsAndTheRoomAllows) {
  // Another text in the record now, or "file:" elsewhere than it was put: left alone.
  for (const char16_t* port : {u"LPT1:", u"LPT1:,COM1:", u"fil", u"File:"}) {
    std::u16string padded = port;
    PortText text(padded + std::u16string(12, u' '));
    text.units[padded.size()] = 0;
    EXPECT_FALSE(SwitchPortBack(text.units.get(), RepointedPort{0, static_cast<DWORD>(text.room), {0}})) << Narrow(port);
    EXPECT_EQ(text.str(), Narrow(port));
  }
  PortText moved(u"LPT1:,file:");
  EXPECT_FALSE(SwitchPortBack(moved.units.get(), RepointedPort{0, 100, {0}}));
  EXPECT_FALSE(SwitchPortBack(moved.units.get(), RepointedPort{9, 100, {0}}));  // beyond the text's end
  // A room one unit short of the grown text: nothing is written.
  PortText tight(u"file:");
  EXPECT_FALSE(SwitchPortBack(tight.units.get(), RepointedPort{0, 17, {0}}));
  EXPECT_FALSE(SwitchPortBack(tight.units.get(), RepointedPort{0, 0, {0}}));
  EXPECT_EQ(tight.str(), "file:");
}

TEST(PortTextTest, AMaximumLengthListRoundTripsWithinItsOwnBlock) {
  std::u16string list;
  while (list.size() < 32000) list += u"LPT1:,";
  list += u"MarbleleafServer:";
  while (list.size() < 65000) list += u",COM1:";
  PortText text(list);
  RepointedPort switched{};
  ASSERT_TRUE(SwitchPortToFile(text.units.get(), &switched));
  ASSERT_TRUE(SwitchPortBack(text.units.get(), switched));
  EXPECT_TRUE(std::u16string(text.units.get()) == list);
}

// ---- inventory

class MonitorStepTest : public SpoolerStepTest {
 protected:
  const std::string systemDir = Narrow(kSystemDir);
  std::u16string Module(const char16_t* file = u"mlxmon64.dll") { return std::u16string(kSystemDir) + file; }

  // The product's monitor as an earlier installation left it, with the module of that build.
  void PutProductMonitor(std::optional<winsim::VersionResource> version = winsim::Build(2093)) {
    winsim::PutMonitor(u"MarbleleafServer:", u"mlxmon64.dll", version);
  }
  MonitorInventory TakeInventory() {
    MonitorInventory inventory;
    EnumerateMonitors(&inventory, &state);
    return inventory;
  }
  void TearDown() override {
    if (inventory_.buffer) GlobalFree(inventory_.buffer);
    inventory_ = {};
    SpoolerStepTest::TearDown();
  }
  // Starts the state, takes the monitor inventory and removes the monitor.
  void StartAndRemove(bool checkVersion = false) {
    Start();
    inventory_ = TakeInventory();
    state.checkMonitorVersion = checkVersion;
    Mark();
    RemoveMonitor(&state, &inventory_);
  }
  std::string PortOf(const char16_t* printer) {
    const winsim::PrinterEntry* entry = winsim::FindPrinter(printer);
    return entry ? Narrow(entry->portName) : "(gone)";
  }
  // A printer as its owner would compare it, and whether it was ever opened here.
  static std::string Describe(const char16_t* printer) {
    const winsim::PrinterEntry* entry = winsim::FindPrinter(printer);
    if (!entry) return "(gone)";
    int opened = 0;
    for (const winsim::PrinterHandle& handle : M().spooler.opened)
      if (handle.printer == entry->name) ++opened;
    return Narrow(entry->portName) + "|" + Narrow(entry->driverName) + "|" + std::to_string(entry->attributes) +
           "|opened " + std::to_string(opened);
  }
  std::vector<std::string> Repointed() const {
    std::vector<std::string> names;
    for (int i = 0; state.repointedPrinters && state.repointedPrinters[i].record; ++i)
      names.push_back(Narrow(state.repointedPrinters[i].record->pPrinterName) + "=" +
                      Narrow(state.repointedPrinters[i].record->pPortName));
    return names;
  }
  static Lines DefaultList() {
    return {"  ------- 3 existing monitors ----------", "  1. Local Port", "  2. Standard TCP/IP Port",
            "  3. MarbleleafServer:", "  ---------------------------------------"};
  }
  static Lines Concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  }

  void SetUp() override {
    SpoolerStepTest::SetUp();
    winsim::PutDriver(u"Marbleleaf Server", u"Windows x64", u"mlxdrv64.dll", u"mlxui64.dll");
    winsim::PutDriver(u"Other", u"Windows x64", u"other.dll", u"otherui.dll");
  }
  // A monitor record as the spooler may hold it, whatever its module name says.
  static void PutMonitorRecord(const char16_t* name, const char16_t* dllName) {
    M().spooler.monitors.push_back({name, u"Windows x64", dllName, {name}});
  }

  MonitorInventory inventory_{};
};

TEST_F(MonitorStepTest, EnumerationTakesEveryMonitorSilently) {
  PutProductMonitor();
  Start();
  inventory_ = TakeInventory();
  EXPECT_EQ(inventory_.level, 2u);
  EXPECT_EQ(inventory_.count, 3u);
  EXPECT_EQ(FindProductMonitor(&inventory_), 2);
  EXPECT_TRUE(NewLines().empty());
}

TEST_F(MonitorStepTest, EnumerationFailuresLogTheSystemTextWithItsLineBreak) {
  Start();
  FailNext("EnumMonitorsW", RPC_S_SERVER_UNAVAILABLE);
  inventory_ = TakeInventory();
  EXPECT_EQ(inventory_.buffer, nullptr);
  EXPECT_EQ(inventory_.count, 0u);
  EXPECT_EQ(NewText(), "2. EnumMonitors  failed with code: The RPC server is unavailable.\r\n\r\n");

  Mark();
  FailNext("EnumMonitorsW", ERROR_ACCESS_DENIED, 1, 1);  // the fill
  inventory_ = TakeInventory();
  EXPECT_EQ(inventory_.buffer, nullptr);
  EXPECT_EQ(inventory_.count, 0u);
  EXPECT_EQ(NewText(), "3. EnumMonitors  failed with code: Access is denied.\r\n\r\n");

  Mark();
  FailNext("EnumMonitorsW", 0x2345);  // a code Windows has no text for
  inventory_ = TakeInventory();
  EXPECT_EQ(NewText(), "2. EnumMonitors  failed with code: No Error or no description\r\n");

  Mark();
  FailNext("EnumMonitorsW", RPC_S_SERVER_UNAVAILABLE);
  FailNext("FormatMessageW", ERROR_NOT_ENOUGH_MEMORY);
  inventory_ = TakeInventory();
  EXPECT_EQ(NewText(), "2. EnumMonitors  failed with code: No Error or no description\r\n");

  Mark();
  FailNext("EnumMonitorsW", ERROR_BAD_EXE_FORMAT);  // a text with an insert, taken as it is
  inventory_ = TakeInventory();
  EXPECT_EQ(NewText(), "2. EnumMonitors  failed with code: %1 is not a valid Win32 application.\r\n\r\n");

  Mark();  // a Windows without English texts
  M().messageLanguage = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
  FailNext("EnumMonitorsW", ERROR_ACCESS_DENIED);
  inventory_ = TakeInventory();
  EXPECT_EQ(NewText(), "2. EnumMonitors  failed with code: No Error or no description\r\n");

  Mark();
  FailNext("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
  inventory_ = TakeInventory();
  EXPECT_EQ(inventory_.buffer, nullptr);
  EXPECT_EQ(NewText(), "3. EnumMonitors - can't allocate memory for buffer\r\n");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_OUTOFMEMORY));
  EXPECT_EQ(state.errorCount, 0);
  EXPECT_EQ(M().localBlocks, 0);
}

TEST_F(MonitorStepTest, AnEnumerationWithNothingToListSaysSo) {
  M().spooler.monitors.clear();
  Start();
  inventory_ = TakeInventory();
  EXPECT_EQ(inventory_.count, 0u);
  EXPECT_EQ(NewLines(), Lines({"1. EnumMonitors returns true"}));
  Mark();
  ListMonitors(&state, &inventory_);
  EXPECT_EQ(NewLines(), Lines({"------- 0 existing monitors ----------", "---------------------------------------"}));

  MONITOR_INFO_2W records[2] = {{const_cast<LPWSTR>(TEXT("Local Port")), nullptr, nullptr}, {nullptr, nullptr, nullptr}};
  const MonitorInventory nameless = {reinterpret_cast<LPBYTE>(records), 2, 2};
  Mark();
  ListMonitors(&state, &nameless);
  EXPECT_EQ(NewLines(), Lines({"------- 2 existing monitors ----------", "1. Local Port", "2. ***EMPTY***",
                               "---------------------------------------"}));
}

TEST(MonitorInventoryTest, OnlyTheExactNameIsTheProductMonitor) {
  MONITOR_INFO_2W records[4] = {{const_cast<LPWSTR>(TEXT("marbleleafserver:")), nullptr, nullptr},
                                {nullptr, nullptr, nullptr},
                                {const_cast<LPWSTR>(TEXT("MarbleleafServer:x")), nullptr, nullptr},
                                {const_cast<LPWSTR>(TEXT("MarbleleafServer:")), nullptr, nullptr}};
  MonitorInventory inventory = {reinterpret_cast<LPBYTE>(records), 2, 4};
  EXPECT_EQ(FindProductMonitor(&inventory), 3);
  const MonitorInventory alone = {reinterpret_cast<LPBYTE>(records + 3), 2, 1};
  EXPECT_EQ(FindProductMonitor(&alone), 0);
  inventory.count = 3;
  EXPECT_EQ(FindProductMonitor(&inventory), -1);
  MONITOR_INFO_1W names[2] = {{const_cast<LPWSTR>(TEXT("Local Port"))}, {const_cast<LPWSTR>(TEXT("MarbleleafServer:"))}};
  MonitorInventory levelOne = {reinterpret_cast<LPBYTE>(names), 1, 2};
  EXPECT_EQ(FindProductMonitor(&levelOne), 1);
  levelOne.level = 3;
  EXPECT_EQ(FindProductMonitor(&levelOne), -1);
}

// ---- removal

TEST_F(MonitorStepTest, AFoundMonitorIsDeletedAtTheFirstAttemptWithoutAVersionCheck) {
  PutProductMonitor();
  winsim::PutPrinter(u"Elsewhere", u"Other", u"LPT1:");
  StartAndRemove();
  EXPECT_EQ(NewLines(), Concat({{">DeleteMonitor"}, DefaultList(),
                                {"  Port monitor is found. Index=3", "  Trying to get monitor filename from MONITOR_INFO_2",
                                 "  Auto calculated monitor file name: " + systemDir + "mlxmon64.dll",
                                 "  There is no check for monitor version", "  Monitor was removed :)"}}));
  EXPECT_EQ(winsim::FindMonitor(u"MarbleleafServer:"), nullptr);
  EXPECT_FALSE(FileExists(Module()));
  EXPECT_EQ(winsim::CallCount("SetPrinterW"), 0);
  EXPECT_EQ(winsim::CallCount("OpenPrinterW"), 0);
  EXPECT_EQ(state.repointedPrinters, nullptr);
  EXPECT_EQ(state.errorCount, 0);
  EXPECT_EQ(state.depth, 0);
}

TEST_F(MonitorStepTest, CompatibleBuildsStayAndClearTheRightFlag) {
  struct Case {
    WORD build;
    bool compatible;
  };
  for (const Case& c : {Case{2072, false}, Case{2073, true}, Case{2093, true}, Case{2094, false}}) {
    SCOPED_TRACE(c.build);
    TearDown();
    SetUp();
    PutProductMonitor(winsim::Build(c.build));
    StartAndRemove(true);
    const Lines lines = NewLines();
    ASSERT_GE(lines.size(), 10u);
    const std::string build = std::to_string(c.build);
    if (c.compatible) {
      EXPECT_EQ(Lines(lines.begin() + 9, lines.end()),
                Lines({"  Version (" + build + ") is compatible, proceed without uninstall",
                       "  InstallMonitor == 0, CopyMonitor == 1"}));
      EXPECT_NE(winsim::FindMonitor(u"MarbleleafServer:"), nullptr);
      EXPECT_TRUE(FileExists(Module()));
      EXPECT_FALSE(state.installMonitor);
      EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), 0);
    } else {
      EXPECT_EQ(Lines(lines.begin() + 9, lines.end()),
                Lines({"  Version (" + build + ") is not supported, proceed with reinstall", "  Monitor was removed :)"}));
      EXPECT_EQ(winsim::FindMonitor(u"MarbleleafServer:"), nullptr);
      EXPECT_FALSE(FileExists(Module()));
      EXPECT_TRUE(state.installMonitor);
    }
    EXPECT_TRUE(state.copyMonitor);
    EXPECT_EQ(state.depth, 0);
  }
}

TEST_F(MonitorStepTest, AModuleWithoutVersionIsReinstalled) {
  PutProductMonitor(std::nullopt);
  StartAndRemove(true);
  const Lines lines = NewLines();
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            Lines({"  Version is unknown, proceed with reinstall", "  Monitor was removed :)"}));
  EXPECT_TRUE(state.installMonitor);
  EXPECT_TRUE(state.copyMonitor);
}

TEST_F(MonitorStepTest, ACompatibleModuleOfAnUnregisteredMonitorIsKeptButRegistered) {
  winsim::PutFile(Module(), "module", winsim::Build(2080));
  StartAndRemove(true);
  const Lines lines = NewLines();
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
            Lines({"  Auto calculated monitor file name: " + systemDir + "mlxmon64.dll",
                   "  Version (2080) is compatible, proceed without uninstall", "  InstallMonitor == 1, CopyMonitor == 0"}));
  EXPECT_TRUE(state.installMonitor);
  EXPECT_FALSE(state.copyMonitor);
  EXPECT_TRUE(FileExists(Module()));
}

TEST_F(MonitorStepTest, AMachineWithoutTheProductNeedsNothingRemoved) {
  StartAndRemove(true);
  EXPECT_EQ(NewLines(),
            Lines({">DeleteMonitor", "  ------- 2 existing monitors ----------", "  1. Local Port",
                   "  2. Standard TCP/IP Port", "  ---------------------------------------",
                   "  No Marbleleaf port monitor was found.", "  Computing monitor filename",
                   "  Auto calculated monitor file name: " + systemDir + "mlxmon64.dll",
                   "  Version is unknown, proceed with reinstall",
                   "  Can't delete monitor and monitor was not found. So everything should be ok"}));
  EXPECT_TRUE(state.installMonitor);
  EXPECT_TRUE(state.copyMonitor);
  EXPECT_EQ(state.errorCount, 0);
  EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), 1);
}

TEST_F(MonitorStepTest, WithoutAnInventoryTheModuleIsStillDeletedWhenTheSpoolerDeletesTheMonitor) {
  PutProductMonitor();
  Start();
  FailNext("EnumMonitorsW", RPC_S_SERVER_UNAVAILABLE);
  inventory_ = TakeInventory();
  Mark();
  RemoveMonitor(&state, &inventory_);
  EXPECT_EQ(NewLines(), Lines({">DeleteMonitor", "  BTW, there is no port monitors on this system.",
                               "  No Marbleleaf port monitor was found.", "  Computing monitor filename",
                               "  Auto calculated monitor file name: " + systemDir + "mlxmon64.dll",
                               "  There is no check for monitor version", "  Monitor was removed :)"}));
  EXPECT_FALSE(FileExists(Module()));
}

TEST_F(MonitorStepTest, AMonitorRefusedOnceSwitchesItsPrintersToFile) {
  PutProductMonitor();
  winsim::PutPrinter(u"Plain", u"Marbleleaf Server", u"MarbleleafServer:");
  winsim::PutPrinter(u"Elsewhere", u"Other", u"LPT1:");
  winsim::PutPrinter(u"Pooled", u"Marbleleaf Server", u"LPT1:,MarbleleafServer:");
  winsim::PutPrinter(u"Gone", u"Marbleleaf Server", u"MarbleleafServer:");
  // A connection's port is its server's: repointing it would change the server's queue.
  winsim::PutPrintServer(u"\\\\HOST", true);
  winsim::PutServerQueue(u"\\\\HOST", u"Shared", u"Marbleleaf Server", u"MarbleleafServer:");
  winsim::PutConnection(u"\\\\HOST\\Shared");
  Start();
  inventory_ = TakeInventory();
  M().spooler.printers.erase(M().spooler.printers.begin() + 3);  // deleted earlier in the run
  Mark();
  FailNext("DeleteMonitorW", ERROR_PRINT_MONITOR_IN_USE);
  RemoveMonitor(&state, &inventory_);
  const Lines lines = NewLines();
  EXPECT_EQ(Lines(lines.begin() + 10, lines.end()),
            Lines({"  Can't delete monitor from the first try", "  SetPrinter(Plain) - ok", "  SetPrinter(Pooled) - ok",
                   "  Can't open printer Gone", "  Monitor was removed :)"}));
  EXPECT_EQ(PortOf(u"Plain"), "file:");
  EXPECT_EQ(PortOf(u"Pooled"), "LPT1:,file:");
  EXPECT_EQ(PortOf(u"Elsewhere"), "LPT1:");
  EXPECT_EQ(Repointed(), Lines({"Plain=file:", "Pooled=LPT1:,file:", "Gone=file:"}));
  EXPECT_EQ(u"MarbleleafServer:", winsim::FindServerQueue(u"\\\\HOST\\Shared")->portName);
  EXPECT_EQ(state.errorCount, 0);
  EXPECT_EQ(winsim::CallCount("ClosePrinter"), winsim::CallCount("OpenPrinterW") - 1);
  EXPECT_FALSE(FileExists(Module()));
}

TEST_F(MonitorStepTest, APrinterOnTheProductPortHoldsTheMonitorUntilItIsSwitched) {
  PutProductMonitor();
  winsim::PutPrinter(u"Plain", u"Marbleleaf Server", u"MarbleleafServer:");
  StartAndRemove();
  const Lines lines = NewLines();
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
            Lines({"  Can't delete monitor from the first try", "  SetPrinter(Plain) - ok", "  Monitor was removed :)"}));
  EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), 2);
}

TEST_F(MonitorStepTest, SwitchFailuresAreOnlyInformative) {
  PutProductMonitor();
  winsim::PutPrinter(u"Locked", u"Marbleleaf Server", u"MarbleleafServer:");
  winsim::PutPrinter(u"Stubborn", u"Marbleleaf Server", u"MarbleleafServer:");
  Start();
  inventory_ = TakeInventory();
  Mark();
  FailNext("OpenPrinterW", ERROR_ACCESS_DENIED);
  FailNext("SetPrinterW", ERROR_ACCESS_DENIED);
  FailNext("ClosePrinter", ERROR_INVALID_HANDLE);
  RemoveMonitor(&state, &inventory_);
  const Lines lines = NewLines();
  // Both printers still use the product port in the spooler, so the monitor stays in use.
  EXPECT_EQ(Lines(lines.end() - 5, lines.end()),
            Lines({"  Can't delete monitor from the first try", "  Can't open printer Locked",
                   "  SetPrinter(Stubborn) - failed", "  >Restart Spooler",
                   "  Error(12): Can`t remove the port monitor 'MarbleleafServer:' - (The specified print monitor is "
                   "currently in use.)"}));
  EXPECT_EQ(Repointed(), Lines({"Locked=file:", "Stubborn=file:"}));
  EXPECT_EQ(PortOf(u"Locked"), "MarbleleafServer:");
  EXPECT_EQ(state.errorCount, 1);
  handlesLeftOpen = 1;  // Stubborn's, whose close failed
}

TEST_F(MonitorStepTest, WithoutRoomToRememberThemThePrintersAreNotSwitched) {
  PutProductMonitor();
  winsim::PutPrinter(u"Plain", u"Marbleleaf Server", u"MarbleleafServer:");
  Start();
  inventory_ = TakeInventory();
  Mark();
  FailNext("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);  // the list of the switched printers
  RemoveMonitor(&state, &inventory_);
  const Lines lines = NewLines();
  EXPECT_EQ(lines[10], "  Can't delete monitor from the first try");
  EXPECT_EQ(lines[11], "  Can't allocate the list of switched printers: printers stay on MarbleleafServer:");
  // Still on the product port, the printer keeps the monitor in use.
  EXPECT_EQ(lines.back(),
            "  Error(12): Can`t remove the port monitor 'MarbleleafServer:' - (The specified print monitor is "
            "currently in use.)");
  EXPECT_EQ(PortOf(u"Plain"), "MarbleleafServer:");
  EXPECT_EQ(Narrow(state.printers.entries[0].pPortName), "MarbleleafServer:");
  EXPECT_EQ(state.repointedPrinters, nullptr);
  EXPECT_EQ(winsim::CallCount("SetPrinterW"), 0);
}

TEST_F(MonitorStepTest, AFailedFolderCheckStillDeletesTheModule) {
  PutProductMonitor();
  Start();
  inventory_ = TakeInventory();
  FailNext("GetFileAttributesW", ERROR_ACCESS_DENIED);
  RemoveMonitor(&state, &inventory_);
  EXPECT_FALSE(FileExists(Module()));

  // A path of 31 units fills its block to the last unit: the folder check reads no further.
  TearDown();
  SetUp();
  PutMonitorRecord(u"MarbleleafServer:", u"mlxmonA.dll");
  winsim::PutFile(std::u16string(kSystemDir) + u"mlxmonA.dll", "module");
  Start();
  state.monitorFile = u"mlxmonA.dll";  // only the product's module is deleted
  inventory_ = TakeInventory();
  RemoveMonitor(&state, &inventory_);
  EXPECT_FALSE(FileExists(std::u16string(kSystemDir) + u"mlxmonA.dll"));
}

TEST_F(MonitorStepTest, AMonitorRefusedTwiceIsDeletedAfterASpoolerRestart) {
  PutProductMonitor();
  Start();
  inventory_ = TakeInventory();
  Mark();
  FailNext("DeleteMonitorW", ERROR_PRINT_MONITOR_IN_USE, 2);
  RemoveMonitor(&state, &inventory_);
  const Lines lines = NewLines();
  EXPECT_EQ(lines[10], "  Can't delete monitor from the first try");
  EXPECT_EQ(lines[11], "  >Restart Spooler");
  EXPECT_EQ(lines.back(), "  Monitor was removed :)");
  EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), 3);
  EXPECT_EQ(state.repointedPrinters, nullptr);  // no printers at all
  EXPECT_EQ(state.errorCount, 0);
  EXPECT_FALSE(FileExists(Module()));
}

TEST_F(MonitorStepTest, AMonitorRefusedThreeTimesIsErrorTwelveAndKeepsItsModule) {
  PutProductMonitor();
  winsim::PutPrinter(u"Plain", u"Marbleleaf Server", u"MarbleleafServer:");
  Start();
  inventory_ = TakeInventory();
  Mark();
  FailNext("DeleteMonitorW", ERROR_PRINT_MONITOR_IN_USE, 3);
  RemoveMonitor(&state, &inventory_);
  EXPECT_EQ(NewLines().back(),
            "  Error(12): Can`t remove the port monitor 'MarbleleafServer:' - (The specified print monitor is currently "
            "in use.)");
  EXPECT_EQ(state.errorCount, 1);
  EXPECT_EQ(state.depth, 0);
  EXPECT_TRUE(FileExists(Module()));
  EXPECT_NE(winsim::FindMonitor(u"MarbleleafServer:"), nullptr);
  EXPECT_EQ(PortOf(u"Plain"), "file:");
  EXPECT_EQ(Repointed(), Lines({"Plain=file:"}));

  // The monitor that stayed is still registered: its registration is refused with 3006, and the
  // printers go back to its port rather than stay on "file:".
  state.copyMonitor = false;
  Mark();
  InstallMonitor(&state);
  EXPECT_EQ(NewLines(), Lines({">AddMonitor", "  Skip copy monitor file", "  AddMonitor - monitor is already installed",
                               "  SetPrinter(Plain) - ok"}));
  EXPECT_EQ(PortOf(u"Plain"), "MarbleleafServer:");
  EXPECT_EQ(state.errorCount, 1);
}

TEST_F(MonitorStepTest, AModuleThatCantBeDeletedIsDeferred) {
  PutProductMonitor();
  winsim::PutFile(Module(), "module", winsim::Build(2093));
  Start();
  inventory_ = TakeInventory();
  FailNext("DeleteFileW", ERROR_ACCESS_DENIED);
  Mark();
  RemoveMonitor(&state, &inventory_);
  EXPECT_EQ(NewLines().back(), "  Monitor was removed :)");
  EXPECT_TRUE(FileExists(Module()));
  ASSERT_NE(state.deferredDeletes, nullptr);
  EXPECT_EQ(Narrow(state.deferredDeletes->path), systemDir + "mlxmon64.dll");
  EXPECT_EQ(state.deferredDeletes->next, nullptr);
}

TEST_F(MonitorStepTest, AModulePathThatNamesAFolderIsNeitherDeletedNorDeferred) {
  // No module name leaves the system folder itself as the path; "spool" names a folder in it;
  // "gone\\" ends as a folder does, though there is none.
  for (const char16_t* dll : {u"", u"spool", u"gone\\"}) {
    for (bool checkVersion : {false, true}) {
      SCOPED_TRACE(Narrow(dll) + (checkVersion ? " checked" : ""));
      TearDown();
      SetUp();
      winsim::PutFolder(u"C:\\Windows\\system32\\spool");
      PutMonitorRecord(u"MarbleleafServer:", dll);
      StartAndRemove(checkVersion);
      const Lines lines = NewLines();
      EXPECT_EQ(lines[8], "  Auto calculated monitor file name: " + systemDir + Narrow(dll));
      EXPECT_EQ(lines.back(), "  Monitor was removed :)");
      EXPECT_EQ(winsim::CallCount("DeleteFileW"), 0);
      EXPECT_EQ(state.deferredDeletes, nullptr);
      ASSERT_NE(winsim::FindFile(kSystemDir), nullptr);
      EXPECT_TRUE(winsim::FindFile(kSystemDir)->isDirectory);
      ASSERT_NE(winsim::FindFile(u"C:\\Windows\\system32\\spool"), nullptr);
      EXPECT_TRUE(winsim::FindFile(u"C:\\Windows\\system32\\spool")->isDirectory);
    }
  }

  // Neither the system folder (Windows could not tell it) nor a module name: the path is empty,
  // which names no file at all.
  TearDown();
  SetUp();
  PutMonitorRecord(u"MarbleleafServer:", u"");
  winsim::FailCall("GetSystemDirectoryW", ERROR_ACCESS_DENIED, -1);
  StartAndRemove();
  EXPECT_EQ(NewLines()[8], "  Auto calculated monitor file name: ");
  EXPECT_EQ(winsim::CallCount("DeleteFileW"), 0);
  EXPECT_EQ(state.deferredDeletes, nullptr);
}

// A monitor registered under the product's name with another module loses its registration, but
// that module's file stays: neither deleted nor left for deletion at the restart. The product's
// module, however its name is written, still goes.
TEST_F(MonitorStepTest, OnlyTheProductsModuleIsDeletedWithTheMonitor) {
  struct Case {
    const char16_t* dll;
    const char16_t* file;  // where the module lies in the system folder
    std::string logged;    // the path the removal works with
    bool ours;
  };
  const std::string sys = Narrow(kSystemDir);
  for (const Case& c : {Case{u"othermon.dll", u"othermon.dll", sys + "othermon.dll", false},
                        Case{u"mlxmon.dll", u"mlxmon.dll", sys + "mlxmon.dll", false},
                        Case{u"MLXMON64.DLL", u"mlxmon64.dll", sys + "MLXMON64.DLL", true},
                        Case{u"C:\\WINDOWS\\system32\\mlxmon64.dll", u"mlxmon64.dll",
                             "C:\\WINDOWS\\system32\\mlxmon64.dll", true}}) {
    for (bool deleteFails : {false, true}) {
      SCOPED_TRACE(Narrow(c.dll) + (deleteFails ? " delete fails" : ""));
      TearDown();
      SetUp();
      PutMonitorRecord(u"MarbleleafServer:", c.dll);
      winsim::PutFile(Module(c.file), "module", winsim::Build(2093));
      Start();
      inventory_ = TakeInventory();
      if (deleteFails) FailNext("DeleteFileW", ERROR_ACCESS_DENIED);
      Mark();
      RemoveMonitor(&state, &inventory_);
      Lines tail = {"  Port monitor is found. Index=3", "  Trying to get monitor filename from MONITOR_INFO_2",
                    "  Auto calculated monitor file name: " + c.logged, "  There is no check for monitor version"};
      if (!c.ours) tail.push_back("  The monitor's module is not the product's, left in place: " + c.logged);
      tail.push_back("  Monitor was removed :)");
      EXPECT_EQ(NewLines(), Concat({{">DeleteMonitor"}, DefaultList(), tail}));
      EXPECT_EQ(winsim::FindMonitor(u"MarbleleafServer:"), nullptr);
      if (c.ours && !deleteFails) {
        EXPECT_FALSE(FileExists(Module(c.file)));
        EXPECT_EQ(state.deferredDeletes, nullptr);
      } else if (c.ours) {
        ASSERT_NE(state.deferredDeletes, nullptr);
        EXPECT_EQ(Narrow(state.deferredDeletes->path), c.logged);
      } else {
        EXPECT_TRUE(FileExists(Module(c.file)));
        EXPECT_EQ(winsim::CallCount("DeleteFileW"), 0);
        EXPECT_EQ(state.deferredDeletes, nullptr);
        EXPECT_EQ(ScheduleDeletesAtReboot(&state), 0);
        EXPECT_EQ(winsim::CallCount("MoveFileExW"), 0);
        EXPECT_FALSE(
            winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue));
      }
      EXPECT_EQ(state.errorCount, 0);
      EXPECT_EQ(state.depth, 0);
    }
  }
}

// ---- installation

TEST_F(MonitorStepTest, InstallCopiesTheModuleAndRegistersTheMonitor) {
  Start();
  InstallMonitor(&state);
  EXPECT_EQ(NewLines(), Lines({">AddMonitor", "  Copy monitor file", "  >CopyFile mlxmon64.dll to " + systemDir + " [0])",
                               "    Copy Succeeded :)", "  AddMonitor - OK :)"}));
  const winsim::MonitorEntry* monitor = winsim::FindMonitor(u"MarbleleafServer:");
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(Narrow(monitor->dllName), "mlxmon64.dll");
  EXPECT_EQ(Narrow(monitor->environment), "Windows x64");
  EXPECT_TRUE(FileExists(Module()));
  EXPECT_EQ(state.errorCount, 0);
}

TEST_F(MonitorStepTest, InstallWithoutCopyUsesTheModuleInPlace) {
  winsim::PutFile(Module(), "old module", winsim::Build(2080));
  Start();
  state.copyMonitor = false;
  InstallMonitor(&state);
  EXPECT_EQ(NewLines(), Lines({">AddMonitor", "  Skip copy monitor file", "  AddMonitor - OK :)"}));
  EXPECT_EQ(winsim::FindFile(Module())->version->build, 2080);
}

TEST_F(MonitorStepTest, ALockedModuleIsCopiedAgainWithTheSpoolerStopped) {
  winsim::PutFile(Module(), "old module", winsim::Build(2080));
  Start();
  winsim::LockFile(Module(), M().clock.now + 5200);
  InstallMonitor(&state);
  const Lines lines = NewLines();
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 5),
            Lines({">AddMonitor", "  Copy monitor file", "  >CopyFile mlxmon64.dll to " + systemDir + " [0])",
                   "    Copy Failed :(", "  >Restart Spooler"}));
  EXPECT_EQ(lines[lines.size() - 3], "  >CopyFile mlxmon64.dll to " + systemDir + " [1])");
  EXPECT_EQ(lines[lines.size() - 2], "    Copy Succeeded :)");
  EXPECT_EQ(lines.back(), "  AddMonitor - OK :)");
  const std::vector<uint8_t>& content = winsim::FindFile(Module())->content;
  EXPECT_EQ(std::string(content.begin(), content.end()), "module");
}

TEST_F(MonitorStepTest, ARegistrationRefusedFourTimesSucceedsAtTheFifth) {
  Start();
  state.copyMonitor = false;
  winsim::PutFile(Module(), "module", winsim::Build(2093));
  FailNext("AddMonitorW", RPC_S_SERVER_UNAVAILABLE, 4);
  const uint64_t slept = M().clock.slept;
  InstallMonitor(&state);
  const std::string failed = "  AddMonitor - failed. Trying to wait and install again";
  EXPECT_EQ(NewLines(),
            Lines({">AddMonitor", "  Skip copy monitor file", failed, failed, failed, failed, "  AddMonitor - OK :)"}));
  EXPECT_EQ(M().clock.slept - slept, 200u);  // four pauses of 50 ms
  EXPECT_NE(winsim::FindMonitor(u"MarbleleafServer:"), nullptr);
}

// The product printers switched away while the monitor was removed, ready for InstallMonitor.
class SwitchBackTest : public MonitorStepTest {
 protected:
  void SetUp() override {
    MonitorStepTest::SetUp();
    PutProductMonitor();
    winsim::PutPrinter(u"Plain", u"Marbleleaf Server", u"MarbleleafServer:");
    winsim::PutPrinter(u"Pooled", u"Marbleleaf Server", u"LPT1:,MarbleleafServer:");
    winsim::PutPrinter(u"Moved", u"Marbleleaf Server", u"MarbleleafServer:");
    winsim::PutPrinter(u"Filed", u"Marbleleaf Server", u"file:,MarbleleafServer:");
    StartAndRemove();
    EXPECT_EQ(Repointed(), Lines({"Plain=file:", "Pooled=LPT1:,file:", "Moved=file:", "Filed=file:,file:"}));
    state.copyMonitor = false;
    winsim::PutFile(Module(), "module", winsim::Build(2093));
    Mark();
  }
};

TEST_F(SwitchBackTest, ARegisteredMonitorGetsItsPrintersBackInPlace) {
  lstrcpyW(state.repointedPrinters[2].record->pPortName, TEXT("LPT1:"));  // someone else moved it meanwhile
  InstallMonitor(&state);
  EXPECT_EQ(NewLines(), Lines({">AddMonitor", "  Skip copy monitor file", "  AddMonitor - OK :)",
                               "  SetPrinter(Plain) - ok", "  SetPrinter(Pooled) - ok", "  SetPrinter(Filed) - ok"}));
  EXPECT_EQ(PortOf(u"Plain"), "MarbleleafServer:");
  EXPECT_EQ(PortOf(u"Pooled"), "LPT1:,MarbleleafServer:");
  EXPECT_EQ(PortOf(u"Moved"), "file:");
  EXPECT_EQ(PortOf(u"Filed"), "file:,MarbleleafServer:");
  EXPECT_EQ(Repointed(), Lines({"Plain=MarbleleafServer:", "Pooled=LPT1:,MarbleleafServer:", "Moved=LPT1:",
                                "Filed=file:,MarbleleafServer:"}));
  EXPECT_EQ(state.errorCount, 0);

  // A second registration finds no room to grow the texts again: nothing is written.
  M().spooler.monitors.pop_back();
  Mark();
  InstallMonitor(&state);
  EXPECT_EQ(NewLines(), Lines({">AddMonitor", "  Skip copy monitor file", "  AddMonitor - OK :)"}));
}

TEST_F(SwitchBackTest, APrinterThatCantBeOpenedStaysEditedInTheInventory) {
  M().spooler.printers.erase(M().spooler.printers.begin());
  InstallMonitor(&state);
  const Lines lines = NewLines();
  EXPECT_EQ(lines[3], "  Can't open printer Plain");
  EXPECT_EQ(Narrow(state.repointedPrinters[0].record->pPortName), "MarbleleafServer:");
}

TEST_F(SwitchBackTest, FiveRefusalsAreErrorElevenAndNoPrinterIsTouched) {
  FailNext("AddMonitorW", ERROR_ACCESS_DENIED, 5);
  const int setCalls = winsim::CallCount("SetPrinterW");
  InstallMonitor(&state);
  const std::string failed = "  AddMonitor - failed. Trying to wait and install again";
  EXPECT_EQ(NewLines(), Lines({">AddMonitor", "  Skip copy monitor file", failed, failed, failed, failed, failed,
                               "  Error(11): Can`t install a local port monitor'MarbleleafServer:' - (Access is denied.)"}));
  EXPECT_EQ(state.errorCount, 1);
  EXPECT_EQ(state.depth, 0);
  EXPECT_EQ(winsim::CallCount("SetPrinterW"), setCalls);
  EXPECT_EQ(PortOf(u"Plain"), "file:");
  EXPECT_EQ(Repointed(), Lines({"Plain=file:", "Pooled=LPT1:,file:", "Moved=file:", "Filed=file:,file:"}));
}
}  // namespace

// A monitor of the product's name that the spooler still holds (3006) is the product's only when
// its module is: another program's or an older module name is error 11, and the printers moved to
// "file:" are not moved onto it.
TEST_F(MonitorStepTest, AMonitorAlreadyRegisteredCountsOnlyWithTheProductsModule) {
  struct Case {
    const char16_t* dll;
    bool ours;
    bool listedFirst;  // before the machine's own monitors
  };
  for (const Case& c : {Case{u"mlxmon64.dll", true, false}, Case{u"mlxmon64.dll", true, true},
                        Case{u"MLXMON64.DLL", true, false}, Case{u"C:\\WINDOWS\\system32\\mlxmon64.dll", true, false},
                        Case{u"mlxmon.dll", false, false}, Case{u"othermon.dll", false, false},
                        Case{u"D:\\tools\\mlxmon64.dll", false, false}, Case{u"", false, false}}) {
    SCOPED_TRACE(Narrow(c.dll) + (c.listedFirst ? ", listed first" : ""));
    TearDown();
    SetUp();
    PutMonitorRecord(u"MarbleleafServer:", c.dll);
    std::vector<winsim::MonitorEntry>& monitors = M().spooler.monitors;
    if (c.listedFirst) std::rotate(monitors.begin(), monitors.end() - 1, monitors.end());
    winsim::PutPrinter(u"Plain", u"Marbleleaf Server", u"MarbleleafServer:");
    Start();
    inventory_ = TakeInventory();
    FailNext("DeleteMonitorW", ERROR_PRINT_MONITOR_IN_USE, 3);
    RemoveMonitor(&state, &inventory_);
    ASSERT_EQ(PortOf(u"Plain"), "file:");
    state.copyMonitor = false;
    Mark();
    InstallMonitor(&state);
    if (c.ours) {
      EXPECT_EQ(NewLines(), Lines({">AddMonitor", "  Skip copy monitor file", "  AddMonitor - monitor is already installed",
                                   "  SetPrinter(Plain) - ok"}));
      EXPECT_EQ(PortOf(u"Plain"), "MarbleleafServer:");
      EXPECT_EQ(state.errorCount, 1);
    } else {
      EXPECT_EQ(NewLines(),
                Lines({">AddMonitor", "  Skip copy monitor file",
                       "  AddMonitor - the monitor is registered with another module: " +
                           (c.dll[0] ? Narrow(c.dll) : std::string("***EMPTY***")),
                       "  Error(11): Can`t install a local port monitor'MarbleleafServer:' - (The specified print "
                       "monitor has already been installed.)"}));
      EXPECT_EQ(PortOf(u"Plain"), "file:");
      EXPECT_EQ(state.errorCount, 2);
    }
    EXPECT_EQ(winsim::CallCount("AddMonitorW"), 1);
    EXPECT_EQ(state.depth, 0);
  }

  // Whose monitor it is can't be read: not taken for the product's.
  TearDown();
  SetUp();
  PutProductMonitor();
  Start();
  Mark();
  state.copyMonitor = false;
  winsim::FailCall("EnumMonitorsW", RPC_S_SERVER_UNAVAILABLE);
  InstallMonitor(&state);
  EXPECT_EQ(NewLines(),
            Lines({">AddMonitor", "  Skip copy monitor file", "  2. EnumMonitors  failed with code: The RPC server is "
                   "unavailable.", "", "  AddMonitor - the monitor is registered with another module: ***EMPTY***",
                   "  Error(11): Can`t install a local port monitor'MarbleleafServer:' - (The specified print monitor "
                   "has already been installed.)"}));
}

// Only a whole element of a port list is the product's port: printers of other drivers on ports
// whose names merely contain it stay exactly as they are while the monitor goes and comes back.
TEST_F(MonitorStepTest, NearMissPortNamesAreLeftAlone) {
  PutProductMonitor();
  winsim::SetMonitorPorts(u"Other Monitor:", {u"XMarbleleafServer:Y", u"MarbleleafServer:2"});
  winsim::PutMonitor(u"Other Monitor:", u"othermon.dll");
  winsim::PutPrinter(u"Near", u"Generic Laser", u"XMarbleleafServer:Y");
  winsim::PutPrinter(u"Second", u"Generic Laser", u"MarbleleafServer:2");
  winsim::PutPrinter(u"Pooled", u"Generic Laser", u"MarbleleafServer:2, marbleleafserver: ,LPT1:");
  const std::string near = Describe(u"Near");
  const std::string second = Describe(u"Second");
  Start();
  inventory_ = TakeInventory();
  FailNext("DeleteMonitorW", ERROR_PRINT_MONITOR_IN_USE);
  Mark();
  RemoveMonitor(&state, &inventory_);
  Lines lines = NewLines();
  EXPECT_EQ(Lines(lines.begin() + 11, lines.end()),
            Lines({"  Can't delete monitor from the first try", "  SetPrinter(Pooled) - ok", "  Monitor was removed :)"}));
  EXPECT_EQ(Repointed(), Lines({"Pooled=MarbleleafServer:2, file: ,LPT1:"}));
  EXPECT_EQ(PortOf(u"Pooled"), "MarbleleafServer:2, file: ,LPT1:");
  EXPECT_EQ(near, Describe(u"Near"));
  EXPECT_EQ(second, Describe(u"Second"));

  Mark();
  InstallMonitor(&state);
  lines = NewLines();
  EXPECT_EQ(lines.back(), "  SetPrinter(Pooled) - ok");
  EXPECT_EQ(PortOf(u"Pooled"), "MarbleleafServer:2, marbleleafserver: ,LPT1:");
  EXPECT_EQ(near, Describe(u"Near"));
  EXPECT_EQ(second, Describe(u"Second"));
}
