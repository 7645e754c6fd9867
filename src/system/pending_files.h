// Pending file operations of Windows (read-only) and the run's deferred deletes.
#pragma once
#include "platform/win32.h"

struct InstallerState;

struct PendingRenameTable {
  LPWSTR* paths;   // 2 x pairCount entries: source, target; an empty string is null
  int* isFile;     // parallel to paths: 1 when the entry names an existing file
  int pairCount;
};

struct DeferredDelete {
  LPWSTR path;
  DeferredDelete* next;
};

void ReadPendingRenames(PendingRenameTable* table);
void PurgePendingDeletes(PendingRenameTable* table);
void FreePendingRenames(PendingRenameTable* table);
void DeferDelete(DeferredDelete** list, LPCWSTR path);
void RetryDeferredDeletes(InstallerState* state);
int ScheduleDeletesAtReboot(InstallerState* state);
void FreeDeferredDeletes(DeferredDelete** list);
