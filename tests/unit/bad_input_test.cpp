// Whole runs on hostile machines: names and lists as long as Windows allows, an inventory that
// changes under the installer, registry values of the wrong type or without terminators, paths at
// the edge of MAX_PATH. ASan proves that nothing is read or written out of bounds; the tests prove
// that nothing but product files is deleted and that the log says what happened.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dispatcher.h"
#include "app/installer_state.h"
#include "app/procedures.h"
#include "winsim_fixture.h"

namespace {
const char16_t* const kDriver = u"Marbleleaf Server";
const char16_t* const kPort = u"MarbleleafServer:";
const char* const kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kSettingsRoot = "Software\\Orvanel Software KFT\\Marbleleaf\\Marbleleafs\\";

std::vector<uint8_t> Bytes(const std::u16string& text, bool terminated) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xff));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

class BadInputTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    LayOut(u"C:\\Program Files\\Marbleleaf\\app\\");
    winsim::PutFolder(u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86");
    winsim::M().desktop.shiftDown = true;  // every run shows its log
    // Files that are not the product's, in the places the installer works in.
    for (const char16_t* path : {u"C:\\Windows\\system32\\kernel32.dll", u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\other.dll",
                                 u"C:\\Windows\\system32\\mlxmon64.dll.bak", u"C:\\Program Files\\Marbleleaf\\notes.txt",
                                 u"C:\\important.txt"}) {
      winsim::PutFile(path, "keep");
      keep.push_back(path);
    }
  }
  void TearDown() override {
    for (const std::u16string& path : keep) EXPECT_TRUE(winsim::FileExists(path)) << Narrow(path) << " was deleted";
    EXPECT_EQ(0, winsim::M().globalBlocks);
    EXPECT_EQ(0, winsim::M().localBlocks);
    EXPECT_TRUE(winsim::M().spooler.handles.empty());
    MachineTest::TearDown();
  }

  // The installer and the product files of build 2093 in `folder` (ending in a separator).
  static void LayOut(const std::u16string& folder) {
    winsim::CreateRegKey(HKEY_LOCAL_MACHINE, kRunKey);
    winsim::M().modulePath = folder + u"install.exe";
    winsim::PutFile(winsim::M().modulePath, "installer");
    for (const char16_t* module : {u"mlxmon64.dll", u"mlxdrv64.dll", u"mlxui64.dll", u"mlxmon32.dll", u"mlxdrv32.dll",
                                   u"mlxui32.dll"}) {
      winsim::PutFile(folder + module, "module", winsim::Build(2093));
    }
    winsim::PutFile(folder + u"mlxhelp.chm", "help");
  }

  static int Run(const std::u16string& verb) {
    winsim::M().commandLine = u"\"" + winsim::M().modulePath + u"\" " + verb;
    return RunInstaller(nullptr);
  }
  static std::string Log() { return Narrow(winsim::M().desktop.dialog.text); }

  static winsim::PrinterEntry& ProductPrinter(const std::u16string& name, const std::string& key) {
    winsim::PrinterEntry& printer = winsim::PutPrinter(name, kDriver, kPort);
    if (!key.empty()) {
      winsim::SetPrinterDataString(printer, "", "SubKey", key);
      winsim::SetRegValue(HKEY_CURRENT_USER, kSettingsRoot + key, u"paper", REG_DWORD, {9, 0, 0, 0});
    }
    return printer;
  }

  std::vector<std::u16string> keep;
};
}  // namespace

