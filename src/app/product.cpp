#include "app/product.h"

#include "support/ascii_text.h"

namespace {
#define PRODUCT_HELP_FILE TEXT("mlxhelp.chm")  // one help file serves both environments
const LPCWSTR kEnvironments[] = {TEXT("Windows x64"), TEXT("Windows NT x86")};  // by ProductPlatform
}  // namespace

const ProductModule kProductModules[kProductModuleCount] = {
    {kPlatformX64, kSystemFolder, TEXT("mlxmon64.dll"), kMonitorModule},
    {kPlatformX64, kDriverFolder, TEXT("mlxdrv64.dll"), kDriverModule},
    {kPlatformX64, kDriverFolder, TEXT("mlxui64.dll"), kUiModule},
    {kPlatformX64, kDriverFolder, PRODUCT_HELP_FILE, kHelpFile},
    {kPlatformX86, kSystemFolder, TEXT("mlxmon32.dll"), kMonitorModule},
    {kPlatformX86, kDriverFolder, TEXT("mlxdrv32.dll"), kDriverModule},
    {kPlatformX86, kDriverFolder, TEXT("mlxui32.dll"), kUiModule},
    {kPlatformX86, kDriverFolder, PRODUCT_HELP_FILE, kHelpFile},
};

ProductPlatform PlatformOf(bool isX64) { return isX64 ? kPlatformX64 : kPlatformX86; }

LPCWSTR EnvironmentName(ProductPlatform platform) { return kEnvironments[platform]; }

LPCWSTR ProductModuleFile(ProductPlatform platform, ProductModuleRole role) {
  for (const ProductModule& module : kProductModules)
    if (module.platform == platform && module.role == role) return module.fileName;
  return nullptr;
}

bool IsProductDriverName(LPCWSTR name) { return EqualsExactly(name, PRODUCT_DRIVER_NAME); }
bool IsProductMonitorName(LPCWSTR name) { return EqualsExactly(name, PRODUCT_MONITOR_NAME); }
