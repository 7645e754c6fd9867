#include "system/pending_files.h"

#include <cstring>

#include "app/installer_state.h"
#include "app/log.h"

namespace {
const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const WCHAR kPendingValue[] = TEXT("PendingFileRenameOperations");
const WCHAR kNtPrefix[] = TEXT("\\??\\");

// The value's data as read: a fixed global block and the number of bytes Windows reported.
struct ValueData {
  LPBYTE bytes;
  DWORD size;
};

// Asks for the size, then reads into a block of that size. Returns the status of the read;
// ERROR_MORE_DATA means the value grew in between.
LSTATUS QueryPendingValue(HKEY key, ValueData* data) {
  DWORD size = 0;
  LSTATUS status = RegQueryValueExW(key, kPendingValue, nullptr, nullptr, nullptr, &size);
  if (status != ERROR_SUCCESS || size == 0) return status;
  LPBYTE block = static_cast<LPBYTE>(GlobalAlloc(GPTR, size));
  if (!block) return ERROR_NOT_ENOUGH_MEMORY;
  DWORD reported = size;
  status = RegQueryValueExW(key, kPendingValue, nullptr, nullptr, block, &reported);
  if (status != ERROR_SUCCESS) {
    GlobalFree(block);
    return status;
  }
  data->bytes = block;
  data->size = reported < size ? reported : size;  // never more than the block holds
  return ERROR_SUCCESS;
}

// Reads the whole value; one that grew between the size query and the read is read once more.
ValueData ReadPendingValue() {
  ValueData data = {nullptr, 0};
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return data;
  if (QueryPendingValue(key, &data) == ERROR_MORE_DATA) QueryPendingValue(key, &data);
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

LPCWSTR WithoutNtPrefix(LPCWSTR path) { return HasNtPrefix(path) ? path + 4 : path; }

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

bool SamePath(LPCWSTR a, LPCWSTR b) {
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

void FreeNode(DeferredDelete* node) {
  if (node->path) GlobalFree(node->path);
  GlobalFree(node);
}
}  // namespace

void ReadPendingRenames(PendingRenameTable* table) {
  table->paths = nullptr;
  table->isFile = nullptr;
  table->pairCount = 0;
  ValueData data = ReadPendingValue();
  if (!data.bytes) return;

  // Whole code units only; the limit stops in front of the list's final terminator. Every scan
  // below also stops at the end of the data, so a value without terminators is read safely.
  const WCHAR* units = reinterpret_cast<const WCHAR*>(data.bytes);
  const int unitCount = static_cast<int>(data.size / 2);
  const int limit = (static_cast<int>(data.size) - 2) / 2;
  int strings = 0;
  for (int position = 0; position < limit; position += StringLength(units, unitCount, position) + 1) ++strings;
  const int pairCount = strings / 2;

  if (pairCount > 0) {
    const SIZE_T entries = 2 * static_cast<SIZE_T>(pairCount);
    table->paths = static_cast<LPWSTR*>(GlobalAlloc(GPTR, entries * sizeof(LPWSTR)));
    table->isFile = static_cast<int*>(GlobalAlloc(GPTR, entries * sizeof(int)));
    bool complete = table->paths && table->isFile;
    if (complete) table->pairCount = pairCount;
    int i = 0;
    for (int position = 0; complete && position < limit && i < 2 * pairCount; ++i) {
      const int n = StringLength(units, unitCount, position);
      if (n > 0) {
        table->paths[i] = CopyUnits(units + position, n);
        // A table with a lost target would turn a pending rename into a delete: all or nothing.
        if (!table->paths[i]) complete = false;
        else table->isFile[i] = IsExistingFile(WithoutNtPrefix(table->paths[i])) ? 1 : 0;
      }
      position += n + 1;
    }
    if (!complete) {
      table->pairCount = pairCount;
      FreePendingRenames(table);
    }
  }
  GlobalFree(data.bytes);
}

void PurgePendingDeletes(PendingRenameTable* table) {
  for (int k = 0; k < table->pairCount; ++k) {
    LPCWSTR source = table->paths[2 * k];
    if (table->isFile[2 * k] == 1 && source && !table->paths[2 * k + 1] && DeleteFileW(WithoutNtPrefix(source)))
      table->isFile[2 * k] = 0;
  }
}

void FreePendingRenames(PendingRenameTable* table) {
  if (table->paths) {
    for (int i = 0; i < 2 * table->pairCount; ++i)
      if (table->paths[i]) GlobalFree(table->paths[i]);
    GlobalFree(table->paths);
  }
  if (table->isFile) GlobalFree(table->isFile);
  table->paths = nullptr;
  table->isFile = nullptr;
  table->pairCount = 0;
}

void DeferDelete(DeferredDelete** list, LPCWSTR path) {
  if (!path || !path[0]) return;  // nothing to delete; callers skip these, a stray one must not crash
  for (DeferredDelete* node = *list; node; node = node->next)
    if (SamePath(node->path, path)) return;
  DeferredDelete* node = static_cast<DeferredDelete*>(GlobalAlloc(GPTR, sizeof(DeferredDelete)));
  if (!node) return;
  node->path = CopyUnits(path, lstrlenW(path));
  if (!node->path) {
    GlobalFree(node);
    return;
  }
  node->next = *list;
  *list = node;
}

void RetryDeferredDeletes(InstallerState* state) {
  LogLine(state, TEXT("DeleteFile-try"));
  DeferredDelete** link = &state->deferredDeletes;
  while (*link) {
    DeferredDelete* node = *link;
    if (DeleteFileW(node->path) || GetLastError() == ERROR_FILE_NOT_FOUND) {
      *link = node->next;
      FreeNode(node);
    } else {
      link = &node->next;
    }
  }
}

int ScheduleDeletesAtReboot(InstallerState* state) {
  int accepted = 0;
  for (DeferredDelete* node = state->deferredDeletes; node; node = node->next)
    if (MoveFileExW(node->path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) ++accepted;
  FreeDeferredDeletes(&state->deferredDeletes);
  return accepted;
}

void FreeDeferredDeletes(DeferredDelete** list) {
  while (*list) {
    DeferredDelete* node = *list;
    *list = node->next;
    FreeNode(node);
  }
}
