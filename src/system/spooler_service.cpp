#include "system/spooler_service.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "support/size_then_fill.h"

namespace {
const DWORD kManagerAccess = STANDARD_RIGHTS_REQUIRED | SC_MANAGER_CONNECT;                 // 0xF0001
const DWORD kRestartAccess = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;           // 0x34
const DWORD kCheckAccess = SERVICE_QUERY_STATUS | SERVICE_START;                            // 0x14
const DWORD kDependentAccess = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;         // 0x34
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

bool StartServiceAndWait(SC_HANDLE service) {
  // A service that already runs or is starting refuses the start; the wait below decides. One
  // that is still stopping (a restart of a run that was killed, another program's) refuses it
  // too, and would never run: it is started once it has stopped.
  if (!StartServiceW(service, 0, nullptr) && GetLastError() == ERROR_SERVICE_ALREADY_RUNNING &&
      ReadState(service) == SERVICE_STOP_PENDING && WaitForState(service, SERVICE_STOPPED))
    StartServiceW(service, 0, nullptr);
  return WaitForState(service, SERVICE_RUNNING);
}

void CloseService(SC_HANDLE service) { CloseServiceHandle(service); }

SC_HANDLE OpenNamedService(const SpoolerRestart* guard, LPCWSTR name, DWORD access) {
  return OpenServiceW(guard->manager, name, access);
}

// The running services that depend on the spooler, in one block of records and their names
// (size, then fill); null when they can't be listed.
LPENUM_SERVICE_STATUSW ListRunningDependents(const SpoolerRestart* guard, DWORD* count) {
  *count = 0;
  SC_HANDLE spooler = OpenNamedService(guard, TEXT("spooler"), SERVICE_ENUMERATE_DEPENDENTS);
  if (!spooler) return nullptr;
  LPENUM_SERVICE_STATUSW list = reinterpret_cast<LPENUM_SERVICE_STATUSW>(FetchBlock(
      [spooler, count](LPBYTE buffer, DWORD size, DWORD* needed) {
        return EnumDependentServicesW(spooler, SERVICE_ACTIVE, reinterpret_cast<LPENUM_SERVICE_STATUSW>(buffer), size,
                                      needed, count) != FALSE;
      },
      0, nullptr, ERROR_MORE_DATA));
  if (!list) *count = 0;
  CloseService(spooler);
  return list;
}

// Stops the running dependents in the order listed, each waited for; false when one can't be
// stopped (or they can't be listed): then the spooler can't stop either.
bool StopDependents(SpoolerRestart* guard) {
  DWORD count = 0;
  guard->dependents = ListRunningDependents(guard, &count);
  if (!guard->dependents) {
    LogLine(guard->state, TEXT("Can't list the services that depend on the spooler"));
    return false;
  }
  for (DWORD i = 0; i < count; ++i) {
    LPCWSTR name = guard->dependents[i].lpServiceName;
    LogLine(guard->state, TEXT("Stop dependent service %s"), name);
    SC_HANDLE service = OpenNamedService(guard, name, kDependentAccess);
    SERVICE_STATUS status = {};
    bool sent = service && ControlService(service, SERVICE_CONTROL_STOP, &status);
    if (sent) guard->dependentsStopped = i + 1;
    const bool stopped = sent && WaitForState(service, SERVICE_STOPPED);
    if (service) CloseService(service);
    if (!stopped) {
      LogLine(guard->state, TEXT("Can't stop dependent service %s"), name);
      return false;
    }
  }
  return true;
}

// Starts the dependents that were stopped again, the last stopped first.
void StartDependents(SpoolerRestart* guard) {
  for (DWORD i = guard->dependentsStopped; i > 0; --i) {
    LPCWSTR name = guard->dependents[i - 1].lpServiceName;
    LogLine(guard->state, TEXT("Start dependent service %s"), name);
    SC_HANDLE service = OpenNamedService(guard, name, kDependentAccess);
    const bool running = service && StartServiceAndWait(service);
    if (service) CloseService(service);
    if (!running) LogLine(guard->state, TEXT("Can't start dependent service %s"), name);
  }
  guard->dependentsStopped = 0;
}
}  // namespace

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

SpoolerRestart::SpoolerRestart(InstallerState* runState)
    : state(runState), manager(nullptr), service(nullptr), startOwed(false), dependents(nullptr),
      dependentsStopped(0) {
  LogLine(state, TEXT(">Restart Spooler"));
  manager = OpenSCManagerW(nullptr, nullptr, kManagerAccess);
  if (!manager) {
    LogError(state, 1, TEXT("Can't open service manager."));
    return;
  }
  service = OpenServiceW(manager, TEXT("spooler"), kRestartAccess);
  if (!service) {
    LogError(state, 2, TEXT("Can't open the spooler"));
    return;
  }
  SERVICE_STATUS status = {};
  bool sent = ControlService(service, SERVICE_CONTROL_STOP, &status) != FALSE;
  DWORD code = sent ? 0 : GetLastError();
  // Services that need the spooler keep it from stopping: they are stopped first.
  if (code == ERROR_DEPENDENT_SERVICES_RUNNING && StopDependents(this)) {
    sent = ControlService(service, SERVICE_CONTROL_STOP, &status) != FALSE;
    code = sent ? 0 : GetLastError();
  }
  if (!sent) {
    SetLastError(code);
    // A spooler that was not running is what we wanted anyway.
    if (code != ERROR_SERVICE_NOT_ACTIVE)
      LogError(state, 5, TEXT("ControlService failed with code %d (0x%x)"), static_cast<int>(code), code);
  }
  // Owed even after a failed request: the spooler may be stopping all the same.
  startOwed = true;
  if (!WaitForState(service, SERVICE_STOPPED)) LogError(state, 3, TEXT("Can't stop the spooler"));
}

SpoolerRestart::~SpoolerRestart() {
  if (service) {
    if (startOwed && !StartServiceAndWait(service)) LogError(state, 4, TEXT("Can't start the spooler"));
    StartDependents(this);
    CloseServiceHandle(service);
  }
  if (dependents) GlobalFree(dependents);
  if (manager) CloseServiceHandle(manager);
}

void RestartSpooler(InstallerState* state) { SpoolerRestart whileStopped(state); }
