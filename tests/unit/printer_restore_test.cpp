// Recreating the product's printers after a reinstall, as they were before, or "mblServer".
#include <gtest/gtest.h>

#include "printer_fixture.h"
#include "printers/printer_inventory.h"
#include "printers/printer_removal.h"
#include "printers/printer_restore.h"

namespace {
// The lines AddProductPrinter logs for one printer when the product's monitor is registered.
std::string Added(const std::string& name) {
  return ">AddPrinter(" + name + ")\r\n  Let's check our port monitors\r\n  Port monitor is found\r\n  OK :)\r\n";
}
}  // namespace

class PrinterRestoreTest : public PrinterTest {
 protected:
  // The uninstall half of a reinstall: the product printers are saved and deleted.
  void RemoveProductPrinters() {
    Init();
    DeleteAllProductPrinters(&state);
    NewLog();
  }
};

TEST_F(PrinterRestoreTest, TwoSavedPrintersComeBackAsTheyWere) {
  winsim::PrinterEntry& front = ProductPrinter(u"Front", "keyFront");
  front.comment = u"by the door";
  front.location = u"Hall";
  front.shareName = u"FrontShare";
  front.attributes |= PRINTER_ATTRIBUTE_SHARED;
  winsim::PrinterEntry& back = ProductPrinter(u"Back", "keyBack");
  back.comment = std::nullopt;
  back.location = u"Store room";
  winsim::PutPrinter(u"Laser", u"Other Driver", u"LPT1:");
  winsim::M().spooler.defaultPrinter = u"Front";
  MarkDeleted("keyFront");
  MarkDeleted("keyBack");
  RemoveProductPrinters();
  winsim::M().spooler.defaultPrinter = u"Laser";

  RestorePrinters(&state);
  EXPECT_EQ(Added("Back") + Added("Front"), NewLog());  // the last one saved comes back first
  EXPECT_EQ(0, state.errorCount);
  EXPECT_EQ(0, state.depth);

  const winsim::PrinterEntry* f = winsim::FindPrinter(u"Front");
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(u"by the door", f->comment.value_or(u"(null)"));
  EXPECT_EQ(u"Hall", f->location.value_or(u"(null)"));
  EXPECT_EQ(u"FrontShare", f->shareName.value_or(u"(null)"));
  EXPECT_TRUE(f->attributes & PRINTER_ATTRIBUTE_SHARED);
  EXPECT_EQ(u"MarbleleafServer:", f->portName);
  EXPECT_EQ(u"Front", winsim::M().spooler.defaultPrinter);

  const winsim::PrinterEntry* b = winsim::FindPrinter(u"Back");
  ASSERT_NE(nullptr, b);
  // Created with an empty comment, then given the saved null one.
  EXPECT_FALSE(b->comment.has_value());
  EXPECT_EQ(u"Store room", b->location.value_or(u"(null)"));
  EXPECT_EQ(u"Back", b->shareName.value_or(u"(null)"));  // no share name: shared under its own name
  EXPECT_TRUE(b->attributes & PRINTER_ATTRIBUTE_SHARED);

  for (const char* key : {"keyFront", "keyBack"}) {
    const winsim::PrinterEntry* p = std::string(key) == "keyFront" ? f : b;
    const std::vector<uint8_t> expected(key, key + std::strlen(key) + 1);
    EXPECT_EQ(expected, p->data.at("").at("SubKey").data) << key;
    EXPECT_EQ(expected, p->data.at("DsUser").at("SubKey").data) << key;
    EXPECT_FALSE(MarkedDeleted(key)) << key;
    EXPECT_NE(nullptr, winsim::GetRegValue(HKEY_CURRENT_USER, SettingsPath(key), u"paper")) << key;
  }
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"mblServer"));
  EXPECT_NE(nullptr, state.savedPrinters);  // walked, not consumed
}

