#include "driver/driver_removal.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "support/size_then_fill.h"
#include "system/spooler_service.h"

namespace {
// The name of record `index` of an inventory whose level is 1 to 6; null for any other level.
LPCWSTR DriverName(const DriverInventory* inventory, DWORD index) {
  const LPBYTE records = inventory->buffer;
  switch (inventory->level) {
    case 1: return reinterpret_cast<const DRIVER_INFO_1W*>(records)[index].pName;
    case 2: return reinterpret_cast<const DRIVER_INFO_2W*>(records)[index].pName;
    case 3: return reinterpret_cast<const DRIVER_INFO_3W*>(records)[index].pName;
    case 4: return reinterpret_cast<const DRIVER_INFO_4W*>(records)[index].pName;
    case 5: return reinterpret_cast<const DRIVER_INFO_5W*>(records)[index].pName;
    case 6: return reinterpret_cast<const DRIVER_INFO_6W*>(records)[index].pName;
    default: return nullptr;
  }
}

bool DeleteProductDriver(LPCWSTR environment) {
  return DeletePrinterDriverExW(nullptr, const_cast<LPWSTR>(environment), const_cast<LPWSTR>(PRODUCT_DRIVER_NAME),
                                DPD_DELETE_ALL_FILES, 0) != FALSE;
}
}  // namespace

void EnumerateDrivers(DriverInventory* inventory, LPCWSTR environment) {
  inventory->level = 6;
  inventory->buffer = nullptr;
  inventory->count = 0;
  LPWSTR env = const_cast<LPWSTR>(environment);
  DWORD returned = 0;
  LPBYTE block = FetchBlock([env, &returned](LPBYTE buffer, DWORD size, DWORD* needed) {
    return EnumPrinterDriversW(nullptr, env, 6, buffer, size, needed, &returned) != FALSE;
  });
  if (!block) return;
  inventory->buffer = block;
  inventory->count = returned;
}

int FindProductDriver(const DriverInventory* inventory) {
  if (!inventory->buffer) return -1;
  for (DWORD i = 0; i < inventory->count; ++i)
    if (IsProductDriverName(DriverName(inventory, i))) return static_cast<int>(i);
  return -1;
}

void RemoveDriver(InstallerState* state, const DriverInventory* inventory) {
  LogLine(state, TEXT(">DeletePrinterDriver for %s"), state->environment);
  LogSection section(state);
  const DWORD count = inventory->buffer ? inventory->count : 0;
  if (count != 0) {
    LogLine(state, TEXT("------------ %d existing drivers-----------"), static_cast<int>(count));
    for (DWORD i = 0; i < count; ++i) {
      LPCWSTR name = DriverName(inventory, i);
      LogLine(state, TEXT("%d. %s"), static_cast<int>(i + 1), name ? name : TEXT("***EMPTY***"));
    }
    LogLine(state, TEXT("-------------------------------------------"));
  } else {
    LogLine(state, TEXT("BTW, there is no printer drivers on this system."));
  }
  const int found = FindProductDriver(inventory);
  if (found < 0) {
    LogLine(state, TEXT("No Marbleleaf driver was found"));
    return;
  }
  LogLine(state, TEXT("Driver is found. Index=%d"), found + 1);
  if (!DeleteProductDriver(state->environment)) {
    LogLine(state, TEXT("Can't delete driver. Trying to restart spooler"));
    RestartSpooler(state);
    if (!DeleteProductDriver(state->environment)) {
      LogError(state, 14, TEXT("Can`t remove the printer-driver 'Marbleleaf Server'"));
      return;
    }
  }
  LogLine(state, TEXT("OK :)"));
}
