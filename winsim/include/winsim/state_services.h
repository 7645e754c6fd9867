// The Service Control Manager and the "spooler" service.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>
#include "winsim/types.h"

namespace winsim {

struct Service {
  std::u16string name;
  DWORD state = SERVICE_RUNNING;   // SERVICE_STOPPED, _START_PENDING, _STOP_PENDING, _RUNNING
  uint64_t startMs = 80;           // virtual time a start takes
  uint64_t stopMs = 40;            // virtual time a stop takes
  bool neverStarts = false;        // stays in START_PENDING for ever
  bool neverStops = false;         // stays in STOP_PENDING for ever
  uint64_t transitionAt = 0;       // when the pending state completes
  int starts = 0, stops = 0;       // how often it was started and stopped
  std::vector<std::u16string> dependsOn;  // names of the services it needs running (Fax: "Spooler")
};

struct ServiceHandle {
  std::u16string key;  // the service's key in ServicesState::services; empty for the manager
  DWORD access = 0;
};

struct ServicesState {
  std::map<std::u16string, Service> services;  // key: upper-cased name
  std::map<uintptr_t, ServiceHandle> handles;
  uintptr_t nextHandle = 0x2000;
  ServicesState();
};

// The spooler service record ("spooler").
Service& Spooler();
// Whether the spooler service is running now (transitions that are due have completed).
bool SpoolerRunning();
// Completes a pending transition whose time has come.
void UpdateService(Service& service);
// Adds a running service that depends on the named services (test side).
Service& PutService(const std::u16string& name, const std::vector<std::u16string>& dependsOn);
// The services that depend on `name`, directly or through others, in the reverse of their start
// order (a service comes before the services it depends on), as EnumDependentServicesW lists them.
std::vector<Service*> DependentServices(const std::u16string& name);

}  // namespace winsim