TEST_F(PrinterRestoreTest, OneSavedPrinterIsRestoredInTheOrderOfItsCalls) {
  ProductPrinter(u"P", "keyP").attributes |= PRINTER_ATTRIBUTE_SHARED;
  winsim::M().spooler.defaultPrinter = u"P";
  MarkDeleted("keyP");
  RemoveProductPrinters();
  // The plain form is not kept, so the name is read back from the "DsUser" form.
  winsim::FailNext("SetPrinterDataA", ERROR_ACCESS_DENIED);
  winsim::M().tracing = true;
  RestorePrinters(&state);
  std::vector<std::string> calls;
  for (const std::string& call : winsim::M().trace)
    if (call != "GlobalAlloc" && call != "FormatMessageW") calls.push_back(call);
  EXPECT_EQ((std::vector<std::string>{"EnumMonitorsW", "EnumMonitorsW", "AddPrinterW", "SetPrinterDataA",
                                      "SetPrinterDataExA", "GetPrinterDataA", "GetPrinterDataExA",
                                      // the mark is cleared in the signed-in user's hive, as that user
                                      "ProcessIdToSessionId", "GetShellWindow", "GetWindowThreadProcessId",
                                      "OpenProcess", "OpenProcessToken", "DuplicateTokenEx", "CloseHandle",
                                      "CloseHandle", "ImpersonateLoggedOnUser", "RegOpenCurrentUser", "RegOpenKeyExA",
                                      "RegDeleteValueA", "RegCloseKey", "RegCloseKey", "RevertToSelf", "CloseHandle",
                                      "GetPrinterW", "GetPrinterW", "SetPrinterW",
                                      // the default is set as the signed-in user, through their shell's token
                                      "ProcessIdToSessionId", "GetShellWindow", "GetWindowThreadProcessId",
                                      "OpenProcess", "OpenProcessToken", "DuplicateTokenEx", "CloseHandle",
                                      "CloseHandle", "ImpersonateLoggedOnUser", "SetDefaultPrinterW", "RevertToSelf",
                                      "CloseHandle", "SetPrinterW", "ClosePrinter"}),
            calls);
  EXPECT_FALSE(MarkedDeleted("keyP"));
  EXPECT_EQ(u"P", winsim::M().spooler.defaultPrinter);
}

TEST_F(PrinterRestoreTest, DefaultStatusIsRestoredOnlyForTheFormerDefault) {
  ProductPrinter(u"Only", "keyOnly");
  winsim::PutPrinter(u"Laser", u"Other Driver", u"LPT1:");
  winsim::M().spooler.defaultPrinter = u"Laser";
  RemoveProductPrinters();
  RestorePrinters(&state);
  EXPECT_NE(nullptr, winsim::FindPrinter(u"Only"));
  EXPECT_EQ(u"Laser", winsim::M().spooler.defaultPrinter);
  EXPECT_EQ(0, winsim::CallCount("SetDefaultPrinterW"));
}

TEST_F(PrinterRestoreTest, EmptyShareNameIsPassedUnchanged) {
  winsim::PrinterEntry& p = ProductPrinter(u"Quiet", "keyQuiet");
  p.shareName = u"";
  RemoveProductPrinters();
  const int setPrinterCalls = winsim::CallCount("SetPrinterW");
  RestorePrinters(&state);
  // The spooler refuses to share under an empty name; the printer's own name is not put in its place.
  const winsim::PrinterEntry* restored = winsim::FindPrinter(u"Quiet");
  ASSERT_NE(nullptr, restored);
  EXPECT_FALSE(restored->attributes & PRINTER_ATTRIBUTE_SHARED);
  EXPECT_EQ(u"(null)", restored->shareName.value_or(u"(null)"));
  EXPECT_EQ(setPrinterCalls + 2, winsim::CallCount("SetPrinterW"));
  EXPECT_EQ(0, state.errorCount);
}

TEST_F(PrinterRestoreTest, PrinterThatCannotBeAddedIsErrorFifteenAndNoServerPrinter) {
  ProductPrinter(u"A", "keyA");
  ProductPrinter(u"B", "keyB");
  ProductPrinter(u"C", "keyC");
  RemoveProductPrinters();
  winsim::FailCall("AddPrinterW", ERROR_ACCESS_DENIED, 1, 2);
  RestorePrinters(&state);
  EXPECT_EQ(Added("C") +
                ">AddPrinter(B)\r\n  Let's check our port monitors\r\n  Port monitor is found\r\n"
                "  Error(15): Can`t add printer 'B' - (Access is denied.)\r\n" +
                Added("A"),
            NewLog());
  EXPECT_EQ(1, state.errorCount);
  EXPECT_NE(nullptr, winsim::FindPrinter(u"A"));
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"B"));
  EXPECT_NE(nullptr, winsim::FindPrinter(u"C"));
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"mblServer"));
  EXPECT_EQ(2u, winsim::M().spooler.printers.size());
}

