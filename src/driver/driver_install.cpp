#include "driver/driver_install.h"

#include <cstring>

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "system/file_copy.h"
#include "system/deferred_deletes.h"

namespace {
// Deletes a staged copy; one that can't go now is left for the retries and, at the end, the reboot.
void DeleteStagedFile(InstallerState* state, LPCWSTR path) {
  if (DeleteFileW(path)) return;
  if (path[0]) DeferDelete(&state->deferredDeletes, path);
}

bool AddProductDriver(DRIVER_INFO_6W* driverInfo) {
  return AddPrinterDriverExW(nullptr, 6, reinterpret_cast<LPBYTE>(driverInfo), APD_COPY_ALL_FILES) != FALSE;
}
}  // namespace

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
