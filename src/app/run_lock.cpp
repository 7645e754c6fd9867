#include "app/run_lock.h"

#include "app/log.h"

RunLock::RunLock() {
  for (DWORD waited = 0;; waited += kRunLockRetryMs) {
    mutex_ = CreateMutexA(nullptr, FALSE, kRunMutexName);
    if (mutex_ || GetLastError() != ERROR_ACCESS_DENIED) break;
    // It exists and is another account's: gone when that run ends, then ours to make.
    if (waited >= kRunLockWaitMs) {
      busy_ = true;
      return;
    }
    Sleep(kRunLockRetryMs);
  }
  if (!mutex_) {
    failure_ = GetLastError();
    failedCall_ = TEXT("CreateMutex");
    return;
  }
  const DWORD result = WaitForSingleObject(mutex_, kRunLockWaitMs);
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
    owned_ = true;
    abandoned_ = result == WAIT_ABANDONED;
  } else if (result == WAIT_TIMEOUT) {
    busy_ = true;
  } else {
    failure_ = GetLastError();
    failedCall_ = TEXT("WaitForSingleObject");
  }
}

RunLock::~RunLock() {
  if (owned_) ReleaseMutex(mutex_);
  if (mutex_) CloseHandle(mutex_);
}

void RunLock::Report(InstallerState* state) const {
  if (busy_) {
    // The wait's own outcome is the whole story: no system text behind it.
    SetLastError(ERROR_SUCCESS);
    LogError(state, kRunBusyError, TEXT("Another installation is running: nothing was changed"));
  } else if (abandoned_) {
    LogLine(state, TEXT("An earlier installation ended without finishing"));
  } else if (failedCall_) {
    // Installing unguarded beats refusing a machine that only lacks the lock.
    LogLine(state, TEXT("%s failed with code %d: no other run is kept out"), failedCall_, static_cast<int>(failure_));
  }
}