TEST_F(PrinterRestoreTest, NothingSavedCreatesOneSharedServerPrinter) {
  ProductPrinter(u"NoKey");  // deleted, but without a settings key it is not recreated
  RemoveProductPrinters();
  RestorePrinters(&state);
  EXPECT_EQ(Added("mblServer"), NewLog());
  ASSERT_EQ(1u, winsim::M().spooler.printers.size());
  const winsim::PrinterEntry& server = winsim::M().spooler.printers[0];
  EXPECT_EQ(u"mblServer", server.name);
  EXPECT_EQ(u"mblServer", server.shareName.value_or(u"(null)"));
  EXPECT_TRUE(server.attributes & PRINTER_ATTRIBUTE_SHARED);
  EXPECT_EQ(u"", server.comment.value_or(u"(null)"));
  EXPECT_FALSE(server.location.has_value());
  EXPECT_EQ(u"Marbleleaf Server", server.driverName);
  EXPECT_EQ(u"WinPrint", server.printProcessor);
  EXPECT_TRUE(winsim::M().spooler.defaultPrinter.empty());

  // Sharing refused, or the close failing: nothing is reported.
  winsim::M().spooler.printers.clear();
  winsim::FailNext("SetPrinterW", ERROR_ACCESS_DENIED);
  winsim::FailNext("ClosePrinter", ERROR_INVALID_HANDLE);
  RestorePrinters(&state);
  EXPECT_EQ(Added("mblServer"), NewLog());
  EXPECT_EQ(0, state.errorCount);
  ASSERT_EQ(1u, winsim::M().spooler.printers.size());
  EXPECT_FALSE(winsim::M().spooler.printers[0].attributes & PRINTER_ATTRIBUTE_SHARED);
  winsim::M().spooler.handles.clear();

  // Outside server mode it is not shared.
  winsim::M().spooler.printers.clear();
  state.serverMode = false;
  RestorePrinters(&state);
  ASSERT_EQ(1u, winsim::M().spooler.printers.size());
  EXPECT_FALSE(winsim::M().spooler.printers[0].attributes & PRINTER_ATTRIBUTE_SHARED);
}

TEST_F(PrinterRestoreTest, EverySavedPrinterFailingToAddFallsBackToServerPrinter) {
  ProductPrinter(u"A", "keyA");
  RemoveProductPrinters();
  winsim::FailCall("AddPrinterW", ERROR_ACCESS_DENIED, -1);
  RestorePrinters(&state);
  EXPECT_EQ(2, state.errorCount);
  EXPECT_NE(std::string::npos, Log().find("  Error(15): Can`t add printer 'mblServer' - (Access is denied.)\r\n"));
  EXPECT_TRUE(winsim::M().spooler.printers.empty());
  EXPECT_EQ(2, winsim::CallCount("AddPrinterW"));
}

TEST_F(PrinterRestoreTest, MissingMonitorIsListedAndThePrinterAddedAnyway) {
  auto& monitors = winsim::M().spooler.monitors;
  monitors.pop_back();  // the product's monitor
  monitors[0].ports.push_back(u"MarbleleafServer:");  // a local port of that name still exists
  Init();
  RestorePrinters(&state);
  EXPECT_EQ(">AddPrinter(mblServer)\r\n"
            "  Let's check our port monitors\r\n"
            "  No Marbleleaf port monitor was found.\r\n"
            "  ------- 2 existing monitors ----------\r\n"
            "  1. Local Port\r\n"
            "  2. Standard TCP/IP Port\r\n"
            "  ---------------------------------------\r\n"
            "  OK :)\r\n",
            NewLog());
  EXPECT_NE(nullptr, winsim::FindPrinter(u"mblServer"));
}

