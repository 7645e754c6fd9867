// The run's log in the Windows Application event log, for runs whose log nobody could see.
#pragma once
#include "platform/win32.h"

struct InstallerState;

// The event ids: those of the exit codes they explain.
const DWORD kErrorsEventId = 100;
const DWORD kRebootEventId = 101;
// The longest insertion string ReportEventW takes (Windows Vista and later).
const size_t kEventTextLimit = 31839;
// install.exe carries the event message DLL as RCDATA resource 2; it is written into the system
// folder under PRODUCT_EVENT_MESSAGE_FILE.
const WORD kEventMessagesResource = 2;

// Registers the event source and writes the whole log: one error event when the run counted errors, else one information event,
// in several consecutive events when the log is longer than one event holds (split between lines).
void ReportLogToEventLog(const InstallerState* state);
