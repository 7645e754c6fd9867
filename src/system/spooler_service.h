// Control of the "spooler" service: start it when a run begins, stop and start it around work
// that needs its files released.
#pragma once
#include "platform/win32.h"

struct InstallerState;

struct SpoolerRestart {
  InstallerState* state;  // null: log nothing
  SC_HANDLE manager;
  SC_HANDLE service;
  bool stopped;           // the stop request was sent
  // The running services that depend on the spooler (a fax service, say), listed by the
  // Service Control Manager in the order they must stop; the first `dependentsStopped` of them
  // were sent the stop request and are started again after the spooler.
  LPENUM_SERVICE_STATUSW dependents;
  DWORD dependentsStopped;
};

bool StartServiceAndWait(SC_HANDLE service);
bool CheckSpooler(InstallerState* state);
void BeginSpoolerRestart(SpoolerRestart* guard, InstallerState* state);
void EndSpoolerRestart(SpoolerRestart* guard);
