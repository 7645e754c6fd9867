// The simulated machine that a test sets up, drives and inspects. One per test: Reset() makes a
// fresh one. Each area of Windows keeps its state in its own record (state_*.h).
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "winsim/api.h"
#include "winsim/state_desktop.h"
#include "winsim/state_eventlog.h"
#include "winsim/state_files.h"
#include "winsim/state_registry.h"
#include "winsim/state_services.h"
#include "winsim/state_sessions.h"
#include "winsim/state_spooler.h"
#include "winsim/state_system.h"

namespace winsim {

// A scripted failure of one Windows function, named as Windows names it ("CreateFileW").
struct Fault {
  std::string function;
  int fromCall = 1;      // first call (1-based, counted per function) that fails
  int times = 1;         // how many calls fail from there; -1 for every later call
  DWORD error = 0;       // thread last-error code the failing call leaves
  DWORD delayMs = 0;     // virtual time a failing call takes (a slow failure)
};

// Virtual time: Sleep and the waits advance it instantly; scheduled events (other processes,
// service transitions) run when the clock passes their time.
struct Clock {
  uint64_t now = 0;          // milliseconds since the machine started
  DWORD tickBase = 1000000;  // GetTickCount() = tickBase + now, modulo 2^32
  uint64_t slept = 0;        // total milliseconds spent in Sleep and waits
  std::multimap<uint64_t, std::function<void()>> events;
};

struct Machine {
  // The process itself
  std::u16string commandLine = u"\"C:\\Program Files\\Marbleleaf\\Setup\\install.exe\"";
  std::u16string modulePath = u"C:\\Program Files\\Marbleleaf\\Setup\\install.exe";
  std::u16string systemDir = u"C:\\Windows\\system32";
  std::string ansiCodePage = "1252";
  // The language of the system's message texts: 1033 (English, United States), or 1031 for a
  // German Windows, which has no English texts.
  WORD messageLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  DWORD sessionId = 1;       // the first interactive user's session; services run in session 0
  // Resources of our executable that the product reads, by type and numeric id: as install.rc
  // has them (the event message DLL as RCDATA 2).
  std::map<std::pair<WORD, WORD>, std::vector<uint8_t>> moduleResources = {
      {{10, 2}, std::vector<uint8_t>{'M', 'Z', 'e', 'v', 'e', 'n', 't', 's'}}};
  DWORD lastError = 0;
  int64_t globalBlocks = 0;  // GlobalAlloc blocks not yet freed
  int64_t localBlocks = 0;   // FormatMessage/CommandLineToArgvW blocks not yet freed

  Clock clock;
  std::vector<Fault> faults;
  std::map<std::string, int> calls;  // how many times each Windows function was called
  std::vector<std::string> trace;    // every failable call in order, while `tracing` is set
  bool tracing = false;
  // The process killed at its Nth failable call (CutRunAt): from that call on nothing it asks of
  // Windows happens and time stands still; only what the system does for a dead process (its
  // handles and memory given back) still takes place.
  int64_t failableCalls = 0;  // failable calls so far, all functions together
  int64_t cutAtCall = 0;      // 0: no cut
  bool cut = false;

  RegistryState registry;
  FileSystemState files;
  ServicesState services;
  SpoolerState spooler;
  DesktopState desktop;
  EventLogState eventLog;
  SessionsState sessions;
  SystemState system;
};

Machine& M();
void Reset();
// Test side: a check that Reset runs on the machine it is about to replace (null: none), so that
// a rule every test must keep holds for each machine a test builds, not only its last.
void SetResetCheck(std::function<void()> check);

// What the process still holds: one line for each open handle of every kind (files, registry
// keys, service, printer, event source and kernel object handles) and for the global and local blocks not
// freed. Empty when everything a run opened was closed again.
std::vector<std::string> OpenHandles();

// Fault injection
void FailCall(const std::string& function, DWORD error, int times = 1, int fromCall = 1, DWORD delayMs = 0);
// The same, counted from the next call on.
void FailNext(const std::string& function, DWORD error, int times = 1, DWORD delayMs = 0);
int CallCount(const std::string& function);
// Ends the running process at its nth failable call from now (n >= 1), as if it were killed
// there; EndCut starts the next process on the machine as it was left.
void CutRunAt(int64_t n);
void EndCut();

// Time
void Advance(uint64_t milliseconds);
void At(uint64_t when, std::function<void()> action);
void After(uint64_t delay, std::function<void()> action);

namespace detail {
// Counts the call and decides whether an injected fault fires; when it does, the last error is set.
// `caller` is the return address into the calling code: the fault matrix records which call sites
// the tests have made fail (written to the file named by WINSIM_FAULT_SITES at exit).
bool Enter(const char* function, const void* caller = nullptr);
}  // namespace detail

}  // namespace winsim

// Used at the top of every simulated function: counts the call and fails it on demand.
#define WINSIM_ENTER(name, failResult)                                             \
  do {                                                                             \
    if (::winsim::detail::Enter(name, __builtin_return_address(0))) return failResult; \
  } while (0)
// The same for calls that return their error code (the registry, printer data).
#define WINSIM_ENTER_STATUS(name)                                                                      \
  do {                                                                                                 \
    if (::winsim::detail::Enter(name, __builtin_return_address(0))) return static_cast<LONG>(GetLastError()); \
  } while (0)