// Printer names of 220 characters, and a printer of another driver whose list of many ports
// names the product's port: every printer comes back whole, names and ports as they were.
TEST_F(BadInputTest, LongestPrinterNamesAndPortListsSurviveUninstallAndReinstall) {
  ASSERT_EQ(1, Run(u"install")) << Log();
  std::vector<std::u16string> names;
  for (char16_t c : {u'A', u'B', u'C'}) {
    names.push_back(std::u16string(219, c) + u"!");
    ProductPrinter(names.back(), std::string("long") + static_cast<char>(c));
  }
  std::u16string ports;
  for (int i = 0; i < 60; ++i) {
    const std::u16string port = u"IP_10.0.0." + Wide(std::to_string(i)) + u":";
    winsim::M().spooler.builtinPorts.push_back(port);
    ports += port + u",";
  }
  ports += kPort;
  winsim::PrinterEntry& pooled = winsim::PutPrinter(std::u16string(220, u'P'), u"Other Driver", ports);
  pooled.driverName = u"Other Driver";

  winsim::M().desktop.dialog = winsim::DialogState();
  EXPECT_EQ(1, Run(u"install"));
  for (const std::u16string& name : names) {
    const winsim::PrinterEntry* printer = winsim::FindPrinter(name);
    ASSERT_NE(nullptr, printer) << Narrow(name);
    EXPECT_EQ(kPort, printer->portName);
  }
  const winsim::PrinterEntry* other = winsim::FindPrinter(std::u16string(220, u'P'));
  ASSERT_NE(nullptr, other);
  EXPECT_EQ(ports, other->portName);
  EXPECT_NE(std::string::npos, Log().find(Narrow(names[0])));

  winsim::M().desktop.dialog = winsim::DialogState();
  EXPECT_EQ(2, Run(u"uninstall"));
  for (const std::u16string& name : names) EXPECT_EQ(nullptr, winsim::FindPrinter(name));
  ASSERT_NE(nullptr, winsim::FindPrinter(std::u16string(220, u'P')));  // not the product's: kept
}

// Printers added or removed between the size call and the fill call of the inventory.
TEST_F(BadInputTest, InventoryChangingBetweenSizeAndFill) {
  ASSERT_EQ(1, Run(u"install"));
  for (int i = 0; i < 5; ++i) ProductPrinter(u"Product " + Wide(std::to_string(i)), "key" + std::to_string(i));
  winsim::PutPrinter(u"Office", u"Other Driver", u"LPT1:");
  // Grows: the block sized for the old inventory no longer holds it.
  winsim::M().spooler.beforeEnumPrintersFill = [] {
    for (int i = 0; i < 40; ++i) winsim::PutPrinter(u"Late " + Wide(std::to_string(i)) + std::u16string(200, u'x'), u"Other Driver", u"LPT1:");
  };
  winsim::M().desktop.dialog = winsim::DialogState();
  // The fill call fails: the run goes on with no inventory, so no printer is deleted unsaved, the
  // driver still in use cannot go, and the run ends with errors.
  EXPECT_EQ(100, Run(u"install"));
  EXPECT_NE(std::string::npos, Log().find("Can`t remove the printer-driver")) << Log();
  for (int i = 0; i < 5; ++i) EXPECT_NE(nullptr, winsim::FindPrinter(u"Product " + Wide(std::to_string(i))));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"Office"));
  for (int i = 0; i < 40; ++i) EXPECT_NE(nullptr, winsim::FindPrinter(u"Late " + Wide(std::to_string(i)) + std::u16string(200, u'x')));

  // Shrinks: printers deleted by someone else between the calls.
  winsim::M().spooler.beforeEnumPrintersFill = [] {
    auto& printers = winsim::M().spooler.printers;
    printers.erase(printers.begin(), printers.begin() + printers.size() / 2);
  };
  winsim::M().desktop.dialog = winsim::DialogState();
  Run(u"uninstall");
  EXPECT_FALSE(Log().empty());
  EXPECT_NE(nullptr, winsim::FindPrinter(u"Late 39" + std::u16string(200, u'x')));
}

