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
};

bool StartServiceAndWait(SC_HANDLE service);
bool CheckSpooler(InstallerState* state);
void BeginSpoolerRestart(SpoolerRestart* guard, InstallerState* state);
void EndSpoolerRestart(SpoolerRestart* guard);
