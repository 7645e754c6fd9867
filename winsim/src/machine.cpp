// The current simulated machine, fault injection and the virtual clock.
//
// Where Wine differs: nothing here is a Windows call.
// Not modelled: more than one thread; real time (the clock is virtual).
#include "winsim/machine.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace winsim {
namespace {
std::unique_ptr<Machine>& Current() {
  static std::unique_ptr<Machine> machine;
  return machine;
}
std::function<void()>& ResetCheck() {
  static std::function<void()> check;
  return check;
}
}  // namespace

Machine& M() {
  auto& machine = Current();
  if (!machine) {
    machine = std::make_unique<Machine>();
    SignIn(kFirstAdminSid, 1);  // the default: one administrator at the console runs the installer
  }
  return *machine;
}

void SetResetCheck(std::function<void()> check) { ResetCheck() = std::move(check); }

void Reset() {
  if (Current() && ResetCheck()) ResetCheck()();
  Current() = std::make_unique<Machine>();
  SignIn(kFirstAdminSid, 1);
}

std::vector<std::string> OpenHandles() {
  auto narrow = [](const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
  };
  const Machine& m = M();
  std::vector<std::string> open;
  if (m.globalBlocks) open.push_back(std::to_string(m.globalBlocks) + " global block(s) not freed");
  if (m.localBlocks) open.push_back(std::to_string(m.localBlocks) + " local block(s) not freed");
  if (m.sessions.sessionLists) open.push_back(std::to_string(m.sessions.sessionLists) + " session list(s) not freed");
  if (!m.sessions.impersonating.empty()) open.push_back("thread still impersonating " + m.sessions.impersonating);
  for (const auto& item : m.sessions.restartSessions)
    open.push_back("Restart Manager session " + std::to_string(item.first));
  for (const auto& item : m.files.handles) open.push_back("file handle on " + narrow(item.second.key));
  for (const auto& item : m.registry.handles) open.push_back("registry key " + narrow(item.second.key));
  for (const auto& item : m.services.handles)
    open.push_back(item.second.key.empty() ? "service manager handle" : "service handle on " + narrow(item.second.key));
  for (const auto& item : m.spooler.handles) open.push_back("printer handle on " + narrow(item.second.printer));
  for (const auto& item : m.eventLog.handles) open.push_back("event source handle of " + narrow(item.second));
  for (const auto& item : m.desktop.handles) {
    static const char* const kKinds[] = {"mutex", "process", "thread", "token"};
    open.push_back(std::string(kKinds[item.second.kind]) + " handle on object " + std::to_string(item.second.object));
  }
  if (m.system.combaseReferences) open.push_back("combase.dll loaded");
  if (m.system.runtimeInits) open.push_back("RoInitialize not balanced");
  if (m.system.strings) open.push_back(std::to_string(m.system.strings) + " HSTRING(s) not deleted");
  if (m.system.factoryReferences) open.push_back("activation factory not released");
  return open;
}

void FailCall(const std::string& function, DWORD error, int times, int fromCall, DWORD delayMs) {
  M().faults.push_back(Fault{function, fromCall, times, error, delayMs});
}

void FailNext(const std::string& function, DWORD error, int times, DWORD delayMs) {
  FailCall(function, error, times, CallCount(function) + 1, delayMs);
}

int CallCount(const std::string& function) {
  auto it = M().calls.find(function);
  return it == M().calls.end() ? 0 : it->second;
}

void CutRunAt(int64_t n) {
  M().cutAtCall = M().failableCalls + n;
  M().cut = false;
}

void EndCut() {
  M().cutAtCall = 0;
  M().cut = false;
}

void Advance(uint64_t milliseconds) {
  Clock& clock = M().clock;
  const uint64_t until = clock.now + milliseconds;
  // Events may schedule further events; run them in time order up to the target.
  while (!clock.events.empty() && clock.events.begin()->first <= until) {
    auto it = clock.events.begin();
    if (it->first > clock.now) clock.now = it->first;
    auto action = std::move(it->second);
    clock.events.erase(it);
    action();
  }
  clock.now = until;
}

void At(uint64_t when, std::function<void()> action) {
  M().clock.events.emplace(when, std::move(action));
}

void After(uint64_t delay, std::function<void()> action) { At(M().clock.now + delay, std::move(action)); }

namespace detail {
namespace {
// Call sites (function name, offset of the return address in its module) whose fault fired.
struct FaultSites {
  std::set<std::pair<std::string, uintptr_t>> sites;
  ~FaultSites() {
    const char* path = std::getenv("WINSIM_FAULT_SITES");
    if (!path || sites.empty()) return;
    if (FILE* out = std::fopen(path, "a")) {
      for (const auto& site : sites) std::fprintf(out, "%s 0x%lx\n", site.first.c_str(), static_cast<unsigned long>(site.second));
      std::fclose(out);
    }
  }
};
FaultSites& Sites() {
  static FaultSites sites;
  return sites;
}
void RecordSite(const char* function, const void* caller) {
  Dl_info info;
  if (!caller || !dladdr(caller, &info) || !info.dli_fbase) return;
  Sites().sites.emplace(function, reinterpret_cast<uintptr_t>(caller) - reinterpret_cast<uintptr_t>(info.dli_fbase));
}

// What the system does for a process that has ended: its handles are closed. These still act
// after a cut, so that a killed run leaves no handle of the dead process behind.
bool ReleasesForTheDeadProcess(const char* function) {
  static const char* const kReleases[] = {"ClosePrinter", "RegCloseKey", "CloseHandle", "CloseServiceHandle"};
  for (const char* name : kReleases)
    if (std::strcmp(name, function) == 0) return true;
  return false;
}
}  // namespace

bool Enter(const char* function, const void* caller) {
  Machine& m = M();
  if (++m.failableCalls >= m.cutAtCall && m.cutAtCall > 0) m.cut = true;
  if (m.cut) {
    if (ReleasesForTheDeadProcess(function)) return false;
    m.lastError = ERROR_PROCESS_ABORTED;  // nobody reads it: the process is gone
    return true;
  }
  const int call = ++m.calls[function];
  if (m.tracing) m.trace.push_back(function);
  for (Fault& fault : m.faults) {
    if (fault.function != function || call < fault.fromCall) continue;
    if (fault.times >= 0 && call >= fault.fromCall + fault.times) continue;
    if (fault.delayMs) Advance(fault.delayMs);  // a slow failure: time passes, but it is no sleep of ours
    m.lastError = fault.error;
    RecordSite(function, caller);
    return true;
  }
  return false;
}
}  // namespace detail

}  // namespace winsim
