// Session Manager at boot: the pending renames and deletions that PendingFileRenameOperations and
// PendingFileRenameOperations2 hold are carried out, and nothing stays open or locked across the
// restart. Reboot() is the test's way to restart the machine; it is not a Windows call, so it
// neither counts nor fails.
//
// Where Wine 8 differs from Windows: Wine has no boot; wineboot carries out the value's pairs when
// a prefix starts.
// Not modelled: the other boot-time work of Session Manager (AllowProtectedRenames, known DLLs,
// environment), and a power cut in the middle of the pairs.
#include "winsim/machine.h"
#include "name_keys.h"

namespace winsim {

const char* const kSessionManagerKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char16_t* const kPendingRenamesValue = u"PendingFileRenameOperations";
const char16_t* const kPendingRenames2Value = u"PendingFileRenameOperations2";

namespace {
// The NT path "\??\X:\..." as the Win32 path "X:\..."; empty for anything else: Session Manager
// runs before the network and works on NT paths only, so "\??\UNC\..." and bare Win32 paths fail.
std::u16string BootPath(std::u16string entry) {
  // Current builds mark a source "*1\??\..." ("*2" has been seen too): a "*" and digits in front.
  if (!entry.empty() && entry[0] == u'*') {
    size_t digits = 1;
    while (digits < entry.size() && entry[digits] >= u'0' && entry[digits] <= u'9') ++digits;
    if (digits > 1) entry.erase(0, digits);
  }
  if (entry.size() < 7 || entry.compare(0, 4, u"\\??\\") != 0) return std::u16string();
  const char16_t drive = UpperChar(entry[4]);
  if (drive < u'A' || drive > u'Z' || entry[5] != u':' || entry[6] != u'\\') return std::u16string();
  return entry.substr(4);
}

bool HasChildren(const std::u16string& key) {
  const std::u16string prefix = key + u"\\";
  auto it = M().files.entries.lower_bound(prefix);
  return it != M().files.entries.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}
}  // namespace

// Session Manager at boot: PendingFileRenameOperations, then PendingFileRenameOperations2, each
// value's pairs in order until an empty source, sources with or without the marker of current
// builds; an empty target deletes the source (a folder only when empty), a target renames it,
// replacing an existing file only when the target starts with "!". A pair that can't be carried
// out is skipped.
void Reboot() {
  for (const char16_t* name : {kPendingRenamesValue, kPendingRenames2Value}) {
    const RegValue* value = GetRegValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, name);
    if (!value) continue;
    std::vector<std::u16string> strings;
    std::u16string current;
    for (size_t i = 0; i + 1 < value->data.size(); i += 2) {
      const char16_t c = static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8));
      if (c) {
        current += c;
      } else {
        strings.push_back(current);
        current.clear();
      }
    }
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
      if (strings[i].empty()) break;
      const std::u16string source = BootPath(strings[i]);
      FileEntry* entry = source.empty() ? nullptr : FindFile(source);
      if (!entry) continue;
      if (strings[i + 1].empty()) {
        if (!(entry->isDirectory && HasChildren(PathKey(source)))) RemoveFile(source);
        continue;
      }
      const bool replace = strings[i + 1][0] == u'!';
      const std::u16string target = BootPath(replace ? strings[i + 1].substr(1) : strings[i + 1]);
      if (target.empty()) continue;
      const FileEntry* existing = FindFile(target);
      if (existing && (!replace || existing->isDirectory)) continue;
      const size_t slash = target.find_last_of(u'\\');
      const FileEntry* parent = FindFile(target.substr(0, slash));
      if (slash > 2 && (!parent || !parent->isDirectory)) continue;
      FileEntry moved = *entry;
      moved.path = target;
      RemoveFile(source);
      M().files.entries[PathKey(target)] = moved;
    }
    DeleteRegValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, name);
  }
  // Nothing stays open or loaded across a reboot; the clock goes on.
  for (auto& item : M().files.entries) {
    item.second.lockedUntil = 0;
    item.second.openHandles = 0;
  }
}

}  // namespace winsim
