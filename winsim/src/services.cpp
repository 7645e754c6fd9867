// advapi32 Service Control Manager: the "spooler" service with its states, the access each call
// needs, and start and stop transitions that take virtual time.
#include "winsim/machine.h"

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

BOOL WINAPI StartServiceW(SC_HANDLE handle, DWORD, LPCWSTR*) {
  WINSIM_ENTER("StartServiceW", FALSE);
  Service* service = FindService(handle, SERVICE_START);
  if (!service) return FALSE;
  if (service->state != SERVICE_STOPPED) {
    SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
    return FALSE;
  }
  service->state = SERVICE_START_PENDING;
  service->transitionAt = M().clock.now + service->startMs;
  service->starts++;
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
  service->state = SERVICE_STOP_PENDING;
  service->transitionAt = M().clock.now + service->stopMs;
  service->stops++;
  FillStatus(*service, status);
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
