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
