#include "log/event_log.h"

#include <cstdlib>

#include "app/installer_state.h"
#include "support/counted_string.h"

namespace {
const char kSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Marbleleaf Install";

// Registers the source for the message table of this executable ("%1" for both ids), so that
// Event Viewer, wevtutil and Get-WinEvent show the log as the description. Written at every
// report so that it follows the installer when the product folder moves. A source that can't be
// registered still gets its events: Windows keeps their text, only without the description.
void RegisterLogEventSource() {
  WCHAR path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(programInstance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  // REG_SZ, not REG_EXPAND_SZ: the path is literal, a "%" in a folder name must stay as it is.
  RegSetValueExW(key, TEXT("EventMessageFile"), 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                 (length + 1) * sizeof(WCHAR));
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_INFORMATION_TYPE;
  RegSetValueExW(key, TEXT("TypesSupported"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof(types));
  RegCloseKey(key);
}

// Length of the next event's part of text: all of it when it fits, else up to the last line end
// within the limit. Log lines are far shorter than the limit; one that is not is cut there.
size_t PartLength(LPCWSTR text, size_t remaining) {
  if (remaining <= kEventTextLimit) return remaining;
  for (size_t length = kEventTextLimit; length > 0; --length)
    if (text[length - 1] == TEXT('\n')) return length;
  return kEventTextLimit;
}
}  // namespace

void ReportLogToEventLog(const InstallerState* state) {
  RegisterLogEventSource();
  HANDLE source = RegisterEventSourceW(nullptr, PRODUCT_EVENT_SOURCE);
  if (!source) return;  // the log had no other reader left: nothing more can be done
  const bool errors = state->errorCount != 0;
  const WORD type = errors ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE;
  const DWORD eventId = errors ? kErrorsEventId : kRebootEventId;
  LPCWSTR text = Text(state->logText);
  size_t remaining = static_cast<size_t>(Length(state->logText));
  WCHAR* part = static_cast<WCHAR*>(std::malloc((kEventTextLimit + 1) * sizeof(WCHAR)));
  while (part && remaining > 0) {
    const size_t length = PartLength(text, remaining);
    lstrcpynW(part, text, static_cast<int>(length + 1));
    LPCWSTR strings[1] = {part};
    // A part that Windows refuses is lost alone: the parts after it are still written.
    ReportEventW(source, type, 0, eventId, nullptr, 1, 0, strings, nullptr);
    text += length;
    remaining -= length;
  }
  std::free(part);
  DeregisterEventSource(source);
}
