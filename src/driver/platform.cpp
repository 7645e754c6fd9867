#include "driver/platform.h"

#include <cstring>

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "system/file_copy.h"
#include "system/module_exports.h"
#include "system/pending_files.h"
#include "system/spooler_calls.h"

namespace {
struct Platform {
  LPCWSTR environment;
  LPCWSTR monitorFile;
  LPCWSTR driverFile;
  LPCWSTR uiFile;
};

const Platform kX64 = {TEXT("Windows x64"), TEXT("mlxmon64.dll"), TEXT("mlxdrv64.dll"), TEXT("mlxui64.dll")};
const Platform kX86 = {TEXT("Windows NT x86"), TEXT("mlxmon32.dll"), TEXT("mlxdrv32.dll"), TEXT("mlxui32.dll")};

struct Kernel32 {
  BOOL(WINAPI* IsWow64Process2)(HANDLE process, USHORT* processMachine, USHORT* nativeMachine);
};

}  // namespace

WORD QueryNativeMachine() {
  HMODULE module = GetModuleHandleW(TEXT("kernel32.dll"));
  if (!module) return IMAGE_FILE_MACHINE_UNKNOWN;
  Kernel32 kernel32 = {};
  // Windows before 10 version 1709 lacks the call, and runs x64 programs on x64 only.
  if (!FindExport(module, "IsWow64Process2", &kernel32.IsWow64Process2)) return IMAGE_FILE_MACHINE_AMD64;
  USHORT processMachine = 0;
  USHORT nativeMachine = 0;
  if (!kernel32.IsWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine))
    return IMAGE_FILE_MACHINE_UNKNOWN;
  return nativeMachine;
}

bool FindUnusableProductFile(const CountedString& folder, UnusableProductFile* found) {
  // The files an install copies (the monitor only for x64, where it is registered). Every module
  // carries the build it belongs to; the help file has no version resource.
  const struct {
    LPCWSTR file;
    bool versioned;
  } files[] = {{kX64.monitorFile, true}, {kX64.driverFile, true}, {kX64.uiFile, true},
               {kX86.driverFile, true},  {kX86.uiFile, true},     {PRODUCT_HELP_FILE, false}};
  for (const auto& row : files) {
    CountedString path = Copy(folder);
    Append(path, row.file);
    found->file = row.file;
    found->missing = GetFileAttributesW(Text(path)) == INVALID_FILE_ATTRIBUTES;
    found->error = found->missing ? GetLastError() : 0;
    found->build = !found->missing && row.versioned ? GetFileBuildNumber(Text(path)) : kProductBuild;
    Release(path);
    if (found->missing || found->build != kProductBuild) return true;
  }
  return false;
}

bool QueryDriverDir(LPCWSTR environment, CountedString& driverDir) {
  LPWSTR env = const_cast<LPWSTR>(environment);
  // Two bytes more than asked for, zero-filled: the answer is terminated whatever the spooler wrote.
  LPBYTE block = FetchSpoolerBlock(
      [env](LPBYTE buffer, DWORD size, DWORD* needed) {
        return GetPrinterDriverDirectoryW(nullptr, env, 1, buffer, size, needed) != FALSE;
      },
      sizeof(WCHAR));
  if (!block) return false;
  LPCWSTR folder = reinterpret_cast<LPCWSTR>(block);
  Assign(driverDir, folder);
  const int length = lstrlenW(folder);
  if (length > 0 && folder[length - 1] != TEXT('\\')) Append(driverDir, TEXT("\\"));
  GlobalFree(block);
  return true;
}

namespace {
// Deletes a staged copy; one that can't go now is left for the retries and, at the end, the reboot.
void DeleteStagedFile(InstallerState* state, LPCWSTR path) {
  if (DeleteFileW(path)) return;
  if (path[0]) DeferDelete(&state->deferredDeletes, path);
}
}  // namespace

void SelectPlatform(InstallerState* state, bool isX64) {
  state->isX64 = isX64;
  const Platform& row = isX64 ? kX64 : kX86;
  state->environment = row.environment;
  state->monitorFile = row.monitorFile;
  state->driverFile = row.driverFile;
  state->uiFile = row.uiFile;
  if (!QueryDriverDir(state->environment, state->driverDir))
    LogError(state, 6, TEXT("Can`t retrieve printer driver directory."));
  state->helpFile = PRODUCT_HELP_FILE;
}

bool AddProductDriver(DRIVER_INFO_6W* driverInfo) {
  return AddPrinterDriverExW(nullptr, 6, reinterpret_cast<LPBYTE>(driverInfo), APD_COPY_ALL_FILES) != FALSE;
}

void InstallDriver(InstallerState* state) {
  LogLine(state, TEXT(">Add Printer Driver"));
  LogSection section(state);
  WCHAR driverPath[MAX_PATH] = {0};
  WCHAR uiPath[MAX_PATH] = {0};
  WCHAR helpPath[MAX_PATH] = {0};
  LPCWSTR folder = Text(state->driverDir);
  if (CopyProductFile(state, folder, state->driverFile, driverPath, true) != S_OK) return;
  if (CopyProductFile(state, folder, state->uiFile, uiPath, true) != S_OK) return;
  if (CopyProductFile(state, folder, state->helpFile, helpPath, true) != S_OK) helpPath[0] = 0;

  DRIVER_INFO_6W info;
  std::memset(&info, 0, sizeof(info));
  info.cVersion = 3;
  info.pName = const_cast<LPWSTR>(PRODUCT_DRIVER_NAME);
  info.pEnvironment = const_cast<LPWSTR>(state->environment);
  info.pDriverPath = driverPath;
  info.pDataFile = driverPath;
  info.pConfigFile = uiPath;
  info.pHelpFile = helpPath;
  info.pszMfgName = const_cast<LPWSTR>(PRODUCT_MAKER);
  info.pszOEMUrl = const_cast<LPWSTR>(PRODUCT_MAKER_URL);
  info.pszProvider = const_cast<LPWSTR>(PRODUCT_MAKER);
  if (AddProductDriver(&info))
    LogLine(state, TEXT("OK :)"));
  else
    LogError(state, 13, TEXT("Can`t install a printer driver 'Marbleleaf Server'"));

  // The spooler has copied the files into its own store by now (or refused them): the staged
  // copies go either way.
  DeleteStagedFile(state, driverPath);
  DeleteStagedFile(state, uiPath);
  DeleteStagedFile(state, helpPath);
}
