#include "system/pending_renames.h"

#include <cstring>

#include "app/installer_state.h"
#include "app/log.h"
#include "support/ascii_text.h"

namespace {
const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const WCHAR kNtPrefix[] = TEXT("\\??\\");

// The value's data as read: a fixed global block and the number of bytes Windows reported.
struct ValueData {
  LPBYTE bytes;
  DWORD size;
  DWORD type;
};

// Asks for the size, then reads into a block of that size. Returns the status of the read;
// ERROR_MORE_DATA means the value grew in between.
LSTATUS QueryPendingValue(HKEY key, LPCWSTR name, ValueData* data) {
  DWORD size = 0;
  LSTATUS status = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size);
  if (status != ERROR_SUCCESS || size == 0) return status;
  LPBYTE block = static_cast<LPBYTE>(GlobalAlloc(GPTR, size));
  if (!block) return ERROR_NOT_ENOUGH_MEMORY;
  DWORD reported = size;
  status = RegQueryValueExW(key, name, nullptr, &data->type, block, &reported);
  if (status != ERROR_SUCCESS) {
    GlobalFree(block);
    return status;
  }
  data->bytes = block;
  data->size = reported < size ? reported : size;  // never more than the block holds
  return ERROR_SUCCESS;
}

// Reads the whole value; one that grew between the size query and the read is read once more.
ValueData ReadPendingValue(LPCWSTR name) {
  ValueData data = {nullptr, 0, REG_NONE};
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return data;
  if (QueryPendingValue(key, name, &data) == ERROR_MORE_DATA) QueryPendingValue(key, name, &data);
  RegCloseKey(key);
  return data;
}

// Length of the string at position, counted up to its terminator or the end of the data.
int StringLength(const WCHAR* units, int unitCount, int position) {
  int n = 0;
  while (position + n < unitCount && units[position + n] != 0) ++n;
  return n;
}

bool HasNtPrefix(LPCWSTR path) {
  for (int i = 0; i < 4; ++i)
    if (path[i] != kNtPrefix[i]) return false;
  return true;
}

bool IsDigit(WCHAR c) { return c >= TEXT('0') && c <= TEXT('9'); }

// Windows 10 from build 19045.6218 and Windows 11 write a delay-until-reboot source as
// "*1\??\C:\x" ("*2" has been seen too); the marker is undocumented. A "*" and digits count as one
// only in front of "\??\".
LPCWSTR SkipMarker(LPCWSTR entry) {
  if (entry[0] != TEXT('*') || !IsDigit(entry[1])) return entry;
  LPCWSTR rest = entry + 1;
  while (IsDigit(*rest)) ++rest;
  return HasNtPrefix(rest) ? rest : entry;
}

// Whether the value still holds what the table was read from: it is never rewritten over
// another program's change made in between. Returns the status of the read.
LSTATUS CompareValue(HKEY key, const PendingRenameTable* table, bool* same) {
  ValueData now = {nullptr, 0, REG_NONE};
  const LSTATUS status = QueryPendingValue(key, table->valueName, &now);
  *same = status == ERROR_SUCCESS && now.type == REG_MULTI_SZ && now.size == table->valueSize &&
          std::memcmp(now.bytes, table->value, now.size) == 0;
  if (now.bytes) GlobalFree(now.bytes);
  return status;
}

// The value without the pairs marked in `drop`: the kept pairs and the list's terminator, copied
// unit for unit in their order. Returns the number of code units written into `out`.
int SpliceValue(const PendingRenameTable* table, const bool* drop, WCHAR* out) {
  const WCHAR* units = reinterpret_cast<const WCHAR*>(table->value);
  const int unitCount = static_cast<int>(table->valueSize / 2);
  int position = 0;
  int written = 0;
  for (int k = 0; k < table->pairCount; ++k) {
    const int start = position;
    position += StringLength(units, unitCount, position) + 1;
    position += StringLength(units, unitCount, position) + 1;
    if (drop[k]) continue;
    std::memcpy(out + written, units + start, static_cast<size_t>(position - start) * sizeof(WCHAR));
    written += position - start;
  }
  std::memcpy(out + written, units + position, static_cast<size_t>(unitCount - position) * sizeof(WCHAR));
  return written + (unitCount - position);
}