TEST_F(PrinterRestoreTest, NoMonitorsAtAll) {
  winsim::M().spooler.monitors.clear();
  winsim::M().spooler.builtinPorts.push_back(u"MarbleleafServer:");
  Init();
  HANDLE printer = AddProductPrinter(&state, u"Solo");
  ASSERT_NE(nullptr, printer);
  EXPECT_TRUE(ClosePrinter(printer));
  EXPECT_EQ(nullptr, AddProductPrinter(&state, nullptr));
  const std::string noMonitors =
      "  Let's check our port monitors\r\n"
      "  1. EnumMonitors returns true\r\n"  // an empty enumeration succeeds at once
      "  No Marbleleaf port monitor was found.\r\n"
      "  BTW, there is no port monitors on this system.\r\n";
  EXPECT_EQ(">AddPrinter(Solo)\r\n" + noMonitors + "  OK :)\r\n" +
                ">AddPrinter(*)\r\n" + noMonitors +
                "  Error(15): Can`t add printer '(null)' - (The printer name is invalid.)\r\n",
            NewLog());
  EXPECT_EQ(1, state.errorCount);
}

// Each call after AddPrinterW may fail; the restoration goes on silently and still counts the
// printer as recreated.
TEST_F(PrinterRestoreTest, LaterFailuresAreSilent) {
  struct Case {
    const char* call;
    bool shared, isDefault, commentBack, markCleared;
  };
  const Case cases[] = {
      {"SetPrinterDataA", true, true, true, true},      // the DsUser form still carries the key
      {"SetPrinterDataExA", true, true, true, false},   // not kept: the mark is left alone
      {"GetPrinterDataA", true, true, true, true},      // read back through DsUser
      {"RegOpenKeyExA", true, true, true, false},
      {"RegDeleteValueA", true, true, true, false},
      {"GetPrinterW", false, false, false, true},       // no description: nothing more restored
      {"SetDefaultPrinterW", true, false, true, true},
      {"EnumMonitorsW", true, true, true, true},
  };
  for (const Case& c : cases) {
    winsim::Reset();
    SetUp();
    winsim::PrinterEntry& p = ProductPrinter(u"P", "keyP");
    p.comment = u"old comment";
    winsim::M().spooler.defaultPrinter = u"P";
    MarkDeleted("keyP");
    RemoveProductPrinters();
    winsim::FailNext(c.call, ERROR_ACCESS_DENIED);
    RestorePrinters(&state);
    const winsim::PrinterEntry* restored = winsim::FindPrinter(u"P");
    ASSERT_NE(nullptr, restored) << c.call;
    EXPECT_EQ(0, state.errorCount) << c.call;
    EXPECT_EQ(c.shared, (restored->attributes & PRINTER_ATTRIBUTE_SHARED) != 0) << c.call;
    EXPECT_EQ(c.isDefault, winsim::M().spooler.defaultPrinter == u"P") << c.call;
    EXPECT_EQ(c.commentBack, restored->comment == std::optional<std::u16string>(u"old comment")) << c.call;
    EXPECT_EQ(c.markCleared, !MarkedDeleted("keyP")) << c.call;
    EXPECT_EQ(nullptr, winsim::FindPrinter(u"mblServer")) << c.call;
    FreeInstallerState(&state);
    initialised = false;
    EXPECT_EQ(0, winsim::M().globalBlocks) << c.call;
    EXPECT_TRUE(winsim::M().spooler.handles.empty()) << c.call;
  }
}

TEST_F(PrinterRestoreTest, FailedSetPrinterLeavesTheRestInPlace) {
  winsim::PrinterEntry& p = ProductPrinter(u"P", "keyP");
  p.comment = u"old comment";
  winsim::M().spooler.defaultPrinter = u"P";
  RemoveProductPrinters();
  winsim::FailCall("SetPrinterW", ERROR_ACCESS_DENIED, -1, winsim::CallCount("SetPrinterW") + 1);
  RestorePrinters(&state);
  EXPECT_EQ(Added("P"), NewLog());
  const winsim::PrinterEntry* restored = winsim::FindPrinter(u"P");
  ASSERT_NE(nullptr, restored);
  EXPECT_EQ(u"", restored->comment.value_or(u"(null)"));
  EXPECT_FALSE(restored->attributes & PRINTER_ATTRIBUTE_SHARED);
  EXPECT_EQ(u"P", winsim::M().spooler.defaultPrinter);

  // A failed close is not reported either.
  winsim::M().spooler.printers.clear();
  winsim::FailNext("ClosePrinter", ERROR_INVALID_HANDLE);
  RestorePrinters(&state);
  EXPECT_EQ(0, state.errorCount);
  winsim::M().spooler.handles.clear();  // the handle the failed close left open
}

