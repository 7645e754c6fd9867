// A machine with the product's driver and port monitor registered, and one InstallerState that
// each test initialises when its printers are in place. Every test ends with no global block and
// no printer handle left over.
#pragma once
#include <string>

#include "app/installer_state.h"
#include "winsim_fixture.h"

class PrinterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    winsim::DriverEntry driver;
    driver.name = u"Marbleleaf Server";
    driver.environment = u"Windows x64";
    winsim::M().spooler.drivers.push_back(driver);
    winsim::M().spooler.monitors.push_back(
        {u"MarbleleafServer:", u"Windows x64", u"mlxmon64.dll", {u"MarbleleafServer:"}});
  }
  void TearDown() override {
    if (initialised) FreeInstallerState(&state);
    EXPECT_EQ(0, winsim::M().globalBlocks);
    EXPECT_TRUE(winsim::M().spooler.handles.empty());
    MachineTest::TearDown();
  }

  void Init() {
    InitInstallerState(&state);
    initialised = true;
    mark = Log().size();
  }
  std::string Log() const { return Narrow(Text(state.logText)); }
  // What was logged since Init or the last call.
  std::string NewLog() {
    const std::string all = Log();
    const std::string tail = all.substr(mark);
    mark = all.size();
    return tail;
  }

  // A printer of the product with its settings key name in both forms of printer data.
  winsim::PrinterEntry& ProductPrinter(const std::u16string& name, const std::string& key = "") {
    winsim::PrinterEntry& printer = winsim::PutPrinter(name, u"Marbleleaf Server", u"MarbleleafServer:");
    if (!key.empty()) {
      winsim::SetPrinterDataString(printer, "", "SubKey", key);
      winsim::SetPrinterDataString(printer, "DsUser", "SubKey", key);
    }
    return printer;
  }
  // The per-user settings key of a printer, marked deleted.
  static std::string SettingsPath(const std::string& key) {
    return "Software\\Orvanel Software KFT\\Marbleleaf\\Marbleleafs\\" + key;
  }
  static void MarkDeleted(const std::string& key) {
    winsim::SetRegValue(HKEY_CURRENT_USER, SettingsPath(key), u"deleted", REG_DWORD, {1, 0, 0, 0});
    winsim::SetRegValue(HKEY_CURRENT_USER, SettingsPath(key), u"paper", REG_DWORD, {9, 0, 0, 0});
  }
  static bool MarkedDeleted(const std::string& key) {
    return winsim::GetRegValue(HKEY_CURRENT_USER, SettingsPath(key), u"deleted") != nullptr;
  }

  InstallerState state;
  bool initialised = false;
  size_t mark = 0;
};
