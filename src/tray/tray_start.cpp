// Registering the tray companion for logon and starting it for the session's signed-in user.
//
// The companion belongs to the user at the desktop: it is never started with the installer's own
// token, which is elevated, or SYSTEM's in session 0, or another administrator's who elevated
// the installer on that user's desktop. It gets the user's own token (system/sessions) and its
// own folder as the current folder; without such a token it is not started, and Windows starts
// it at the user's next logon through the Run value. A start in the installer's own session as
// its signed-in user is what always happened and logs nothing; any other outcome is logged.
#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "platform/win32.h"
#include "support/counted_string.h"
#include "system/sessions.h"
#include "tray/tray.h"
#include "tray/tray_protocol.h"

namespace {
const char kRunKey[] = TRAY_RUN_KEY;
const WCHAR kRunValue[] = TEXT(TRAY_RUN_VALUE);
// A command line names its program within MAX_PATH characters including the terminator.
const uint64_t kLongestStartablePath = 259;

// The path in double quotes: a path with blanks is otherwise read as a shorter program's name
// followed by arguments ("C:\Program.exe").
CountedString QuotedPath(const CountedString& path) {
  CountedString quoted = FromAnsi("\"");
  Append(quoted, path);
  CountedString quote = FromAnsi("\"");
  Append(quoted, quote);
  Release(quote);
  return quoted;
}

void WriteRunValue(const CountedString& path) {
  HKEY runKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &runKey) != ERROR_SUCCESS) return;
  CountedString quoted = QuotedPath(path);
  RegSetValueExW(runKey, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(Text(quoted)),
                 static_cast<DWORD>((Length(quoted) + 1) * sizeof(WCHAR)));
  Release(quoted);
  RegCloseKey(runKey);
}

// Starts the companion with the user's token, its quoted path as the whole command line, in its
// own folder, without waiting for it. In an interactive session the installer is an elevated
// administrator, who may start a process with another token; in session 0 it is SYSTEM.
bool StartWithToken(const SessionUserToken& user, const CountedString& path, DWORD* error) {
  WCHAR commandLine[kLongestStartablePath + 3];  // quote, path, quote, terminator
  commandLine[0] = '"';
  lstrcpynW(commandLine + 1, Text(path), static_cast<int>(kLongestStartablePath + 1));
  lstrcatW(commandLine, TEXT("\""));
  WCHAR folder[kLongestStartablePath + 1];
  lstrcpynW(folder, Text(path), static_cast<int>(kLongestStartablePath + 1));
  for (int i = lstrlenW(folder) - 1; i >= 0 && folder[i] != '\\'; --i) folder[i] = 0;
  // A drive's root keeps its backslash; any other folder is named without it.
  const int folderLength = lstrlenW(folder);
  if (folderLength > 3 && folder[folderLength - 1] == '\\') folder[folderLength - 1] = 0;
  WCHAR desktop[] = TEXT("winsta0\\default");
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  startup.lpDesktop = desktop;
  PROCESS_INFORMATION process = {};
  LPCWSTR currentFolder = folder[0] ? folder : nullptr;
  const BOOL started =
      user.fromShell ? CreateProcessWithTokenW(user.token, 0, nullptr, commandLine, NORMAL_PRIORITY_CLASS, nullptr,
                                           currentFolder, &startup, &process)
                 : CreateProcessAsUserW(user.token, nullptr, commandLine, nullptr, nullptr, FALSE,
                                        NORMAL_PRIORITY_CLASS, nullptr, currentFolder, &startup, &process);
  if (!started) {
    *error = GetLastError();
    return false;
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return true;
}

// Started in the installer's own session for its signed-in user.
void StartTrayInOwnSession(InstallerState* state, DWORD session, const CountedString& path) {
  const SessionUserToken user = OpenSessionUserToken(session);
  if (!user.token) {
    if (user.error)
      LogLine(state, TEXT("Tray companion not started: %s failed with code %d; it starts at the next logon"),
              user.failedCall, user.error);
    else
      LogLine(state, TEXT("Tray companion not started: no shell in session %d; it starts at the next logon"), session);
    return;
  }
  // A start that fails is logged, not counted: the Run value starts it at the next logon.
  DWORD error = 0;
  if (!StartWithToken(user, path, &error))
    LogLine(state, TEXT("Can't start the tray program %s (%d)"), Text(path), static_cast<int>(error));
  CloseHandle(user.token);
}

// From session 0 (SYSTEM, a deployment agent): started in every session with a signed-in user,
// console or remote, as that user; the companions this run's removal stopped there come back.
void StartTrayInEverySession(InstallerState* state, const CountedString& path) {
  PWTS_SESSION_INFOW sessions = nullptr;
  DWORD count = 0;
  if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
    const DWORD code = GetLastError();
    LogLine(state, TEXT("Tray companion not started: WTSEnumerateSessionsW failed with code %d; it starts at the next logon"),
            code);
    return;
  }
  int users = 0;
  for (DWORD i = 0; i < count; ++i) {
    const DWORD id = sessions[i].SessionId;
    if (id == 0 || (sessions[i].State != WTSActive && sessions[i].State != WTSDisconnected)) continue;
    const SessionUserToken user = OpenSessionToken(id);
    if (!user.token && user.error == ERROR_NO_TOKEN) continue;  // nobody signed in there
    ++users;
    DWORD error = user.error;
    LPCWSTR failedCall = user.failedCall;
    if (user.token) {
      failedCall = StartWithToken(user, path, &error) ? nullptr : TEXT("CreateProcessAsUserW");
      CloseHandle(user.token);
    }
    if (failedCall)
      LogLine(state, TEXT("Tray companion not started in session %d: %s failed with code %d; it starts at the next logon"),
              id, failedCall, error);
    else
      LogLine(state, TEXT("Tray companion started in session %d for its signed-in user"), id);
  }
  WTSFreeMemory(sessions);
  if (!users) LogLine(state, TEXT("Tray companion not started: no user is signed in; it starts at the next logon"));
}

void StartTrayForSessionUsers(InstallerState* state, const CountedString& path) {
  DWORD session = 0;
  if (!OwnSessionId(&session)) {
    const DWORD code = GetLastError();
    LogLine(state, TEXT("Tray companion not started: ProcessIdToSessionId failed with code %d; it starts at the next logon"),
            code);
    return;
  }
  if (session == 0)
    StartTrayInEverySession(state, path);
  else
    StartTrayInOwnSession(state, session, path);
}
}  // namespace

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
  WriteRunValue(path);
  // A longer path cut to fit the command line would name another file, or none.
  if (Length(path) <= kLongestStartablePath) StartTrayForSessionUsers(state, path);
  Release(path);
}
