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

ActingForUser BeginActingForUser() {
  ActingForUser result = {nullptr, false, nullptr, 0};
  DWORD own = 0;
  if (!OwnSessionId(&own)) {
    result.failedCall = TEXT("ProcessIdToSessionId");
    result.error = GetLastError();
    return result;
  }
  SessionUserToken user = {nullptr, own, false, nullptr, 0};
  if (own != 0) {
    user = OpenSessionUserToken(own);
  } else {
    // Session 0 has no user of its own: the person at the console is who a deployment serves.
    const DWORD console = WTSGetActiveConsoleSessionId();
    if (console == 0xFFFFFFFF) {
      result.failedCall = TEXT("WTSGetActiveConsoleSessionId");
      result.error = ERROR_NO_TOKEN;
      return result;
    }
    user = OpenSessionToken(console);
  }
  if (!user.token) {
    result.failedCall = user.failedCall;
    result.error = user.error;
    return result;
  }
  result.token = user.token;
  if (!ImpersonateLoggedOnUser(user.token)) {
    result.failedCall = TEXT("ImpersonateLoggedOnUser");
    result.error = GetLastError();
    CloseHandle(result.token);
    result.token = nullptr;
    return result;
  }
  result.acting = true;
  return result;
}

bool EndActingForUser(ActingForUser* acting) {
  bool reverted = true;
  if (acting->acting) reverted = RevertToSelf() != FALSE;
  const DWORD error = GetLastError();
  if (acting->token) CloseHandle(acting->token);
  acting->token = nullptr;
  acting->acting = false;
  SetLastError(error);
  return reverted;
}

bool ReadAccountSid(HANDLE token, LPWSTR out, LPCWSTR* failedCall) {
  out[0] = 0;
  HANDLE own = nullptr;
  if (!token) {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) {
      *failedCall = TEXT("OpenProcessToken");
      return false;
    }
    token = own;
  }
  // A TOKEN_USER with its SID: a SID takes at most 68 bytes.
  union {
    TOKEN_USER user;
    BYTE bytes[256];
  } info;
  DWORD needed = 0;
  LPWSTR text = nullptr;
  *failedCall = nullptr;
  if (!GetTokenInformation(token, TokenUser, &info, sizeof(info), &needed))
    *failedCall = TEXT("GetTokenInformation");
  else if (!ConvertSidToStringSidW(info.user.User.Sid, &text))
    *failedCall = TEXT("ConvertSidToStringSidW");
  const DWORD error = GetLastError();
  if (text) {
    lstrcpynW(out, text, static_cast<int>(kSidChars));
    LocalFree(text);
  }
  if (own) CloseHandle(own);
  SetLastError(error);
  return *failedCall == nullptr;
}
