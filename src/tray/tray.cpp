// The tray companion: ask it to exit and remove it; register and start it. Nothing here logs:
// a failure shows only in its effect.
#include "tray/tray.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "platform/win32.h"
#include "support/ascii_text.h"
#include "support/counted_string.h"

namespace {
// Shared with the companion program.
const char kTrayMutex[] = "{A9CA955A-0A8A-4C32-AAC6-888FB5F83BDC}";
const WCHAR kTrayWindowClass[] = TEXT("mbs::{05759F8E-103D-41B6-8A61-EFAA89516692}");
const UINT kTrayExitMessage = WM_USER + 2;

const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunValueAnsi[] = "MarbleleafTray";
const WCHAR kRunValue[] = TEXT("MarbleleafTray");

const int kSearchPasses = 20;
const DWORD kMutexWaitMs = 5000;
const DWORD kNoWindowPauseMs = 250;
const int kDeleteAttempts = 10;
const DWORD kAccessDeniedPauseMs = 100;
const DWORD kOtherErrorPauseMs = 10;
const DWORD kNoRunValuePauseMs = 1000;
// The Run value is read into MAX_PATH characters; a command line names its program within
// MAX_PATH characters including the terminator.
const DWORD kRunPathChars = 260;
const uint64_t kLongestStartablePath = 259;

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

void DeleteTrayProgram(LPCWSTR path) {
  for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
    if (DeleteFileW(path)) return;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return;
    Sleep(error == ERROR_ACCESS_DENIED ? kAccessDeniedPauseMs : kOtherErrorPauseMs);
  }
}

// Deletes the program file that the Run value names, unless it is the file to keep.
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
  if (keepFile && EqualsAsciiNoCase(path, keepFile)) return;
  if (path[0] && NamesTrayProgram(path)) DeleteTrayProgram(path);
}

// Starts the companion with its quoted path as the whole command line, without waiting for it.
// A start that fails is logged, not counted: the Run value starts it at the next log-on.
void StartTray(InstallerState* state, const CountedString& path) {
  WCHAR commandLine[kLongestStartablePath + 3];  // quote, path, quote, terminator
  commandLine[0] = '"';
  lstrcpynW(commandLine + 1, Text(path), static_cast<int>(kLongestStartablePath + 1));
  lstrcatW(commandLine, TEXT("\""));
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process = {};
  if (CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                     &process)) {
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  } else {
    LogLine(state, TEXT("Can't start the tray program %s (%d)"), Text(path), static_cast<int>(GetLastError()));
  }
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

CountedString TrayProgramPath(const InstallerState* state) { return TrayProgramPath(state->installerDir); }

CountedString TrayProgramPath(const CountedString& installerDir) {
  CountedString path = Copy(installerDir);
  DropTrailingSeparator(path);
  CountedString parent = ParentFolder(path);
  Assign(path, parent);
  Release(parent);
  AddTrailingSeparator(path);
  CountedString file = FromAnsi(PRODUCT_TRAY_FILE);
  Append(path, file);
  Release(file);
  return path;
}

void RegisterAndStartTray(InstallerState* state) {
  CountedString path = TrayProgramPath(state);

  HKEY runKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &runKey) == ERROR_SUCCESS) {
    RegSetValueExW(runKey, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(Text(path)),
                   static_cast<DWORD>((Length(path) + 1) * sizeof(WCHAR)));
    RegCloseKey(runKey);
  }
  // A longer path cut to fit the command line would name another file, or none.
  if (Length(path) <= kLongestStartablePath) StartTray(state, path);
  Release(path);
}
