// user32: finding other programs' windows and posting messages to them.
#include "winsim/machine.h"

using winsim::M;

namespace winsim {

const char* const kTrayMutexName = "{A9CA955A-0A8A-4C32-AAC6-888FB5F83BDC}";
const char16_t* const kTrayWindowClass = u"mbs::{05759F8E-103D-41B6-8A61-EFAA89516692}";
const char16_t* const kHelpWindowClass = u"HH Parent";
const char16_t* const kHelpWindowTitle = u"Marbleleaf Help";

Window* FindWindowRecord(HWND window) {
  for (Window& w : M().desktop.windows)
    if (w.handle == window && w.alive) return &w;
  return nullptr;
}

void DestroyWindowOf(HWND window) {
  if (Window* w = FindWindowRecord(window)) {
    w->alive = false;
    w->closedAt = M().clock.now;
  }
}

int PostedTo(HWND window, UINT message) {
  int count = 0;
  for (const PostedMessage& posted : M().desktop.posted)
    if (posted.window == window && posted.message == message) ++count;
  return count;
}

namespace {
char16_t FoldCase(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Class names and titles match regardless of letter case, as FindWindow compares them.
bool SameText(LPCWSTR wanted, const std::u16string& actual) {
  size_t i = 0;
  for (; wanted[i]; ++i)
    if (i >= actual.size() || FoldCase(wanted[i]) != FoldCase(actual[i])) return false;
  return i == actual.size();
}

// A class given as an atom (MAKEINTATOM) has no text; no modelled window has a registered atom.
bool IsAtom(LPCWSTR className) { return reinterpret_cast<uintptr_t>(className) < 0x10000; }
}  // namespace
}  // namespace winsim

// Top-level windows are searched from the top of the z-order: the newest window first. Only the
// windows of our own session's desktop are seen.
HWND WINAPI FindWindowW(LPCWSTR className, LPCWSTR windowName) {
  WINSIM_ENTER("FindWindowW", nullptr);
  if (className && winsim::IsAtom(className)) return nullptr;
  auto& windows = M().desktop.windows;
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    if (!it->alive || it->session != M().sessionId) continue;
    if (className && !winsim::SameText(className, it->className)) continue;
    if (windowName && !winsim::SameText(windowName, it->title)) continue;
    return it->handle;
  }
  return nullptr;
}

// The message is queued for the window's program, which reads it once our thread yields.
BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WINSIM_ENTER("PostMessageW", FALSE);
  const winsim::Window* target = winsim::FindWindowRecord(window);
  if (!target || target->session != M().sessionId) {  // another session's windows can't be reached
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  M().desktop.posted.push_back(winsim::PostedMessage{window, message, wParam, lParam, M().clock.now});
  winsim::After(0, [window, message, wParam, lParam] {
    winsim::Window* target = winsim::FindWindowRecord(window);
    if (target && target->onMessage) {
      auto handler = target->onMessage;  // the handler may add windows and move the vector
      handler(window, message, wParam, lParam);
    }
  });
  return TRUE;
}
