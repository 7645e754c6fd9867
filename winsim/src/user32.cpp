// user32: windows of other processes (finding them, posting messages to them), the Shift key, the
// window station and the modal dialog.
//
// Where Wine 8 differs from Windows: Wine needs a display (the null driver or Xvfb) for windows;
// GetAsyncKeyState sees a key only while a Wine window has focus.
// Not modelled: window messages beyond posting and the scripted answers of other programs, focus,
// drawing, child windows other than the dialog's items, desktops other than the interactive one.
#include <utility>

#include "winsim/machine.h"

using winsim::M;

namespace winsim {
HWND AddWindow(const std::u16string& className, const std::u16string& title) {
  DesktopState& desktop = M().desktop;
  HWND handle = reinterpret_cast<HWND>(desktop.nextHandle);
  desktop.nextHandle += 0x10;
  Window window;
  window.handle = handle;
  window.className = className;
  window.title = title;
  window.session = M().sessionId;
  desktop.windows.push_back(std::move(window));
  return handle;
}

const HINSTANCE kProgramModule = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x140000000ull));

namespace {
Window* FindWindowByHandle(HWND handle) {
  for (Window& w : M().desktop.windows)
    if (w.handle == handle && w.alive) return &w;
  return nullptr;
}
const HWND kDialogHandle = reinterpret_cast<HWND>(static_cast<uintptr_t>(0xD1A0));
}  // namespace
}  // namespace winsim

BOOL WINAPI IsWindow(HWND window) {
  WINSIM_ENTER("IsWindow", FALSE);
  return winsim::FindWindowByHandle(window) != nullptr || window == winsim::kDialogHandle;
}

SHORT WINAPI GetAsyncKeyState(int key) {
  WINSIM_ENTER("GetAsyncKeyState", 0);
  return (key == VK_SHIFT && M().desktop.shiftDown) ? static_cast<SHORT>(0x8000) : 0;
}

HWINSTA WINAPI GetProcessWindowStation() {
  WINSIM_ENTER("GetProcessWindowStation", nullptr);
  return reinterpret_cast<HWINSTA>(static_cast<uintptr_t>(0x57A0));
}

BOOL WINAPI GetUserObjectInformationW(HANDLE object, int index, LPVOID info, DWORD length, LPDWORD needed) {
  WINSIM_ENTER("GetUserObjectInformationW", FALSE);
  if (object != reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x57A0)) || index != UOI_FLAGS) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (needed) *needed = sizeof(USEROBJECTFLAGS);
  if (length < sizeof(USEROBJECTFLAGS)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* flags = static_cast<USEROBJECTFLAGS*>(info);
  flags->fInherit = FALSE;
  flags->fReserved = FALSE;
  flags->dwFlags = M().desktop.interactiveStation ? WSF_VISIBLE : 0;
  return TRUE;
}

// Runs the dialog procedure as the dialog manager would: WM_INITDIALOG with the caller's parameter,
// then the button press the test scripted. Title, edit text and owner are recorded. The template
// is looked for in the module given (null: the program itself); only the program holds one, 101:
// another module or template fails with 1814 and -1, and nothing is shown.
INT_PTR WINAPI DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc, LPARAM param) {
  WINSIM_ENTER("DialogBoxParamW", -1);
  if ((instance && instance != winsim::kProgramModule) ||
      reinterpret_cast<uintptr_t>(templateName) != winsim::kProgramDialogTemplate) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return -1;
  }
  winsim::DialogState& dialog = M().desktop.dialog;
  dialog.shown++;
  dialog.templateId = static_cast<int>(reinterpret_cast<uintptr_t>(templateName));
  dialog.parent = parent;
  dialog.title.clear();
  dialog.text.clear();
  dialog.result = -1;
  dialog.shownAt = M().clock.now;
  proc(winsim::kDialogHandle, WM_INITDIALOG, 0, param);
  proc(winsim::kDialogHandle, WM_COMMAND, static_cast<WPARAM>(dialog.scriptedCommand), 0);
  return dialog.result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
  WINSIM_ENTER("EndDialog", FALSE);
  if (dialog != winsim::kDialogHandle) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  M().desktop.dialog.result = result;
  return TRUE;
}

BOOL WINAPI SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  WINSIM_ENTER("SetDlgItemTextW", FALSE);
  if (dialog != winsim::kDialogHandle || id != 1001) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  M().desktop.dialog.text = text ? text : u"";
  return TRUE;
}

BOOL WINAPI SetWindowTextW(HWND window, LPCWSTR text) {
  WINSIM_ENTER("SetWindowTextW", FALSE);
  if (window == winsim::kDialogHandle) {
    M().desktop.dialog.title = text ? text : u"";
    return TRUE;
  }
  if (winsim::Window* w = winsim::FindWindowByHandle(window)) {
    w->title = text ? text : u"";
    return TRUE;
  }
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

namespace winsim {

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
