// The fuzzer's bytes are the PendingFileRenameOperations value, read with a few files and a folder
// present. The reading, the purge and the release must stay inside the value's data (ASan), keep
// the table consistent and give back every global block.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "system/pending_files.h"
#include "winsim/machine.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

// The path without the "\\??\\" prefix that Windows writes.
const char16_t* Name(const char16_t* path) {
  const bool prefixed = path[0] == u'\\' && path[1] == u'?' && path[2] == u'?' && path[3] == u'\\';
  return prefixed ? path + 4 : path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  winsim::Reset();
  winsim::PutFolder(u"C:\\T");
  winsim::PutFile(u"C:\\T\\a", "a");
  winsim::PutFile(u"C:\\T\\b.dll", "b");
  winsim::PutFolder(u"C:\\T\\d");
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenamesValue, REG_MULTI_SZ,
                      std::vector<uint8_t>(data, data + size));

  PendingRenameTable table;
  ReadPendingRenames(&table);
  Check(table.pairCount >= 0);
  Check((table.pairCount == 0) == (table.paths == nullptr));
  Check((table.pairCount == 0) == (table.isFile == nullptr));
  // No more strings than the data can hold: each takes at least one code unit.
  Check(static_cast<size_t>(table.pairCount) * 2 <= size / 2);
  for (int i = 0; i < 2 * table.pairCount; ++i) {
    Check(table.isFile[i] == 0 || table.isFile[i] == 1);
    if (!table.paths[i]) Check(table.isFile[i] == 0);
    else Check(table.paths[i][0] != 0);
    if (table.isFile[i]) {
      const winsim::FileEntry* entry = winsim::FindFile(Name(table.paths[i]));
      Check(entry && !entry->isDirectory);
    }
  }

  // The files that pending deletes name go; every other file stays, and folders always stay.
  std::set<std::u16string> deleted;
  for (int k = 0; k < table.pairCount; ++k)
    if (table.paths[2 * k] && !table.paths[2 * k + 1]) deleted.insert(winsim::PathKey(Name(table.paths[2 * k])));
  PurgePendingDeletes(&table, &files);
  for (const char16_t* file : {u"C:\\T\\a", u"C:\\T\\b.dll"})
    Check(winsim::FileExists(file) != (deleted.count(winsim::PathKey(file)) > 0));
  Check(winsim::FindFile(u"C:\\T\\d") != nullptr);

  FreePendingRenames(&table);
  Check(table.paths == nullptr && table.isFile == nullptr && table.pairCount == 0);
  Check(winsim::M().globalBlocks == 0);
  return 0;
}
