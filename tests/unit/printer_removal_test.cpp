// Deleting the product's printers: which ones, what is saved first, and what the log shows.
#include <gtest/gtest.h>

#include "printer_fixture.h"
#include "printers/printer_inventory.h"
#include "printers/printer_removal.h"

namespace {
int SavedCount(const SavedPrinter* node) {
  int n = 0;
  for (; node; node = node->next) ++n;
  return n;
}
}  // namespace

using PrinterRemovalTest = PrinterTest;

TEST_F(PrinterRemovalTest, TwoProductPrintersAreDeletedWithFiveLogLines) {
  ProductPrinter(u"Front Desk", "key1").jobs = 3;  // purged first, so it goes at once
  winsim::PutPrinter(u"Laser", u"Other Driver", u"LPT1:");
  ProductPrinter(u"Back Office", "key2");
  Init();
  DeleteAllProductPrinters(&state);
  // Each deletion asks for no more access than it needs; the key is read with the default access.
  int deletions = 0;
  for (const winsim::PrinterHandle& opened : winsim::M().spooler.opened) {
    if (opened.access == PRINTER_ACCESS_USE) continue;
    EXPECT_EQ(static_cast<ACCESS_MASK>(DELETE | PRINTER_ACCESS_ADMINISTER), opened.access) << Narrow(opened.printer);
    ++deletions;
  }
  EXPECT_EQ(2, deletions);
  EXPECT_EQ(">DeleteAllPrinters\r\n"
            "  >DeletePrinter(Front Desk)\r\n"
            "    OK\r\n"
            "  >DeletePrinter(Back Office)\r\n"
            "    OK\r\n",
            NewLog());
  EXPECT_EQ(0, state.depth);
  EXPECT_EQ(0, state.errorCount);
  ASSERT_EQ(1u, winsim::M().spooler.printers.size());
  EXPECT_EQ(u"Laser", winsim::M().spooler.printers[0].name);
  // The inventory still describes the deleted printers, and the saved list points at them.
  EXPECT_EQ(3u, state.printers.count);
  ASSERT_EQ(2, SavedCount(state.savedPrinters));
  EXPECT_STREQ("key2", state.savedPrinters->settingsKey);
  EXPECT_EQ("Back Office", Narrow(state.savedPrinters->entry->pPrinterName));
}

TEST_F(PrinterRemovalTest, UnopenablePrinterIsErrorSixteenAndTheOthersGo) {
  ProductPrinter(u"A", "keyA");
  ProductPrinter(u"B", "keyB");
  ProductPrinter(u"C", "keyC");
  Init();
  state.depth = 1;
  // Each printer is opened twice: to read its key, then to delete it.
  winsim::FailCall("OpenPrinterW", ERROR_ACCESS_DENIED, 1, 4);
  DeleteAllProductPrinters(&state);
  EXPECT_EQ("  >DeleteAllPrinters\r\n"
            "    >DeletePrinter(A)\r\n"
            "      OK\r\n"
            "    >DeletePrinter(B)\r\n"
            "      Error(16): Can`t open printer 'B' - (Access is denied.)\r\n"
            "    >DeletePrinter(C)\r\n"
            "      OK\r\n",
            NewLog());
  EXPECT_EQ(1, state.depth);
  EXPECT_EQ(1, state.errorCount);
  ASSERT_EQ(1u, winsim::M().spooler.printers.size());
  EXPECT_EQ(u"B", winsim::M().spooler.printers[0].name);
  EXPECT_EQ(3, SavedCount(state.savedPrinters));
}

TEST_F(PrinterRemovalTest, DriverNamesThatOnlyResembleTheProductAreLeftAlone) {
  winsim::PutPrinter(u"Case", u"marbleleaf server", u"LPT1:");
  winsim::PutPrinter(u"Blank", u"Marbleleaf Server ", u"LPT1:");
  winsim::PutPrinter(u"Longer", u"Marbleleaf Servers", u"LPT1:");
  winsim::PutPrinter(u"Shorter", u"Marbleleaf Serve", u"LPT1:");
  Init();
  DeleteAllProductPrinters(&state);
  EXPECT_EQ(">DeleteAllPrinters\r\n", NewLog());
  EXPECT_EQ(4u, winsim::M().spooler.printers.size());
  EXPECT_EQ(0, winsim::CallCount("OpenPrinterW"));
}

TEST_F(PrinterRemovalTest, PrinterWithoutKeyIsDeletedButNotSaved) {
  ProductPrinter(u"Plain");
  Init();
  DeleteAllProductPrinters(&state);
  EXPECT_EQ(">DeleteAllPrinters\r\n  >DeletePrinter(Plain)\r\n    OK\r\n", NewLog());
  EXPECT_EQ(nullptr, state.savedPrinters);
  EXPECT_TRUE(winsim::M().spooler.printers.empty());
}