bool IsExistingFile(LPCWSTR path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A zero-filled global copy of n code units and a terminator.
LPWSTR CopyUnits(const WCHAR* text, int n) {
  LPWSTR copy = static_cast<LPWSTR>(GlobalAlloc(GPTR, (static_cast<SIZE_T>(n) + 1) * sizeof(WCHAR)));
  if (copy) std::memcpy(copy, text, static_cast<size_t>(n) * sizeof(WCHAR));
  return copy;
}
}  // namespace

LPCWSTR PendingDrivePath(LPCWSTR entry) {
  if (!entry) return nullptr;
  LPCWSTR path = SkipMarker(entry);
  if (HasNtPrefix(path)) path += 4;
  const WCHAR drive = AsciiUpper(path[0]);
  if (drive < TEXT('A') || drive > TEXT('Z') || path[1] != TEXT(':') || path[2] != TEXT('\\')) return nullptr;
  return path;
}


const WCHAR kPendingRenamesValue[] = TEXT("PendingFileRenameOperations");
const LPCWSTR kPendingValues[kPendingValueCount] = {kPendingRenamesValue, TEXT("PendingFileRenameOperations2")};

void ReadPendingRenames(PendingRenameTable* table, LPCWSTR valueName) {
  table->valueName = valueName;
  table->pairs = nullptr;
  table->pairCount = 0;
  table->value = nullptr;
  table->valueSize = 0;
  table->whole = false;
  ValueData data = ReadPendingValue(valueName);
  if (!data.bytes) return;
  table->value = data.bytes;
  table->valueSize = data.size;

  // Whole code units only; the limit stops in front of the list's final terminator. Every scan
  // below also stops at the end of the data, so a value without terminators is read safely.
  const WCHAR* units = reinterpret_cast<const WCHAR*>(data.bytes);
  const int unitCount = static_cast<int>(data.size / 2);
  const int limit = (static_cast<int>(data.size) - 2) / 2;
  int strings = 0;
  int end = 0;
  for (; end < limit; end += StringLength(units, unitCount, end) + 1) ++strings;
  const int pairCount = strings / 2;
  // Whole: the strings end exactly in front of the list's terminator, which ends the data.
  const bool whole = data.type == REG_MULTI_SZ && data.size % 2 == 0 && limit >= 0 && end == limit &&
                     units[limit] == 0 && strings % 2 == 0;

  if (pairCount > 0) {
    table->pairs = static_cast<PendingPair*>(GlobalAlloc(GPTR, static_cast<SIZE_T>(pairCount) * sizeof(PendingPair)));
    bool complete = table->pairs != nullptr;
    if (complete) table->pairCount = pairCount;
    int position = 0;
    for (int i = 0; complete && position < limit && i < 2 * pairCount; ++i) {
      const int n = StringLength(units, unitCount, position);
      if (n > 0) {
        PendingPair& pair = table->pairs[i / 2];
        LPWSTR copy = CopyUnits(units + position, n);
        // A table with a lost target would turn a pending rename into a delete: all or nothing.
        if (!copy) {
          complete = false;
        } else {
          // Only a path on a drive is looked at: the others would resolve against the current folder.
          LPCWSTR name = PendingDrivePath(copy);
          const bool isFile = name && IsExistingFile(name);
          (i % 2 == 0 ? pair.source : pair.target) = copy;
          (i % 2 == 0 ? pair.sourceIsFile : pair.targetIsFile) = isFile;
        }
      }
      position += n + 1;
    }
    if (!complete) {
      FreePendingRenames(table);
      return;
    }
  }
  table->whole = whole;
}