// The Run value is read into 260 characters: 520 bytes with no terminator, of REG_SZ or another
// type, naming the companion or a file that is not the product's.
TEST_F(BadInputTest, RunValueWithoutTerminatorOrOfAnotherType) {
  const std::u16string folder = u"C:\\" + std::u16string(260 - 3 - 12, u'd') + u"\\";
  const std::u16string tray = folder + u"mbltray.exe";
  ASSERT_EQ(260u, tray.size());
  winsim::PutFile(tray, "tray");
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray", REG_SZ, Bytes(tray, false));
  ASSERT_EQ(520u, winsim::GetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray")->data.size());
  EXPECT_EQ(6, Run(u"removetray"));
  EXPECT_FALSE(winsim::FileExists(tray));  // the companion, named in full
  EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray"));

  // 520 bytes naming a file that is not the companion, as text without terminator and as binary.
  const std::u16string other = folder + u"mbltray.dll";
  winsim::PutFile(other, "not ours");
  keep.push_back(other);
  for (DWORD type : {static_cast<DWORD>(REG_SZ), static_cast<DWORD>(REG_BINARY), static_cast<DWORD>(REG_EXPAND_SZ)}) {
    winsim::SetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray", type, Bytes(other, false));
    EXPECT_EQ(6, Run(u"removetray"));
    EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray"));
  }
  // Longer than the read can take, and odd-sized.
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray", REG_SZ, Bytes(folder + folder + u"mbltray.exe", false));
  EXPECT_EQ(6, Run(u"removetray"));
  std::vector<uint8_t> odd = Bytes(u"C:\\important.txt", false);
  odd.push_back('x');
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray", REG_SZ, odd);
  EXPECT_EQ(6, Run(u"removetray"));
}

// PendingFileRenameOperations of the wrong type, without terminators or of odd size, holding a
// product file's delete among other programs' renames: only the product's entry may go.
TEST_F(BadInputTest, PendingRenamesOfWrongTypeOrUnterminated) {
  ASSERT_EQ(1, Run(u"install"));
  const std::u16string others = std::u16string(u"\\??\\C:\\Other\\a.tmp") + u'\0' + u"\\??\\C:\\Other\\a.dll" + u'\0';
  const std::u16string product = std::u16string(u"\\??\\C:\\Windows\\system32\\mlxmon64.dll") + u'\0' + u'\0';
  struct Case {
    DWORD type;
    std::vector<uint8_t> data;
  };
  std::vector<uint8_t> odd = Bytes(others + product, false);
  odd.push_back(0x41);
  const std::vector<Case> cases = {
      {REG_MULTI_SZ, Bytes(others + product.substr(0, product.size() - 2), false)},  // no terminators at all
      {REG_SZ, Bytes(others + product, true)},
      {REG_BINARY, Bytes(others + product, false)},
      {REG_MULTI_SZ, odd},
      {REG_DWORD, {1, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    winsim::SetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue, c.type, c.data);
    winsim::M().desktop.dialog = winsim::DialogState();
    Run(u"uninstall");
    EXPECT_FALSE(Log().empty());
    const winsim::RegValue* value =
        winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue);
    if (c.type != REG_MULTI_SZ || c.data.size() % 2) {
      // Not a list the installer can read: left exactly as it was.
      ASSERT_NE(nullptr, value) << c.type;
      EXPECT_EQ(c.data, value->data) << c.type;
    } else if (value) {
      // The other programs' rename survives.
      const std::u16string text(reinterpret_cast<const char16_t*>(value->data.data()), value->data.size() / 2);
      EXPECT_NE(std::u16string::npos, text.find(u"\\??\\C:\\Other\\a.tmp"));
    }
    ASSERT_EQ(1, Run(u"install"));
  }

  // A readable list: other programs' deletes of files that are not ours (one of them holds a
  // product name in another folder, one is a UNC path) stay in the value byte for byte, and their
  // files stay; only the product's entry goes.
  const std::u16string foreign = std::u16string(u"\\??\\C:\\Windows\\system32\\kernel32.dll") + u'\0' + u'\0' +
                                 u"\\??\\C:\\Windows\\system32\\mlxmon64.dll.bak" + u'\0' + u'\0' +
                                 u"\\??\\UNC\\server\\share\\mlxmon64.dll" + u'\0' + u'\0' + others;
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue, REG_MULTI_SZ,
                      Bytes(foreign + product, true));
  EXPECT_EQ(1, Run(u"install"));
  const winsim::RegValue* value =
      winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue);
  ASSERT_NE(nullptr, value);
  EXPECT_EQ(Bytes(foreign, true), value->data);
}