TEST_F(PrinterRemovalTest, RefusedDeletionIsErrorSeventeenWithItsSystemText) {
  ProductPrinter(u"Stuck", "key");
  Init();
  winsim::FailNext("DeletePrinter", ERROR_ACCESS_DENIED);
  DeletePrinterByName(&state, u"Stuck");
  EXPECT_EQ(">DeletePrinter(Stuck)\r\n"
            "  Error(17): Can`t delete printer 'Stuck' - (Access is denied.)\r\n",
            NewLog());
  EXPECT_EQ(1, state.errorCount);
  EXPECT_EQ(1, winsim::FindPrinter(u"Stuck")->purges);  // purged first
  EXPECT_EQ(1, winsim::CallCount("ClosePrinter"));

  // A failed purge is not reported; the printer is deleted all the same.
  winsim::FailNext("SetPrinterW", ERROR_ACCESS_DENIED);
  DeletePrinterByName(&state, u"Stuck");
  EXPECT_EQ(">DeletePrinter(Stuck)\r\n  OK\r\n", NewLog());
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"Stuck"));

  // Nor is a failed close.
  ProductPrinter(u"Next");
  winsim::FailNext("ClosePrinter", ERROR_INVALID_HANDLE);
  DeletePrinterByName(&state, u"Next");
  EXPECT_EQ(">DeletePrinter(Next)\r\n  OK\r\n", NewLog());
  winsim::M().spooler.handles.clear();

  // A stopped spooler: the open fails with its own code.
  winsim::Spooler().state = SERVICE_STOPPED;
  DeletePrinterByName(&state, nullptr);
  EXPECT_EQ(">DeletePrinter(*)\r\n"
            "  Error(16): Can`t open printer '(null)' - (The RPC server is unavailable.)\r\n",
            NewLog());
  EXPECT_EQ(2, state.errorCount);
  winsim::Spooler().state = SERVICE_RUNNING;
}

TEST_F(PrinterRemovalTest, ClosePrinterHandleReportsTheClose) {
  ProductPrinter(u"P");
  HANDLE handle = nullptr;
  ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"P"), &handle, nullptr));
  winsim::FailNext("ClosePrinter", RPC_S_SERVER_UNAVAILABLE);
  EXPECT_FALSE(ClosePrinterHandle(handle));
  EXPECT_EQ(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), GetLastError());
  EXPECT_TRUE(ClosePrinterHandle(handle));
  EXPECT_FALSE(ClosePrinterHandle(handle));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

// A connection's server is asked read-only first: a handle for use, closed at once. Any refusal
// leaves the connection in place; a refused close does not stop the removal.
TEST_F(PrinterRemovalTest, AConnectionGoesOnlyWhenItsServerAnswersForUse) {
  winsim::PutServerQueue(u"\\\\HOST", u"Shared", u"Marbleleaf Server", u"MarbleleafServer:");
  winsim::PutConnection(u"\\\\HOST\\Shared");
  Init();
  winsim::FailNext("OpenPrinterW", ERROR_ACCESS_DENIED);
  DeleteAllProductPrinters(&state);
  EXPECT_EQ(">DeleteAllPrinters\r\n"
            "  >DeletePrinterConnection(\\\\HOST\\Shared)\r\n"
            "    The print server does not answer (5): the connection stays\r\n",
            NewLog());
  EXPECT_NE(nullptr, winsim::FindPrinter(u"\\\\HOST\\Shared"));
  EXPECT_EQ(0, state.errorCount);
  EXPECT_EQ(nullptr, state.savedPrinters);

  const int opens = winsim::CallCount("OpenPrinterW");
  winsim::FailNext("ClosePrinter", ERROR_INVALID_HANDLE);
  DeleteAllProductPrinters(&state);
  EXPECT_EQ(">DeleteAllPrinters\r\n"
            "  >DeletePrinterConnection(\\\\HOST\\Shared)\r\n"
            "    OK\r\n",
            NewLog());
  EXPECT_EQ(opens + 1, winsim::CallCount("OpenPrinterW"));
  ASSERT_EQ(1u, winsim::M().spooler.handles.size());
  EXPECT_EQ(static_cast<ACCESS_MASK>(PRINTER_ACCESS_USE), winsim::M().spooler.handles.begin()->second.access);
  EXPECT_EQ(u"\\\\HOST", winsim::M().spooler.handles.begin()->second.server);
  EXPECT_EQ(nullptr, winsim::FindPrinter(u"\\\\HOST\\Shared"));
  winsim::M().spooler.handles.clear();  // the handle whose close was refused
}
