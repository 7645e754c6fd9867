#include "log/event_log.h"

#include <cstdlib>

#include "app/installer_state.h"
#include "app/product.h"
#include "support/counted_string.h"

namespace {
const char kSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" PRODUCT_EVENT_SOURCE_ANSI;

// The message file that outlives the installer's folder, which may be temporary or be removed
// by an uninstall: the resource-only DLL that install.exe carries, written once into the system
// folder and kept there, so that every event of the source stays readable. False when it is
// not there; a file of an earlier run is kept.
bool PutMessageFile(const InstallerState* state, LPWSTR path) {
  const uint64_t folderLength = Length(state->systemDir);
  if (folderLength == 0 || folderLength + lstrlenW(PRODUCT_EVENT_MESSAGE_FILE) >= MAX_PATH) return false;
  lstrcpyW(path, Text(state->systemDir));
  lstrcatW(path, PRODUCT_EVENT_MESSAGE_FILE);
  HRSRC found = FindResourceW(programInstance, MAKEINTRESOURCE(kEventMessagesResource), RT_RCDATA);
  const DWORD size = found ? SizeofResource(programInstance, found) : 0;
  HGLOBAL loaded = size ? LoadResource(programInstance, found) : nullptr;
  const void* image = loaded ? LockResource(loaded) : nullptr;
  if (!image) return false;
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
  DWORD written = 0;
  const bool complete = WriteFile(file, image, size, &written, nullptr) && written == size;
  CloseHandle(file);
  // A torn message file would leave every event without its description: none is better.
  if (!complete) DeleteFileW(path);
  return complete;
}

// Registers the source for that message file ("%1" for both ids), so that Event Viewer,
// wevtutil and Get-WinEvent show the log as the event's description. Without it, the installer's
// own executable, which has the same message table, is named instead. Written only when an
// event follows, never in a run whose log was shown. A source that can't be registered still
// gets its events: Windows keeps their text, only without the description.
void RegisterLogEventSource(const InstallerState* state) {
  WCHAR path[MAX_PATH];
  DWORD length = 0;
  if (PutMessageFile(state, path)) {
    length = static_cast<DWORD>(lstrlenW(path));
  } else {
    length = GetModuleFileNameW(programInstance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
  }
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
  RegisterLogEventSource(state);
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