void MarkOwnDeletes(PendingRenameTable* table, OwnFileTest isOwn, const void* context) {
  for (int k = 0; k < table->pairCount; ++k) {
    PendingPair& pair = table->pairs[k];
    LPCWSTR path = PendingDrivePath(pair.source);
    const PendingClaim claim = path && !pair.target ? isOwn(context, path) : kNotOwn;
    pair.own = claim != kNotOwn;
    pair.keepFile = claim == kOwnEntryOnly;
  }
}

void PurgePendingDeletes(PendingRenameTable* table) {
  for (int k = 0; k < table->pairCount; ++k) {
    PendingPair& pair = table->pairs[k];
    LPCWSTR path = PendingDrivePath(pair.source);
    if (pair.own && !pair.keepFile && path && !pair.target && pair.sourceIsFile && DeleteFileW(path)) {
      pair.sourceIsFile = false;
      pair.carriedOut = true;
    }
  }
}

bool PendingDeleteCarriedOut(const PendingRenameTable* table, LPCWSTR path) {
  for (int k = 0; k < table->pairCount; ++k) {
    LPCWSTR source = PendingDrivePath(table->pairs[k].source);
    if (table->pairs[k].carriedOut && source && EqualsAsciiNoCase(source, path)) return true;
  }
  return false;
}

void TakeOutPendingDeletes(InstallerState* state, const PendingRenameTable* table, bool installing) {
  if (!table->whole || table->pairCount == 0) return;
  // One block: room for the spliced value, then a flag per pair.
  LPBYTE block = static_cast<LPBYTE>(GlobalAlloc(GPTR, table->valueSize + static_cast<SIZE_T>(table->pairCount)));
  if (!block) {
    LogLine(state, TEXT("Can't update %s (%d)"), table->valueName, ERROR_NOT_ENOUGH_MEMORY);
    return;
  }
  WCHAR* spliced = reinterpret_cast<WCHAR*>(block);
  bool* drop = reinterpret_cast<bool*>(block + table->valueSize);
  int dropped = 0;
  for (int k = 0; k < table->pairCount; ++k) {
    const PendingPair& pair = table->pairs[k];
    drop[k] = pair.own && !pair.target && (installing || pair.carriedOut);
    if (drop[k]) ++dropped;
  }
  HKEY key = nullptr;
  LSTATUS status = ERROR_SUCCESS;
  bool same = false;
  if (dropped > 0) status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_READ | KEY_SET_VALUE, &key);
  if (dropped > 0 && status == ERROR_SUCCESS) {
    status = CompareValue(key, table, &same);
    if (status == ERROR_SUCCESS && !same)
      LogLine(state, TEXT("%s has changed: left as it is"), table->valueName);
    if (same) {
      const int units = SpliceValue(table, drop, spliced);
      // Only the list's terminator left: no operation waits any more, as after a restart.
      if (units == 1)
        status = RegDeleteValueW(key, table->valueName);
      else
        status = RegSetValueExW(key, table->valueName, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(spliced),
                                static_cast<DWORD>(units) * sizeof(WCHAR));
      for (int k = 0; status == ERROR_SUCCESS && k < table->pairCount; ++k)
        // Without the marker: the line reads the same whichever build wrote the entry.
        if (drop[k]) LogLine(state, TEXT("Pending delete taken out: %s"), SkipMarker(table->pairs[k].source));
    }
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS) LogLine(state, TEXT("Can't update %s (%d)"), table->valueName, static_cast<int>(status));
  GlobalFree(block);
}

void FreePendingRenames(PendingRenameTable* table) {
  for (int k = 0; k < table->pairCount; ++k) {
    if (table->pairs[k].source) GlobalFree(table->pairs[k].source);
    if (table->pairs[k].target) GlobalFree(table->pairs[k].target);
  }
  if (table->pairs) GlobalFree(table->pairs);
  if (table->value) GlobalFree(table->value);
  table->pairs = nullptr;
  table->pairCount = 0;
  table->value = nullptr;
  table->valueSize = 0;
  table->whole = false;
}
