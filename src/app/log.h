// The run's log: lines appended to the state's log text, indented by the current depth.
// Every subsystem logs through these; nothing here calls back into a subsystem. A null state is
// a silent run (the probes'): every function here then does nothing.
#pragma once
#include "platform/win32.h"

struct InstallerState;

void LogAppend(InstallerState* state, LPCWSTR text);
void LogLine(InstallerState* state, LPCWSTR format, ...);
void LogError(InstallerState* state, DWORD errorNumber, LPCWSTR format, ...);

// A log section: the head line is logged by the caller; the depth is raised for the guard's
// lifetime and lowered again on every way out.
class LogSection {
 public:
  explicit LogSection(InstallerState* state, int levels = 1);
  ~LogSection();
  LogSection(const LogSection&) = delete;
  LogSection& operator=(const LogSection&) = delete;

 private:
  InstallerState* state_;
  int levels_;
};
