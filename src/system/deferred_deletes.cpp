#include "system/deferred_deletes.h"

#include <cstring>

#include "app/installer_state.h"
#include "app/log.h"
#include "support/ascii_text.h"

namespace {
// A zero-filled global copy of the path and its terminator.
LPWSTR CopyPath(LPCWSTR path) {
  const int n = lstrlenW(path);
  LPWSTR copy = static_cast<LPWSTR>(GlobalAlloc(GPTR, (static_cast<SIZE_T>(n) + 1) * sizeof(WCHAR)));
  if (copy) std::memcpy(copy, path, static_cast<size_t>(n) * sizeof(WCHAR));
  return copy;
}

void FreeNode(DeferredDelete* node) {
  if (node->path) GlobalFree(node->path);
  GlobalFree(node);
}
}  // namespace

void DeferDelete(DeferredDelete** list, LPCWSTR path) {
  if (!path || !path[0]) return;  // nothing to delete; callers skip these, a stray one must not crash
  for (DeferredDelete* node = *list; node; node = node->next)
    if (EqualsExactly(node->path, path)) return;
  DeferredDelete* node = static_cast<DeferredDelete*>(GlobalAlloc(GPTR, sizeof(DeferredDelete)));
  if (!node) return;
  node->path = CopyPath(path);
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
