// Sessions and their signed-in users.
#include "system/sessions.h"

namespace {
// What CreateProcessWithTokenW and CreateProcessAsUserW need of a primary token.
const DWORD kPrimaryTokenAccess =
    TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;

SessionUserToken Failed(DWORD session, LPCWSTR call) {
  const DWORD error = GetLastError();
  return SessionUserToken{nullptr, session, false, call, error};
}



// The shell runs with the token Windows made for the user at logon: a duplicate of it is theirs,
// unelevated even when an administrator elevated the installer on their desktop.
SessionUserToken ShellToken(DWORD session) {
  HWND shell = GetShellWindow();
  if (!shell) return OpenSessionToken(session);  // a session without a shell (or one that has not started yet)
  DWORD shellProcessId = 0;
  if (!GetWindowThreadProcessId(shell, &shellProcessId)) return Failed(session, TEXT("GetWindowThreadProcessId"));
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcessId);
  if (!process) return Failed(session, TEXT("OpenProcess"));
  SessionUserToken result = {nullptr, session, true, nullptr, 0};
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_DUPLICATE, &token)) {
    result = Failed(session, TEXT("OpenProcessToken"));
  } else {
    if (!DuplicateTokenEx(token, kPrimaryTokenAccess, nullptr, SecurityImpersonation, TokenPrimary, &result.token))
      result = Failed(session, TEXT("DuplicateTokenEx"));
    CloseHandle(token);
  }
  CloseHandle(process);
  return result;
}

}  // namespace

bool OwnSessionId(DWORD* session) { return ProcessIdToSessionId(GetCurrentProcessId(), session) != FALSE; }

SessionUserToken OpenSessionUserToken(DWORD ownSession) { return ShellToken(ownSession); }

SessionUserToken OpenSessionToken(DWORD session) {
  SessionUserToken result = {nullptr, session, false, nullptr, 0};
  if (!WTSQueryUserToken(session, &result.token)) result = Failed(session, TEXT("WTSQueryUserToken"));
  return result;
}
