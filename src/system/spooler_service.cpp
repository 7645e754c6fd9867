#include "system/spooler_service.h"

#include "app/installer_state.h"
#include "app/log.h"

namespace {
const DWORD kManagerAccess = STANDARD_RIGHTS_REQUIRED | SC_MANAGER_CONNECT;                 // 0xF0001
const DWORD kRestartAccess = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;           // 0x34
const DWORD kCheckAccess = SERVICE_QUERY_STATUS | SERVICE_START;                            // 0x14
const int kStateWaits = 50;
const DWORD kStateWaitMs = 200;

// The state the service reports; 0 when the query fails, which matches no state we wait for.
DWORD ReadState(SC_HANDLE service) {
  SERVICE_STATUS status = {};
  QueryServiceStatus(service, &status);
  return status.dwCurrentState;
}

// Reads the state at most 51 times with 50 sleeps in between; true when it was seen.
bool WaitForState(SC_HANDLE service, DWORD wanted) {
  DWORD current = ReadState(service);
  for (int i = 0; i < kStateWaits; ++i) {
    if (current == wanted) return true;
    Sleep(kStateWaitMs);
    current = ReadState(service);
  }
  return current == wanted;
}
}  // namespace

bool StartServiceAndWait(SC_HANDLE service) {
  // A service that already runs or is starting refuses the start; the wait below decides.
  StartServiceW(service, 0, nullptr);
  return WaitForState(service, SERVICE_RUNNING);
}

bool CheckSpooler(InstallerState* state) {
  LogLine(state, TEXT(">Check Spooler"));
  LogSection section(state);
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, kManagerAccess);
  if (!manager) {
    LogError(state, 1, TEXT("Can't open service manager."));
    return false;
  }
  bool result = true;
  SC_HANDLE service = OpenServiceW(manager, TEXT("spooler"), kCheckAccess);
  if (!service) {
    LogError(state, 2, TEXT("Can't open the spooler"));
    result = false;
  } else {
    SERVICE_STATUS status = {};
    // A failed query starts nothing: the spooler calls that follow will tell.
    if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_RUNNING &&
        !StartServiceAndWait(service)) {
      LogError(state, 4, TEXT("Can't start the spooler"));
      result = false;
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return result;
}

void BeginSpoolerRestart(SpoolerRestart* guard, InstallerState* state) {
  if (state) LogLine(state, TEXT(">Restart Spooler"));
  guard->state = state;
  guard->manager = nullptr;
  guard->service = nullptr;
  guard->stopped = false;
  guard->manager = OpenSCManagerW(nullptr, nullptr, kManagerAccess);
  if (!guard->manager) {
    if (state) LogError(state, 1, TEXT("Can't open service manager."));
    return;
  }
  guard->service = OpenServiceW(guard->manager, TEXT("spooler"), kRestartAccess);
  if (!guard->service) {
    if (state) LogError(state, 2, TEXT("Can't open the spooler"));
    return;
  }
  SERVICE_STATUS status = {};
  if (!ControlService(guard->service, SERVICE_CONTROL_STOP, &status)) {
    const DWORD code = GetLastError();
    // A spooler that was not running is what we wanted anyway.
    if (code != ERROR_SERVICE_NOT_ACTIVE && state)
      LogError(state, 5, TEXT("ControlService failed with code %d (0x%x)"), static_cast<int>(code), code);
  }
  // Set even after a failed request: the end of the restart must start the spooler again.
  guard->stopped = true;
  if (!WaitForState(guard->service, SERVICE_STOPPED) && state) LogError(state, 3, TEXT("Can't stop the spooler"));
}

void EndSpoolerRestart(SpoolerRestart* guard) {
  if (guard->service) {
    if (guard->stopped && !StartServiceAndWait(guard->service) && guard->state)
      LogError(guard->state, 4, TEXT("Can't start the spooler"));
    CloseServiceHandle(guard->service);
    guard->service = nullptr;
  }
  if (guard->manager) CloseServiceHandle(guard->manager);
  guard->manager = nullptr;
}
