// The name index behind the per-printer lookups, and the saved list found through it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "printer_fixture.h"
#include "printers/saved_printers.h"
#include "support/name_index.h"

namespace {
TEST(NameIndexTest, FindsExactlyTheNamesFiledAndTheLastItemOfEach) {
  // Enough names to make the table grow several times; the strings stay the caller's.
  std::vector<std::u16string> names;
  for (int i = 0; i < 5000; ++i) {
    const std::string number = std::to_string(i);
    names.push_back(u"Printer " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                    std::u16string(number.begin(), number.end()));
  }
  NameIndex index = {nullptr, 0, 0, false};
  std::vector<int> items(names.size());
  for (size_t i = 0; i < names.size(); ++i) ASSERT_TRUE(PutName(&index, names[i].c_str(), &items[i]));
  int replaced = 0;
  ASSERT_TRUE(PutName(&index, names[7].c_str(), &replaced));
  EXPECT_TRUE(PutName(&index, nullptr, &replaced));  // not filed
  EXPECT_EQ(names.size(), index.used);

  struct Case {
    std::u16string name;
    const void* expected;
  } cases[] = {
      {names[0], &items[0]},
      {names[4999], &items[4999]},
      {names[7], &replaced},
      {u"printer A0", nullptr},  // a name differs in case: another printer
      {u"Printer A0 ", nullptr},
      {u"Printer A", nullptr},
      {u"", nullptr},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, FindName(&index, c.name.c_str())) << std::string(c.name.begin(), c.name.end());
  EXPECT_EQ(nullptr, FindName(&index, nullptr));
  FreeNameIndex(&index);
  EXPECT_EQ(nullptr, index.slots);
  EXPECT_EQ(nullptr, FindName(&index, names[0].c_str()));
}

using SavedPrintersTest = PrinterTest;

// The index and the walk it replaces give the same answers: the newest node of a name.
TEST_F(SavedPrintersTest, LookupByIndexAnswersAsTheWalkOfTheList) {
  Init();
  WCHAR a[] = u"Alpha", b[] = u"Beta", alsoA[] = u"Alpha", upperA[] = u"ALPHA";
  PRINTER_INFO_2W entries[3] = {};
  entries[0].pPrinterName = a;
  entries[1].pPrinterName = b;
  entries[2].pPrinterName = alsoA;
  SavedPrinter* first = PushSavedPrinter(&state, "k1", &entries[0]);
  SavedPrinter* beta = PushSavedPrinter(&state, "k2", &entries[1]);
  SavedPrinter* newest = PushSavedPrinter(&state, "k3", &entries[2]);
  ASSERT_TRUE(first && beta && newest);
  for (bool walk : {false, true}) {
    state.savedIndex.incomplete = walk;
    EXPECT_EQ(newest, FindSavedPrinter(&state, a)) << walk;
    EXPECT_EQ(beta, FindSavedPrinter(&state, b)) << walk;
    EXPECT_EQ(nullptr, FindSavedPrinter(&state, upperA)) << walk;
    EXPECT_EQ(nullptr, FindSavedPrinter(&state, nullptr)) << walk;
  }
}
}  // namespace
