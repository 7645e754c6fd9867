// The run's own list of files it failed to delete: retried, then handed to Windows for the reboot.
#pragma once
#include "platform/win32.h"

struct InstallerState;

struct DeferredDelete {
  LPWSTR path;
  DeferredDelete* next;
};

void DeferDelete(DeferredDelete** list, LPCWSTR path);
void RetryDeferredDeletes(InstallerState* state);
int ScheduleDeletesAtReboot(InstallerState* state);
void FreeDeferredDeletes(DeferredDelete** list);