// A product printer's "SubKey" of another type, too long, or without its terminator: a name is
// taken only from what the spooler handed back, and the settings of no other printer are touched.
TEST_F(BadInputTest, SettingsKeyNameOfWrongTypeOrUnterminated) {
  ASSERT_EQ(1, Run(u"install"));
  auto put = [](const char16_t* name, const char* key, DWORD type, const std::string& bytes) {
    winsim::PrinterEntry& printer = winsim::PutPrinter(name, kDriver, kPort);
    printer.data[key]["SubKey"] = winsim::PrinterDataValue{type, std::vector<uint8_t>(bytes.begin(), bytes.end())};
    return &printer;
  };
  put(u"Dword", "", REG_DWORD, std::string("\x07\0\0\0", 4));
  put(u"Bare", "", REG_SZ, std::string(63, 'k'));                 // 63 bytes, no terminator: whole
  put(u"SixtyFour", "", REG_SZ, std::string(64, 's'))->data["DsUser"]["SubKey"] =
      winsim::PrinterDataValue{REG_SZ, {'d', 's', 0}};              // refused plain: the DsUser one
  put(u"Longer", "", REG_SZ, std::string(300, 'm'));
  put(u"Odd", "", REG_BINARY, std::string("a\0b", 3));
  put(u"Expand", "DsUser", REG_EXPAND_SZ, std::string("%TEMP%\0", 7));
  winsim::SetRegValue(HKEY_CURRENT_USER, std::string(kSettingsRoot) + "neighbour", u"paper", REG_DWORD, {9, 0, 0, 0});

  winsim::M().desktop.dialog = winsim::DialogState();
  Run(u"install");
  auto key = [](const char16_t* name) -> std::string {
    const winsim::PrinterEntry* printer = winsim::FindPrinter(name);
    if (!printer) return "(gone)";
    auto plain = printer->data.find("");
    if (plain == printer->data.end() || !plain->second.count("SubKey")) return "(none)";
    const std::vector<uint8_t>& data = plain->second.at("SubKey").data;
    return std::string(data.begin(), data.end());
  };
  EXPECT_EQ(std::string(63, 'k') + '\0', key(u"Bare"));
  EXPECT_EQ(std::string("ds") + '\0', key(u"SixtyFour"));
  // No settings key could be read: printers of the product without one are not brought back.
  for (const char16_t* name : {u"Dword", u"Longer", u"Odd", u"Expand"}) EXPECT_EQ("(gone)", key(name)) << Narrow(name);
  for (const char* name : {"Dword", "Longer", "Odd", "Expand"}) EXPECT_NE(std::string::npos, Log().find(std::string(">DeletePrinter(") + name + ")"));
  EXPECT_NE(nullptr, winsim::GetRegValue(HKEY_CURRENT_USER, std::string(kSettingsRoot) + "neighbour", u"paper"));
}

// The saved-printer journal is outside input too: entries without terminators, of another type,
// with a settings key too long or not ANSI, with unknown or repeated fields, or naming a printer
// that is not the product's. Only whole entries of ours bring a printer back; the others are left
// as they are, and no printer is touched because of them.
TEST_F(BadInputTest, JournalEntriesThatAreNotWholeOrNotOurs) {
  ASSERT_EQ(1, Run(u"install"));
  const char* journal = "SOFTWARE\\Orvanel Software KFT\\Marbleleaf\\Saved Printers";
  auto multi = [](const std::vector<std::u16string>& strings, bool terminated) {
    std::vector<uint8_t> bytes;
    for (const std::u16string& text : strings) {
      const std::vector<uint8_t> one = Bytes(text, true);
      bytes.insert(bytes.end(), one.begin(), one.end());
    }
    if (terminated) bytes.insert(bytes.end(), {0, 0});
    else bytes.resize(bytes.size() - 2);  // the last string loses its terminator too
    return bytes;
  };
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, journal, u"Whole", REG_MULTI_SZ,
                      multi({u"Unknown=1", u"SubKey=k1", u"Comment=", u"Location=Hall", u"Default=1"}, true));
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, journal, u"Unterminated", REG_MULTI_SZ, multi({u"Comment=c", u"SubKey=k2"}, false));
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, journal, u"Text", REG_SZ, Bytes(u"SubKey=k3", true));
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, journal, u"Long", REG_MULTI_SZ, multi({u"SubKey=" + std::u16string(64, 'x')}, true));
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, journal, u"Wide", REG_MULTI_SZ, multi({u"SubKey=k\u0151"}, true));
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, journal, u"NoKey", REG_MULTI_SZ, multi({u"Comment=c"}, true));
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, journal, u"Odd", REG_MULTI_SZ, {'S', 0, 'u'});
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, journal, u"Laser", REG_MULTI_SZ, multi({u"SubKey=k4"}, true));
  winsim::PutPrinter(u"Laser", u"Generic Laser", u"LPT1:");
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, journal, std::u16string(600, 'n'), REG_MULTI_SZ, multi({u"SubKey=k5"}, true));

  winsim::M().desktop.dialog = winsim::DialogState();
  EXPECT_EQ(1, Run(u"install"));
  EXPECT_NE(std::string::npos, Log().find("    2 saved printers taken over from an earlier run\r\n"));
  const winsim::PrinterEntry* whole = winsim::FindPrinter(u"Whole");
  ASSERT_NE(nullptr, whole);
  EXPECT_EQ(u"", whole->comment.value_or(u"(null)"));
  EXPECT_EQ(u"Hall", whole->location.value_or(u"(null)"));
  EXPECT_EQ(u"Whole", winsim::M().spooler.defaultPrinter);
  ASSERT_NE(nullptr, winsim::FindPrinter(u"Unterminated"));
  EXPECT_EQ(u"c", winsim::FindPrinter(u"Unterminated")->comment.value_or(u"(null)"));
  for (const char16_t* name : {u"Text", u"Long", u"Wide", u"NoKey", u"Odd"})
    EXPECT_EQ(nullptr, winsim::FindPrinter(name)) << Narrow(name);
  EXPECT_EQ(u"Generic Laser", winsim::FindPrinter(u"Laser")->driverName);
  EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, journal, u"Whole"));
  EXPECT_NE(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, journal, u"Laser"));  // left alone
  EXPECT_NE(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, journal, u"Text"));

  // An uninstall forgets all of it.
  EXPECT_EQ(2, Run(u"uninstall"));
  EXPECT_FALSE(winsim::RegKeyExists(HKEY_LOCAL_MACHINE, journal));
}

