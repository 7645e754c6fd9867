// advapi32 Service Control Manager: the "spooler" service and the services that depend on it,
// with their states, the access each call needs, and start and stop transitions that take
// virtual time.
//
// Where Wine 8 differs from Windows: Wine's "spooler" service starts in 50 to 100 ms and stops in
// 1 to 2 ms, but Wine's spooler calls work whether it runs or not (see spooler_*.cpp).
// Not modelled: installing and deleting services, their configuration and security, service
// processes (a service is its state and the services it depends on), remote machines.
#include <cstring>

#include "winsim/machine.h"
#include "name_keys.h"

using winsim::M;
using winsim::Service;

namespace {
std::u16string Upper(const std::u16string& text) {
  std::u16string out = text;
  for (auto& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return out;
}

Service* FindService(SC_HANDLE handle, DWORD neededAccess) {
  auto it = M().services.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == M().services.handles.end() || it->second.key.empty()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if ((it->second.access & neededAccess) != neededAccess) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  Service& service = M().services.services[it->second.key];
  winsim::UpdateService(service);
  return &service;
}

SC_HANDLE NewHandle(const std::u16string& key, DWORD access) {
  const uintptr_t handle = M().services.nextHandle;
  M().services.nextHandle += 4;
  M().services.handles[handle] = winsim::ServiceHandle{key, access};
  return reinterpret_cast<SC_HANDLE>(handle);
}

void FillStatus(const Service& service, LPSERVICE_STATUS status) {
  if (!status) return;
  *status = SERVICE_STATUS{};
  status->dwServiceType = 0x10;  // SERVICE_WIN32_OWN_PROCESS
  status->dwCurrentState = service.state;
  status->dwControlsAccepted = service.state == SERVICE_RUNNING ? 1 : 0;
}

bool Active(Service& service) {
  winsim::UpdateService(service);
  return service.state != SERVICE_STOPPED;
}
}  // namespace

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR, LPCWSTR, DWORD access) {
  WINSIM_ENTER("OpenSCManagerW", nullptr);
  return NewHandle(u"", access);
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD access) {
  WINSIM_ENTER("OpenServiceW", nullptr);
  auto it = M().services.handles.find(reinterpret_cast<uintptr_t>(manager));
  if (it == M().services.handles.end() || !it->second.key.empty()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const std::u16string key = Upper(name ? name : u"");
  if (!M().services.services.count(key)) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  return NewHandle(key, access);
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE handle, LPSERVICE_STATUS status) {
  WINSIM_ENTER("QueryServiceStatus", FALSE);
  Service* service = FindService(handle, SERVICE_QUERY_STATUS);
  if (!service) return FALSE;
  FillStatus(*service, status);
  return TRUE;
}

namespace {
// The Service Control Manager starts the services a service depends on first; the service
// itself runs only after them.
void Start(Service& service) {
  uint64_t after = M().clock.now;
  for (const std::u16string& name : service.dependsOn) {
    auto it = M().services.services.find(Upper(name));
    if (it == M().services.services.end()) continue;
    Service& needed = it->second;
    winsim::UpdateService(needed);
    if (needed.state == SERVICE_STOPPED) Start(needed);
    if (needed.state == SERVICE_START_PENDING && needed.transitionAt > after) after = needed.transitionAt;
  }
  service.state = SERVICE_START_PENDING;
  service.transitionAt = after + service.startMs;
  service.starts++;
}
}  // namespace

BOOL WINAPI StartServiceW(SC_HANDLE handle, DWORD, LPCWSTR*) {
  WINSIM_ENTER("StartServiceW", FALSE);
  Service* service = FindService(handle, SERVICE_START);
  if (!service) return FALSE;
  if (service->state != SERVICE_STOPPED) {
    SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
    return FALSE;
  }
  Start(*service);
  return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE handle, DWORD control, LPSERVICE_STATUS status) {
  WINSIM_ENTER("ControlService", FALSE);
  Service* service = FindService(handle, control == SERVICE_CONTROL_STOP ? SERVICE_STOP : 0);
  if (!service) return FALSE;
  if (control != SERVICE_CONTROL_STOP) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (service->state == SERVICE_STOPPED) {
    SetLastError(ERROR_SERVICE_NOT_ACTIVE);
    return FALSE;
  }
  if (service->state != SERVICE_RUNNING) {
    SetLastError(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    return FALSE;
  }
  // A service that others need is not stopped while one of them is active.
  for (Service* dependent : winsim::DependentServices(service->name)) {
    if (Active(*dependent)) {
      SetLastError(ERROR_DEPENDENT_SERVICES_RUNNING);
      return FALSE;
    }
  }
  service->state = SERVICE_STOP_PENDING;
  service->transitionAt = M().clock.now + service->stopMs;
  service->stops++;
  FillStatus(*service, status);
  return TRUE;
}

// ENUM_SERVICE_STATUSW records first, then their names, in one block; a block that is too small
// (or none, the size query) fails with ERROR_MORE_DATA and the size needed.
BOOL WINAPI EnumDependentServicesW(SC_HANDLE handle, DWORD serviceState, LPENUM_SERVICE_STATUSW services, DWORD size,
                                   LPDWORD needed, LPDWORD returned) {
  WINSIM_ENTER("EnumDependentServicesW", FALSE);
  Service* service = FindService(handle, SERVICE_ENUMERATE_DEPENDENTS);
  if (!service) return FALSE;
  if (!needed || !returned) {
    SetLastError(RPC_X_NULL_REF_POINTER);
    return FALSE;
  }
  *returned = 0;
  if (serviceState == 0 || (serviceState & ~DWORD{SERVICE_STATE_ALL})) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<Service*> listed;
  for (Service* dependent : winsim::DependentServices(service->name)) {
    const bool active = Active(*dependent);
    if ((active && (serviceState & SERVICE_ACTIVE)) || (!active && (serviceState & SERVICE_INACTIVE)))
      listed.push_back(dependent);
  }
  DWORD bytes = static_cast<DWORD>(listed.size() * sizeof(ENUM_SERVICE_STATUSW));
  for (Service* dependent : listed) bytes += static_cast<DWORD>(2 * (dependent->name.size() + 1) * sizeof(WCHAR));
  if (!services || size < bytes) {
    *needed = bytes;
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  LPBYTE block = reinterpret_cast<LPBYTE>(services);
  size_t text = listed.size() * sizeof(ENUM_SERVICE_STATUSW);
  auto put = [&](const std::u16string& value) {
    LPWSTR at = reinterpret_cast<LPWSTR>(block + text);
    std::memcpy(at, value.c_str(), (value.size() + 1) * sizeof(WCHAR));
    text += (value.size() + 1) * sizeof(WCHAR);
    return at;
  };
  for (size_t i = 0; i < listed.size(); ++i) {
    services[i].lpServiceName = put(listed[i]->name);
    services[i].lpDisplayName = put(listed[i]->name);
    FillStatus(*listed[i], &services[i].ServiceStatus);
  }
  *needed = bytes;
  *returned = static_cast<DWORD>(listed.size());
  return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  WINSIM_ENTER("CloseServiceHandle", FALSE);
  if (M().services.handles.erase(reinterpret_cast<uintptr_t>(handle)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

namespace winsim {

// ---- test-side access (not Windows calls: nothing here counts or fails)
ServicesState::ServicesState() {
  Service spooler;
  spooler.name = u"Spooler";
  services[u"SPOOLER"] = spooler;
}

Service& Spooler() { return M().services.services[u"SPOOLER"]; }

void UpdateService(Service& service) {
  const uint64_t now = M().clock.now;
  if (service.state == SERVICE_START_PENDING && !service.neverStarts && now >= service.transitionAt)
    service.state = SERVICE_RUNNING;
  if (service.state == SERVICE_STOP_PENDING && !service.neverStops && now >= service.transitionAt)
    service.state = SERVICE_STOPPED;
  // The spooler loads its monitors and drivers when it starts and releases them when it stops;
  // the calls that change monitors or drivers bring the modules in line themselves.
  if (M().spooler.modulesSyncedFor != service.state && &service == &Spooler()) SyncSpoolerModules();
}

Service& PutService(const std::u16string& name, const std::vector<std::u16string>& dependsOn) {
  Service& service = M().services.services[UpperCopy(name)];
  service = Service{};
  service.name = name;
  service.dependsOn = dependsOn;
  return service;
}

namespace {
void CollectDependents(const std::u16string& key, std::vector<Service*>& out) {
  for (auto& item : M().services.services) {
    Service& candidate = item.second;
    bool depends = false;
    for (const std::u16string& needed : candidate.dependsOn) depends = depends || SameNoCase(needed, key);
    if (!depends) continue;
    CollectDependents(item.first, out);  // those that need the dependent start after it
    bool listed = false;
    for (Service* s : out) listed = listed || s == &candidate;
    if (!listed) out.push_back(&candidate);
  }
}
}  // namespace

std::vector<Service*> DependentServices(const std::u16string& name) {
  std::vector<Service*> out;
  CollectDependents(UpperCopy(name), out);
  return out;
}

bool SpoolerRunning() {
  Service& spooler = Spooler();
  UpdateService(spooler);
  return spooler.state == SERVICE_RUNNING;
}

}  // namespace winsim
