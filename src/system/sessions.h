// Sessions and the accounts signed in to them: which session the installer runs in, and a token
// of the user signed in to a session, to start a program for them with their own rights.
#pragma once
#include "platform/win32.h"

// A primary token of a session's signed-in user, or why there is none. `failedCall` names the
// Windows call that failed (null when one succeeded or none was made) and `error` its code.
struct SessionUserToken {
  HANDLE token;
  DWORD session;
  bool fromShell;  // the shell's token (start it with CreateProcessWithTokenW), else the session's
                   // user token from Remote Desktop Services (CreateProcessAsUserW)
  LPCWSTR failedCall;
  DWORD error;
};

// The session the installer runs in; false (with the last error) when Windows can't tell.
bool OwnSessionId(DWORD* session);
// The signed-in user's token of the installer's own interactive session: the token of its shell
// (the user's own, unelevated, whoever elevated the installer), or, in a session without a
// shell, the session's user token. The caller closes a token it receives.
SessionUserToken OpenSessionUserToken(DWORD ownSession);
// The user token of any session (an administrator's filtered, unelevated one): Remote Desktop
// Services give it to SYSTEM only; a session without a signed-in user has none (ERROR_NO_TOKEN).
SessionUserToken OpenSessionToken(DWORD session);

// The installer acting for the user whose per-user state it keeps (the default printer): the
// signed-in user of its own interactive session, or, from session 0, of the active console
// session. Their token is impersonated by the thread so the per-user calls land in their
// profile, never in the running account's (SYSTEM's, or a helping administrator's).
struct ActingForUser {
  HANDLE token;
  bool acting;
  LPCWSTR failedCall;  // why there is nobody to act for (null when acting)
  DWORD error;
};
ActingForUser BeginActingForUser();
// Back to the installer's own account; false (with the last error) when the thread could not
// revert.
bool EndActingForUser(ActingForUser* acting);

// The SID, as text, of the token's account (a null token: the installer's own account), in
// `out` (kSidChars units). False with the failed call and the last error when it cannot be read.
const DWORD kSidChars = 192;  // the longest SID's text (15 sub-authorities) with room to spare
bool ReadAccountSid(HANDLE token, LPWSTR out, LPCWSTR* failedCall);
