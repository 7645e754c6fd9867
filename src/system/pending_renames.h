// Windows' pending file operations: a value of the Session Manager read as pairs, the caller's
// own pending deletes carried out and taken out of it; every other entry stays as it was.
#pragma once
#include "platform/win32.h"

struct InstallerState;

extern const WCHAR kPendingRenamesValue[];  // "PendingFileRenameOperations"
// The values the session manager carries out at boot, in its order. Windows appends to the second
// whenever it exists, and creates it when the first has grown too large: both hold the product's
// entries alike.
const int kPendingValueCount = 2;
extern const LPCWSTR kPendingValues[kPendingValueCount];

struct PendingPair {
  LPWSTR source;      // the string exactly as in the value; null for an empty string
  LPWSTR target;      // null for a pending delete
  bool sourceIsFile;  // the source names an existing file on a drive (cleared when the purge deletes it)
  bool targetIsFile;
  bool own;           // a pending delete of one of the caller's files (MarkOwnDeletes): the only
                      // pairs the purge and the take-out act on
  bool keepFile;      // an own entry whose file the purge leaves alone
  bool carriedOut;    // the purge deleted the source
};

struct PendingRenameTable {
  LPCWSTR valueName;
  PendingPair* pairs;  // pairCount records, in the value's order
  int pairCount;
  LPBYTE value;        // the value's data as read, to take pairs out of it
  DWORD valueSize;
  bool whole;          // REG_MULTI_SZ, every string terminated, whole pairs, the list's terminator last
};

// What the caller claims of a pending delete of `drivePath`: nothing, the file and its entry, or
// the entry only (the file stays and the entry goes).
enum PendingClaim { kNotOwn, kOwnFile, kOwnEntryOnly };
typedef PendingClaim (*OwnFileTest)(const void* context, LPCWSTR drivePath);

void ReadPendingRenames(PendingRenameTable* table, LPCWSTR valueName);
// Marks the pending deletes whose source is a drive path that `isOwn` claims.
void MarkOwnDeletes(PendingRenameTable* table, OwnFileTest isOwn, const void* context);
// Deletes the existing files of the marked pending deletes (but those to keep); every other entry
// is left alone.
void PurgePendingDeletes(PendingRenameTable* table);
// Takes out of the value the marked pending deletes that the purge carried out, and when
// `installing` every marked one: the run is about to put those files back. The rest of the value
// stays as it was, byte for byte; a value not read whole is left alone.
void TakeOutPendingDeletes(InstallerState* state, const PendingRenameTable* table, bool installing);
// Whether the purge deleted `path` (a drive path, compared without regard to ASCII letter case).
bool PendingDeleteCarriedOut(const PendingRenameTable* table, LPCWSTR path);
// An entry as the drive path it names ("\??\C:\x", "*1\??\C:\x" and "C:\x" give "C:\x"); null for
// anything else ("\??\UNC\...", "\??\Volume{...}\...", relative paths), which the clean-up never
// acts on.
LPCWSTR PendingDrivePath(LPCWSTR entry);
void FreePendingRenames(PendingRenameTable* table);
