#include "driver/platform.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "support/size_then_fill.h"

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
