#include "app/preflight.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "driver/platform.h"
#include "support/wide_format.h"
#include "system/file_copy.h"
#include "system/protected_print.h"

namespace {
struct MachineName {
  WORD machine;
  LPCWSTR name;
};
const MachineName kMachineNames[] = {
    {IMAGE_FILE_MACHINE_ARM64, TEXT("ARM64")},
    {IMAGE_FILE_MACHINE_I386, TEXT("x86")},
    {IMAGE_FILE_MACHINE_ARMNT, TEXT("ARM")},
};

bool RefuseProtectedPrint(InstallerState* state) {
  const ProtectedPrint mode = DetectProtectedPrint();
  if (mode == kProtectedPrintOff) return false;
  SetLastError(0);  // what is wrong is the machine's setting, not a failed call
  if (mode == kProtectedPrintByPolicy)
    LogError(state, 18,
             TEXT("Windows protected print mode is on, set by policy: Windows accepts no third-party printer "
                  "driver or port monitor, so Marbleleaf cannot be installed. Nothing was changed. Ask your "
                  "administrator about the policy \"Configure Windows protected print\"."));
  else
    LogError(state, 18,
             TEXT("Windows protected print mode is on: Windows accepts no third-party printer driver or port "
                  "monitor, so Marbleleaf cannot be installed. Nothing was changed. Turn it off in Settings > "
                  "Bluetooth & devices > Printers & scanners, then run setup again."));
  return true;
}

bool RefuseNativeMachine(InstallerState* state) {
  const WORD machine = QueryNativeMachine();
  if (machine == IMAGE_FILE_MACHINE_UNKNOWN || machine == IMAGE_FILE_MACHINE_AMD64) return false;
  WCHAR number[16];
  LPCWSTR name = nullptr;
  for (const MachineName& row : kMachineNames)
    if (row.machine == machine) name = row.name;
  if (!name) {
    FormatWide(number, sizeof(number) / sizeof(number[0]), TEXT("0x%x"), static_cast<int>(machine));
    name = number;
  }
  SetLastError(0);
  LogError(state, 19,
           TEXT("Windows runs on %s here: the Marbleleaf printer driver and port monitor are for x64 Windows "
                "only, and the print spooler cannot load them. Nothing was changed."),
           name);
  return true;
}

bool RefuseProductFiles(InstallerState* state) {
  UnusableProductFile found;
  if (!FindUnusableProductFile(state->installerDir, &found)) return false;
  if (found.missing) {
    SetLastError(found.error);
    LogError(state, 20,
             TEXT("Product file %s cannot be read in %s. Nothing was changed. Run setup again from a complete "
                  "copy of Marbleleaf build %d."),
             found.file, Text(state->installerDir), kProductBuild);
  } else {
    SetLastError(0);
    WCHAR build[16] = TEXT("no build");
    if (found.build >= 0) FormatWide(build, sizeof(build) / sizeof(build[0]), TEXT("build %d"), found.build);
    LogError(state, 20,
             TEXT("Product file %s in %s is of %s, this installer is build %d. Nothing was changed. Run setup "
                  "again from a complete copy of Marbleleaf build %d."),
             found.file, Text(state->installerDir), build, kProductBuild, kProductBuild);
  }
  return true;
}
}  // namespace

bool InstallCannotFinish(InstallerState* state) {
  return RefuseProtectedPrint(state) || RefuseNativeMachine(state) || RefuseProductFiles(state);
}
