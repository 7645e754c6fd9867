// The product's own files on this machine: its file names in the folders where it puts them.
// The clean-up of pending deletes acts on these and on nothing else.
#pragma once
#include "platform/win32.h"
#include "support/counted_string.h"
#include "system/pending_renames.h"

const int kProductFolders = 5;  // the system folder, then each platform's driver folder and its "3"

struct ProductFiles {
  CountedString folders[kProductFolders];  // with a final "\"; null when Windows could not tell it
  CountedString trayProgram;               // the companion's path
};

// From the run's system and installer folders (as the InstallerState holds them); the driver
// folders of both environments are asked of the spooler.
void FindProductFiles(ProductFiles* files, const CountedString& systemDir, const CountedString& installerDir);
// The same for a process without an InstallerState (the probes).
void FindProductFilesOfThisProcess(ProductFiles* files);
// Whether `path` (a drive path) is one of them; ASCII letters compare without regard to case.
bool IsProductFile(const ProductFiles* files, LPCWSTR path);
// Marks in the table the pending deletes that name a product file: the only entries that
// PurgePendingDeletes and TakeOutPendingDeletes act on. When `installing`, the tray program's is
// marked to be taken out with its file kept: the run starts the file that the setup program laid
// down and does not copy it.
void MarkProductDeletes(PendingRenameTable* table, const ProductFiles* files, bool installing);
void ReleaseProductFiles(ProductFiles* files);