// Another process held one printer open and the other was printing a job, so Windows only marked
// them for deletion and their names are still taken: one spooler restart completes both
// deletions, and each printer is added again.
TEST_F(PrinterRestoreTest, PrintersPendingDeletionComeBackAfterOneSpoolerRestart) {
  ProductPrinter(u"Front", "keyFront").otherHandles = 1;
  ProductPrinter(u"Back", "keyBack").jobPrinting = true;
  RemoveProductPrinters();
  ASSERT_NE(nullptr, winsim::FindPrinter(u"Front"));
  EXPECT_TRUE(winsim::FindPrinter(u"Front")->pendingDeletion);
  EXPECT_TRUE(winsim::FindPrinter(u"Back")->pendingDeletion);
  const int stops = winsim::Spooler().stops;
  RestorePrinters(&state);
  EXPECT_EQ(">AddPrinter(Back)\r\n  Let's check our port monitors\r\n  Port monitor is found\r\n"
            "  Printer is pending deletion. Trying to restart spooler\r\n  >Restart Spooler\r\n  OK :)\r\n" +
                Added("Front"),
            NewLog());
  EXPECT_EQ(stops + 1, winsim::Spooler().stops);
  EXPECT_EQ(0, state.errorCount);
  for (const char16_t* name : {u"Front", u"Back"}) {
    ASSERT_NE(nullptr, winsim::FindPrinter(name));
    EXPECT_FALSE(winsim::FindPrinter(name)->pendingDeletion);
    EXPECT_TRUE(winsim::FindPrinter(name)->data.count("DsUser"));
  }
}

TEST_F(PrinterRestoreTest, APrinterStillTakenAfterTheRestartIsErrorFifteen) {
  ProductPrinter(u"Front", "keyFront").otherHandles = 1;
  RemoveProductPrinters();
  winsim::FailCall("AddPrinterW", ERROR_PRINTER_ALREADY_EXISTS, 1, winsim::CallCount("AddPrinterW") + 2);
  RestorePrinters(&state);
  EXPECT_NE(std::string::npos,
            NewLog().find("  >Restart Spooler\r\n  Error(15): Can`t add printer 'Front' - (The printer already exists.)\r\n"));
  EXPECT_EQ(1, state.errorCount);
  // A name taken by a printer this run did not delete is taken for another reason: no restart.
  const int stops = winsim::Spooler().stops;
  winsim::PutPrinter(u"Other", u"Marbleleaf Server", u"MarbleleafServer:");
  EXPECT_EQ(nullptr, AddProductPrinter(&state, u"Other"));
  EXPECT_EQ(stops, winsim::Spooler().stops);
  EXPECT_EQ(2, state.errorCount);
}

// The user's hive that can't be opened keeps the mark; a hive handle that can't be closed costs
// nothing else. The printer comes back either way.
TEST_F(PrinterRestoreTest, FailuresOnTheUsersHiveKeepOrClearTheMarkOnly) {
  struct Case {
    const char* call;
    int nth;
    bool marked;
  };
  const Case cases[] = {{"RegOpenCurrentUser", 1, true}, {"RegCloseKey", 2, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    winsim::Reset();
    SetUp();
    ProductPrinter(u"P", "keyP");
    MarkDeleted("keyP");
    RemoveProductPrinters();
    winsim::FailCall(c.call, ERROR_INVALID_HANDLE, 1, c.nth);
    RestorePrinters(&state);
    EXPECT_NE(nullptr, winsim::FindPrinter(u"P"));
    EXPECT_EQ(c.marked, MarkedDeleted("keyP"));
    EXPECT_EQ(0, state.errorCount);
    if (!c.marked) {
      ASSERT_EQ(1u, winsim::M().registry.handles.size());  // the hive's handle, whose close failed
      winsim::M().registry.handles.clear();
    }
    FreeInstallerState(&state);
    initialised = false;
  }
}
