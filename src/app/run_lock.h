// Install and uninstall runs one at a time on the machine, whatever session or account starts
// them: a named mutex in the global namespace, waited for a bounded time.
#pragma once
#include "platform/win32.h"

struct InstallerState;

const char kRunMutexName[] = "Global\\Marbleleaf.Install";
// Longer than a whole run that waits out the tray companion and a spooler restart.
const DWORD kRunLockWaitMs = 5 * 60 * 1000;
const DWORD kRunBusyError = 21;
// A run of another account (a deployment tool's, as SYSTEM) made the mutex with a DACL that does
// not let this one open it: it is asked for again at this pace until the wait's end.
const DWORD kRunLockRetryMs = 1000;

// Held for the guard's lifetime; released and closed by its destructor.
class RunLock {
 public:
  RunLock();
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Another run still held the lock when the wait ended: this run must change nothing.
  bool Busy() const { return busy_; }
  // What a run that goes ahead has to know about the lock, logged after the banner: nothing
  // when it met no other run. A busy run gets its error line.
  void Report(InstallerState* state) const;

 private:
  HANDLE mutex_ = nullptr;
  bool owned_ = false;
  bool busy_ = false;
  bool abandoned_ = false;
  LPCWSTR failedCall_ = nullptr;  // the lock could not be used: the run goes on unguarded
  DWORD failure_ = 0;
};
