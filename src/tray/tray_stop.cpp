// Stopping the tray companion and removing it: its file and its Run value. Nothing here logs:
// a failure shows only in its effect.
#include "tray/tray.h"

#include "app/product.h"
#include "platform/win32.h"
#include "support/ascii_text.h"
#include "support/counted_string.h"
#include "tray/tray_protocol.h"

namespace {
const char kTrayMutex[] = TRAY_MUTEX_NAME;
const WCHAR kTrayWindowClass[] = TRAY_WINDOW_CLASS;
const char kRunKey[] = TRAY_RUN_KEY;
const char kRunValueAnsi[] = TRAY_RUN_VALUE;
const WCHAR kRunValue[] = TEXT(TRAY_RUN_VALUE);

const int kSearchPasses = 20;
const DWORD kMutexWaitMs = 5000;
const DWORD kNoWindowPauseMs = 250;
const int kDeleteAttempts = 10;
const DWORD kAccessDeniedPauseMs = 100;
const DWORD kOtherErrorPauseMs = 10;
const DWORD kNoRunValuePauseMs = 1000;
// The Run value is read into MAX_PATH characters and the two quotes around the path.
const DWORD kRunPathChars = 262;

// Posts the exit request to the companion's window and waits for it to give up the mutex.
// A wait that ends (released or abandoned) makes this thread the owner; the mutex is never
// released, only its handle closed.
void AskTrayToExit(HANDLE mutex) {
  bool posted = false;
  for (int pass = 1;; ++pass) {
    HWND window = FindWindowW(kTrayWindowClass, nullptr);
    if (window) {
      PostMessageW(window, kTrayExitMessage, 0, 0);
      posted = true;
      if (WaitForSingleObject(mutex, kMutexWaitMs) == WAIT_OBJECT_0) return;
    } else if (posted) {
      // Its window is gone: it is ending, give it one more wait to let go of the mutex.
      WaitForSingleObject(mutex, kMutexWaitMs);
      return;
    } else {
      Sleep(kNoWindowPauseMs);
    }
    if (pass == kSearchPasses) {
      if (posted) WaitForSingleObject(mutex, kMutexWaitMs);
      return;
    }
  }
}

// The Run value is outside input and the installer runs as administrator: it deletes only a
// file that is the companion, whatever folder the value names.
bool NamesTrayProgram(LPCWSTR path) {
  LPCWSTR name = path;
  for (LPCWSTR p = path; *p; ++p)
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  return EqualsAsciiNoCase(name, TEXT(PRODUCT_TRAY_FILE));
}

// Companions of other sessions (other users on the machine, a Remote Desktop host) are out of
// reach of the mutex and the window: the Restart Manager asks every process that runs the file
// to close, in any session, and ends those still there when its wait is over.
void StopTrayInEverySession(LPCWSTR path) {
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {0};
  if (RmStartSession(&session, 0, key) != ERROR_SUCCESS) return;
  LPCWSTR files[] = {path};
  if (RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS)
    RmShutdown(session, RmForceShutdown, nullptr);
  RmEndSession(session);
}

void DeleteTrayProgram(LPCWSTR path) {
  for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
    if (DeleteFileW(path)) return;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return;
    Sleep(error == ERROR_ACCESS_DENIED ? kAccessDeniedPauseMs : kOtherErrorPauseMs);
  }
}

// The value is a command line: the path in double quotes, or, as earlier versions wrote it, the
// bare path. The path is moved to the front of the buffer without its quotes.
void UnquoteRunPath(LPWSTR path) {
  if (path[0] != '"') return;
  int i = 0;
  for (; path[i + 1] && path[i + 1] != '"'; ++i) path[i] = path[i + 1];
  path[i] = 0;
}

// Stops the companion that the Run value names in every session, and deletes its file unless it
// is the file to keep (a reinstall starts it again from there).
void DeleteRegisteredTrayProgram(HKEY runKey, LPCWSTR keepFile) {
  // One character more than the read may fill: string data stored without a terminator comes
  // back without one.
  WCHAR path[kRunPathChars + 1];
  path[0] = 0;
  DWORD size = kRunPathChars * sizeof(WCHAR);
  if (RegQueryValueExW(runKey, kRunValue, nullptr, nullptr, reinterpret_cast<LPBYTE>(path), &size) != ERROR_SUCCESS) {
    Sleep(kNoRunValuePauseMs);
    return;
  }
  const DWORD chars = size / sizeof(WCHAR);
  path[chars < kRunPathChars ? chars : kRunPathChars] = 0;
  UnquoteRunPath(path);
  if (!path[0] || !NamesTrayProgram(path)) return;
  StopTrayInEverySession(path);
  if (keepFile && EqualsAsciiNoCase(path, keepFile)) return;
  DeleteTrayProgram(path);
}

}  // namespace

void StopTray(LPCWSTR keepFile) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kTrayMutex);
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) AskTrayToExit(mutex);
  if (mutex) CloseHandle(mutex);

  HKEY runKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &runKey) != ERROR_SUCCESS) return;
  if (mutex) DeleteRegisteredTrayProgram(runKey, keepFile);
  RegDeleteValueA(runKey, kRunValueAnsi);
  RegCloseKey(runKey);
}
