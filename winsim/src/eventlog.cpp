// advapi32 event logging into the Application log.
//
// Where Wine 8 differs from Windows: Wine accepts the calls and writes the events to its debug
// channel only; there is no Application log to read back.
// Not modelled: remote logs, backup and clearing, reading events back through the API, the
// message file's descriptions (the model keeps the ids and the strings).
#include "winsim/machine.h"

using winsim::M;

// Any source name is accepted, registered or not: events of an unregistered source still go to
// the Application log (Event Viewer then can't find their description).
HANDLE WINAPI RegisterEventSourceW(LPCWSTR server, LPCWSTR source) {
  WINSIM_ENTER("RegisterEventSourceW", nullptr);
  if (server && *server) {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);  // only the local machine is modelled
    return nullptr;
  }
  if (!source || !*source) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  winsim::EventLogState& log = M().eventLog;
  const uintptr_t handle = log.nextHandle;
  log.nextHandle += 4;
  log.handles[handle] = source;
  return reinterpret_cast<HANDLE>(handle);
}

// Each insertion string may hold at most kMaxEventStringLength characters; a longer one is
// refused whole (RPC_S_INVALID_BOUND, as Windows Vista and later answer) and nothing is written.
BOOL WINAPI ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID, WORD numStrings, DWORD,
                         LPCWSTR* strings, LPVOID) {
  WINSIM_ENTER("ReportEventW", FALSE);
  winsim::EventLogState& log = M().eventLog;
  auto it = log.handles.find(reinterpret_cast<uintptr_t>(eventLog));
  if (it == log.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (numStrings && !strings) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  winsim::EventRecord record;
  record.source = it->second;
  record.type = type;
  record.category = category;
  record.id = eventId;
  for (WORD i = 0; i < numStrings; ++i) {
    const std::u16string text = strings[i] ? strings[i] : u"";
    if (text.size() > winsim::kMaxEventStringLength) {
      SetLastError(RPC_S_INVALID_BOUND);
      return FALSE;
    }
    record.strings.push_back(text);
  }
  log.application.push_back(std::move(record));
  return TRUE;
}

BOOL WINAPI DeregisterEventSource(HANDLE eventLog) {
  WINSIM_ENTER("DeregisterEventSource", FALSE);
  if (M().eventLog.handles.erase(reinterpret_cast<uintptr_t>(eventLog)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
