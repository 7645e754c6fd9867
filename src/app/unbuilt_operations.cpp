// Operations whose subsystems are still being built. Each definition here is removed when its
// real implementation lands; nothing in this file is meant to stay.
#include "app/procedures.h"
#include "probes/probes.h"
#include "tray/tray.h"

bool ProbeDriverCurrent() { return false; }
bool ProbePendingProductFiles() { return false; }
bool ProbeDefaultPrinterIsOther() { return true; }
void SetDefaultToProductPrinter() {}
bool RunUninstall(HWND, DWORD* rebootDeletes) {
  *rebootDeletes = 0;
  return false;
}
bool RunReinstall(HWND, DWORD* rebootDeletes) {
  *rebootDeletes = 0;
  return false;
}
