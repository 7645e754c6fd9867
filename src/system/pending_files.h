// Pending file operations of Windows (read-only) and the run's deferred deletes.
#pragma once
#include "platform/win32.h"

struct InstallerState;

struct PendingRenameTable {
  LPWSTR* paths;   // 2 x pairCount entries: source, target; an empty string is null
  int* isFile;     // parallel to paths: 1 when the entry names an existing file on a drive
  int* ownDelete;  // pairCount entries, in isFile's block: 1 for a pending delete of a product file
                   // (set by MarkProductDeletes); the clean-up acts on these only
  int* carriedOut; // pairCount entries, in isFile's block: 1 when the clean-up deleted the source
  int pairCount;
  LPBYTE value;    // the value's data as read, to take entries out of it
  DWORD valueSize;
  bool whole;      // REG_MULTI_SZ, every string terminated, whole pairs, the list's terminator last
};

struct DeferredDelete {
  LPWSTR path;
  DeferredDelete* next;
};

void ReadPendingRenames(PendingRenameTable* table);
// Deletes the existing files of the marked pending deletes; every other entry is left alone.
void PurgePendingDeletes(PendingRenameTable* table);
// Takes out of the value the marked pending deletes that the purge carried out, and when
// `installing` every marked one: the run is about to put those files back. The rest of the value
// stays as it was, byte for byte; a value not read whole is left alone.
void TakeOutPendingDeletes(InstallerState* state, const PendingRenameTable* table, bool installing);
// Whether the purge deleted `path` (a drive path, compared without regard to ASCII letter case).
bool PendingDeleteCarriedOut(const PendingRenameTable* table, LPCWSTR path);
// An entry as the drive path it names ("\??\C:\x" and "C:\x" give "C:\x"); null for anything
// else ("\??\UNC\...", "\??\Volume{...}\...", relative paths), which the clean-up never acts on.
LPCWSTR PendingDrivePath(LPCWSTR entry);
void FreePendingRenames(PendingRenameTable* table);
void DeferDelete(DeferredDelete** list, LPCWSTR path);
void RetryDeferredDeletes(InstallerState* state);
int ScheduleDeletesAtReboot(InstallerState* state);
void FreeDeferredDeletes(DeferredDelete** list);
