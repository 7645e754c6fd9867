#include "driver/platform.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "support/size_then_fill.h"
#include "system/module_exports.h"

namespace {
struct Kernel32 {
  BOOL(WINAPI* IsWow64Process2)(HANDLE process, USHORT* processMachine, USHORT* nativeMachine);
};
}  // namespace

bool QueryDriverDir(LPCWSTR environment, CountedString& driverDir) {
  LPWSTR env = const_cast<LPWSTR>(environment);
  // Two bytes more than asked for, zero-filled: the answer is terminated whatever the spooler wrote.
  LPBYTE block = FetchBlock(
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

void SelectPlatform(InstallerState* state, bool isX64) {
  state->isX64 = isX64;
  const ProductPlatform platform = PlatformOf(isX64);
  state->environment = EnvironmentName(platform);
  state->monitorFile = ProductModuleFile(platform, kMonitorModule);
  state->driverFile = ProductModuleFile(platform, kDriverModule);
  state->uiFile = ProductModuleFile(platform, kUiModule);
  if (!QueryDriverDir(state->environment, state->driverDir))
    LogError(state, 6, TEXT("Can`t retrieve printer driver directory."));
  state->helpFile = ProductModuleFile(platform, kHelpFile);
}

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
