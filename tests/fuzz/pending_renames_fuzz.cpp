// The fuzzer's bytes are a pending value, read with product files (the tray program among them), a
// foreign file and a folder present. The first byte chooses between an uninstall's and a
// reinstall's clean-up (bit 0) and between PendingFileRenameOperations and its second value
// (bit 1); the other value holds a marked foreign entry. The reading, the purge, the take-out and
// the release must stay inside the value's data (ASan), keep the table consistent, touch only
// product files (never the tray program in a reinstall), change the value only by whole product
// pairs, leave the other value alone, and give back every global block. The seeds hold entries
// with and without the "*<digits>" marker.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/product_files.h"
#include "system/pending_renames.h"
#include "winsim/machine.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

const char16_t* const kMon = u"C:\\Windows\\system32\\mlxmon64.dll";
const char16_t* const kDrv = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mlxdrv64.dll";
const char16_t* const kForeign = u"C:\\T\\b.dll";
const char16_t* const kTray = u"C:\\Program Files\\Marbleleaf\\mbltray.exe";

std::vector<uint8_t> ValueNow(const char16_t* name) {
  const winsim::RegValue* value = winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, name);
  return value ? value->data : std::vector<uint8_t>();
}

// The pairs of a table as text, null entries empty.
std::vector<std::u16string> Pairs(const PendingRenameTable& table, const std::vector<bool>& skip) {
  std::vector<std::u16string> out;
  for (int k = 0; k < table.pairCount; ++k) {
    if (!skip.empty() && skip[k]) continue;
    out.push_back(table.pairs[k].source ? table.pairs[k].source : u"");
    out.push_back(table.pairs[k].target ? table.pairs[k].target : u"");
  }
  return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool installing = data[0] & 1;
  const int which = (data[0] >> 1) & 1;
  const char16_t* const valueName = which ? winsim::kPendingRenames2Value : winsim::kPendingRenamesValue;
  const char16_t* const otherName = which ? winsim::kPendingRenamesValue : winsim::kPendingRenames2Value;
  winsim::Reset();
  winsim::PutFolder(u"C:\\T");
  winsim::PutFile(kMon, "m");
  winsim::PutFile(kDrv, "d");
  winsim::PutFile(kForeign, "b");
  winsim::PutFile(kTray, "t");
  winsim::PutFolder(u"C:\\Windows\\system32\\mlxmon32.dll");
  const std::vector<uint8_t> value(data + 1, data + size);
  winsim::SetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, valueName, REG_MULTI_SZ, value);
  winsim::SetRegMultiString(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, otherName, {u"*1\\??\\C:\\T\\b.dll", u""});
  const std::vector<uint8_t> other = ValueNow(otherName);
  CountedString systemDir = nullptr;
  CountedString installerDir = nullptr;
  Assign(systemDir, u"C:\\Windows\\system32\\");
  Assign(installerDir, u"C:\\Program Files\\Marbleleaf\\app\\");
  ProductFiles files;
  FindProductFiles(&files, systemDir, installerDir);

  PendingRenameTable table;
  ReadPendingRenames(&table, kPendingValues[which]);
  Check(table.pairCount >= 0);
  Check((table.pairCount == 0) == (table.pairs == nullptr));
  // No more strings than the data can hold: each takes at least one code unit.
  Check(static_cast<size_t>(table.pairCount) * 2 <= value.size() / 2);
  for (int i = 0; i < 2 * table.pairCount; ++i) {
    const PendingPair& pair = table.pairs[i / 2];
    LPCWSTR entry = i % 2 ? pair.target : pair.source;
    const bool isFile = i % 2 ? pair.targetIsFile : pair.sourceIsFile;
    if (!entry) Check(!isFile);
    else Check(entry[0] != 0);
    if (isFile) {
      LPCWSTR path = PendingDrivePath(entry);
      Check(path != nullptr);
      const winsim::FileEntry* entry = winsim::FindFile(path);
      Check(entry && !entry->isDirectory);
    }
  }

  // Only the product's files that pending deletes name go; the foreign file and folders stay.
  MarkProductDeletes(&table, &files, installing);
  std::set<std::u16string> deleted;
  for (int k = 0; k < table.pairCount; ++k)
    if (table.pairs[k].own && !table.pairs[k].keepFile)
      deleted.insert(winsim::PathKey(PendingDrivePath(table.pairs[k].source)));
  PurgePendingDeletes(&table);
  for (const char16_t* file : {kMon, kDrv, kTray})
    Check(winsim::FileExists(file) != (deleted.count(winsim::PathKey(file)) > 0));
  if (installing) Check(winsim::FileExists(kTray));
  Check(winsim::FileExists(kForeign));
  Check(winsim::FindFile(u"C:\\Windows\\system32\\mlxmon32.dll") != nullptr);

  // The value loses whole product pairs or nothing.
  TakeOutPendingDeletes(nullptr, &table, installing);
  std::vector<bool> dropped(static_cast<size_t>(table.pairCount));
  bool any = false;
  for (int k = 0; k < table.pairCount; ++k) {
    dropped[k] = table.pairs[k].own && (installing || table.pairs[k].carriedOut);
    any = any || dropped[k];
  }
  const std::vector<uint8_t> now = ValueNow(valueName);
  Check(ValueNow(otherName) == other);
  if (!table.whole || !any) {
    Check(now == value);
  } else {
    PendingRenameTable after;
    ReadPendingRenames(&after, kPendingValues[which]);
    Check(Pairs(after, {}) == Pairs(table, dropped));
    Check(now.empty() || after.whole);
    FreePendingRenames(&after);
  }

  FreePendingRenames(&table);
  Check(table.pairs == nullptr && table.pairCount == 0);
  ReleaseProductFiles(&files);
  Release(installerDir);
  Release(systemDir);
  Check(winsim::M().globalBlocks == 0);
  return 0;
}