// The installer's own path at the edge of MAX_PATH, and an installer folder at a drive's root:
// the companion path is built without overrun, and the log says what was done.
TEST_F(BadInputTest, ModulePathNearMaxPathAndAtDriveRoot) {
  // 259 characters: the longest path GetModuleFileNameW returns whole into MAX_PATH.
  std::u16string folder = u"C:\\";
  while (folder.size() + 60 < 259 - 11) folder += std::u16string(59, u'f') + u"\\";
  folder += std::u16string(259 - 11 - folder.size() - 1, u'g') + u"\\";
  LayOut(folder);
  ASSERT_EQ(259u, winsim::M().modulePath.size());
  EXPECT_EQ(1, Run(u"install"));
  const winsim::RegValue* run = winsim::GetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray");
  ASSERT_NE(nullptr, run);
  EXPECT_EQ("\"" + Narrow(folder.substr(0, folder.rfind(u'\\', folder.size() - 2) + 1)) + "mbltray.exe\"",
            Narrow(std::u16string(reinterpret_cast<const char16_t*>(run->data.data()), run->data.size() / 2 - 1)));
  EXPECT_NE(std::string::npos, Log().find("Marbleleaf")) << Log();
  EXPECT_NE(nullptr, winsim::FindDriver(kDriver, u"Windows x64"));
  winsim::M().desktop.dialog = winsim::DialogState();
  EXPECT_EQ(2, Run(u"uninstall"));
  EXPECT_EQ(nullptr, winsim::FindDriver(kDriver, u"Windows x64"));
  EXPECT_TRUE(winsim::FileExists(folder + u"mlxdrv64.dll"));  // the installer's own copies stay

  // Longer than MAX_PATH: GetModuleFileNameW cuts it.
  LayOut(folder + std::u16string(30, u'h') + u"\\");
  winsim::M().desktop.dialog = winsim::DialogState();
  Run(u"install");
  EXPECT_FALSE(Log().empty());

  winsim::Reset();
  LayOut(u"C:\\");
  winsim::M().desktop.shiftDown = true;
  winsim::PutFolder(u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86");
  winsim::PutFolder(u"C:\\Windows\\system32\\spool\\DRIVERS\\x64");
  winsim::PutFile(u"C:\\important.txt", "keep");
  winsim::PutFile(u"C:\\Windows\\system32\\kernel32.dll", "keep");
  EXPECT_EQ(1, Run(u"install")) << Log();
  EXPECT_NE(nullptr, winsim::FindDriver(kDriver, u"Windows x64"));
  run = winsim::GetRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"MarbleleafTray");
  ASSERT_NE(nullptr, run);
  // The folder above a drive's root is none: the companion is named by its bare file name.
  EXPECT_EQ("\"mbltray.exe\"", Narrow(std::u16string(reinterpret_cast<const char16_t*>(run->data.data()), run->data.size() / 2 - 1)));
  winsim::M().desktop.dialog = winsim::DialogState();
  EXPECT_EQ(2, Run(u"uninstall"));
  EXPECT_TRUE(winsim::FileExists(u"C:\\mlxmon64.dll"));
  keep = {u"C:\\important.txt", u"C:\\Windows\\system32\\kernel32.dll", u"C:\\install.exe"};
}
