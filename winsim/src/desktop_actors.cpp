// Scripted programs of other processes: the tray companion and help viewer windows.
//
// Where Wine 8 differs from Windows: these are other programs, not Windows: nothing to differ.
// Not modelled: what the companion and the help viewer do beyond their mutex, windows and answers.
#include <memory>

#include "winsim/machine.h"

namespace winsim {

const char* const kTrayMutexName = "{A9CA955A-0A8A-4C32-AAC6-888FB5F83BDC}";
const char16_t* const kTrayWindowClass = u"mbs::{05759F8E-103D-41B6-8A61-EFAA89516692}";
const char16_t* const kHelpWindowClass = u"HH Parent";
const char16_t* const kHelpWindowTitle = u"Marbleleaf Help";

const char16_t* const kDefaultTrayPath = u"C:\\Program Files\\Marbleleaf\\mbltray.exe";

namespace {
// What the companion does in its process: take the mutex, open its window, answer the exit
// message as scripted.
void RunTrayCompanion(DWORD id, const TrayScript& script) {
  const DWORD session = FindProcess(id)->session;
  const bool anotherRuns = FindMutexIn(kTrayMutexName, session) != nullptr;
  OpenMutexFor(id, kTrayMutexName, true);
  if (anotherRuns) {  // the real program leaves at once when the mutex exists
    EndProcess(id);
    return;
  }
  HWND window = AddWindow(kTrayWindowClass, u"Marbleleaf");
  Window* record = FindWindowRecord(window);
  record->process = id;
  record->session = session;
  auto answered = std::make_shared<bool>(false);
  // The end of the session (the Restart Manager's request) ends it as the exit message does.
  record->onMessage = [id, script, answered](HWND self, UINT message, WPARAM wParam, LPARAM) {
    const bool asked = message == kTrayExitMessage || (message == WM_ENDSESSION && wParam);
    if (!asked || *answered || script.answer == TrayAnswer::kNeverAnswers) return;
    *answered = true;
    After(script.delayMs, [id, script, self] {
      DestroyWindowOf(self);
      switch (script.answer) {
        case TrayAnswer::kExits:
          ReleaseMutexFor(id, kTrayMutexName);
          EndProcess(id);
          break;
        case TrayAnswer::kClosesWindowKeepsMutex:
          After(script.holdMs, [id] {
            ReleaseMutexFor(id, kTrayMutexName);
            EndProcess(id);
          });
          break;
        case TrayAnswer::kExitsHoldingMutex:
          EndProcess(id);
          break;
        case TrayAnswer::kNeverAnswers:
          break;
      }
    });
  };
}
}  // namespace

DWORD StartTrayCompanion(const TrayScript& script, const std::u16string& path) {
  const DWORD id = StartOtherProcess(path);
  RunTrayCompanion(id, script);
  return id;
}

DWORD StartTrayCompanionIn(DWORD session, const TrayScript& script, const std::u16string& path) {
  const Session* record = FindSession(session);
  const DWORD id = StartOtherProcessIn(path, session, record ? record->user : M().sessions.callerSid);
  RunTrayCompanion(id, script);
  return id;
}

void InstallTrayProgram(const std::u16string& path, const TrayScript& script) {
  PutFile(path, "MZ tray companion");
  RegisterProgram(path, [script](DWORD id) { RunTrayCompanion(id, script); });
}

HWND OpenHelpWindow(uint64_t closeDelayMs) {
  HWND window = AddWindow(kHelpWindowClass, kHelpWindowTitle);
  auto closing = std::make_shared<bool>(false);
  FindWindowRecord(window)->onMessage = [closeDelayMs, closing](HWND self, UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_SYSCOMMAND || (wParam & 0xFFF0) != SC_CLOSE) return;
    if (closeDelayMs == kNeverCloses || *closing) return;
    *closing = true;
    After(closeDelayMs, [self] { DestroyWindowOf(self); });
  };
  return window;
}

}  // namespace winsim
