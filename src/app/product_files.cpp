#include "app/product_files.h"

#include "app/installer_state.h"
#include "app/product.h"
#include "driver/platform.h"
#include "support/ascii_text.h"
#include "tray/tray.h"

namespace {
// ProductFiles::folders holds the system folder (every platform's monitors), then for each
// platform its driver folder and that folder's "3".
bool FolderHolds(int folder, const ProductModule& module) {
  if (folder == 0) return module.folder == kSystemFolder;
  return module.folder == kDriverFolder && module.platform == static_cast<ProductPlatform>((folder - 1) / 2);
}

// The rest of `path` behind `folder`, or null when the path does not start with it.
LPCWSTR BehindFolder(LPCWSTR path, const CountedString& folder) {
  // A folder Windows could not tell, or one that is no drive path, holds nothing of ours.
  if (Length(folder) < 3) return nullptr;
  LPCWSTR f = Text(folder);
  for (; *f; ++f, ++path)
    if (AsciiUpper(*f) != AsciiUpper(*path)) return nullptr;
  return path;
}

void DriverFolders(ProductFiles* files, ProductPlatform platform) {
  const int first = 1 + 2 * static_cast<int>(platform);
  if (!QueryDriverDir(EnvironmentName(platform), files->folders[first])) return;
  // The spooler keeps the files of its version-3 drivers in the folder "3".
  Assign(files->folders[first + 1], files->folders[first]);
  Append(files->folders[first + 1], TEXT("3\\"));
}

bool IsTrayProgram(const ProductFiles* files, LPCWSTR path) {
  return Length(files->trayProgram) > 3 && EqualsAsciiNoCase(path, Text(files->trayProgram));
}

struct ProductClaim {
  const ProductFiles* files;
  bool installing;
};

PendingClaim ClaimProductFile(const void* context, LPCWSTR path) {
  const ProductClaim* claim = static_cast<const ProductClaim*>(context);
  if (!IsProductFile(claim->files, path)) return kNotOwn;
  return claim->installing && IsTrayProgram(claim->files, path) ? kOwnEntryOnly : kOwnFile;
}

void TrayProgram(ProductFiles* files, const CountedString& installerDir) {
  files->trayProgram = TrayProgramPath(installerDir);
}
}  // namespace

void FindProductFiles(ProductFiles* files, const CountedString& systemDir, const CountedString& installerDir) {
  for (CountedString& folder : files->folders) folder = nullptr;
  Assign(files->folders[0], systemDir);
  DriverFolders(files, kPlatformX64);
  DriverFolders(files, kPlatformX86);
  TrayProgram(files, installerDir);
}

void FindProductFilesOfThisProcess(ProductFiles* files) {
  CountedString systemDir = nullptr;
  CountedString installerDir = nullptr;
  QuerySystemDir(systemDir);
  QueryInstallerDir(installerDir);
  FindProductFiles(files, systemDir, installerDir);
  Release(installerDir);
  Release(systemDir);
}

bool IsProductFile(const ProductFiles* files, LPCWSTR path) {
  if (!path) return false;
  for (int i = 0; i < kProductFolders; ++i) {
    LPCWSTR name = BehindFolder(path, files->folders[i]);
    if (!name) continue;
    for (const ProductModule& module : kProductModules)
      if (FolderHolds(i, module) && EqualsAsciiNoCase(name, module.fileName)) return true;
  }
  return IsTrayProgram(files, path);
}

void MarkProductDeletes(PendingRenameTable* table, const ProductFiles* files, bool installing) {
  const ProductClaim claim = {files, installing};
  MarkOwnDeletes(table, ClaimProductFile, &claim);
}

void ReleaseProductFiles(ProductFiles* files) {
  for (CountedString& folder : files->folders) Release(folder);
  Release(files->trayProgram);
}
