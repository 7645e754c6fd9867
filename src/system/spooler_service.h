// Control of the "spooler" service: start it when a run begins, stop and start it around work
// that needs its files released.
#pragma once
#include "platform/win32.h"

struct InstallerState;

// The guard of "while the spooler is stopped": the constructor logs ">Restart Spooler" and stops
// the spooler (the running services that depend on it first); the destructor starts it again,
// then those services. Logs into `state` (null: nothing).
struct SpoolerRestart {
  explicit SpoolerRestart(InstallerState* state);
  ~SpoolerRestart();
  SpoolerRestart(const SpoolerRestart&) = delete;
  SpoolerRestart& operator=(const SpoolerRestart&) = delete;

  InstallerState* state;
  SC_HANDLE manager;
  SC_HANDLE service;
  bool startOwed;  // the stop was asked for (even if refused): the end starts the spooler
  // The running services that depend on the spooler (a fax service, say), listed by the
  // Service Control Manager in the order they must stop; the first `dependentsStopped` of them
  // were sent the stop request and are started again after the spooler.
  LPENUM_SERVICE_STATUSW dependents;
  DWORD dependentsStopped;
};

bool CheckSpooler(InstallerState* state);
// Stops and starts the spooler with nothing in between, so that it lets go of what it held.
void RestartSpooler(InstallerState* state);
