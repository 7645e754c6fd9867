// The current simulated machine, fault injection and the virtual clock.
#include "winsim/machine.h"

namespace winsim {
namespace {
std::unique_ptr<Machine>& Current() {
  static std::unique_ptr<Machine> machine;
  return machine;
}
}  // namespace

Machine& M() {
  auto& machine = Current();
  if (!machine) machine = std::make_unique<Machine>();
  return *machine;
}

void Reset() { Current() = std::make_unique<Machine>(); }

void FailCall(const std::string& function, DWORD error, int times, int fromCall, DWORD delayMs) {
  M().faults.push_back(Fault{function, fromCall, times, error, delayMs});
}

int CallCount(const std::string& function) {
  auto it = M().calls.find(function);
  return it == M().calls.end() ? 0 : it->second;
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
bool Enter(const char* function) {
  Machine& m = M();
  const int call = ++m.calls[function];
  for (Fault& fault : m.faults) {
    if (fault.function != function || call < fault.fromCall) continue;
    if (fault.times >= 0 && call >= fault.fromCall + fault.times) continue;
    if (fault.delayMs) {
      m.clock.slept += 0;  // a slow call is not a sleep of ours
      Advance(fault.delayMs);
    }
    m.lastError = fault.error;
    return true;
  }
  return false;
}
}  // namespace detail

}  // namespace winsim
