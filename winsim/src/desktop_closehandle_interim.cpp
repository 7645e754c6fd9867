// Interim CloseHandle for desktop objects only, until the file system's CloseHandle lands.
#include "winsim/machine.h"

BOOL WINAPI CloseHandle(HANDLE handle) {
  WINSIM_ENTER("CloseHandle", FALSE);
  if (winsim::CloseDesktopObject(handle)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
