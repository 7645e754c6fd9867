// Accounts, tokens and sessions: who runs the installer, in which session, and who is signed in
// where. Session 0 holds services and the SYSTEM account; each interactive session has its
// signed-in user, the shell process started for them and its own desktop. A process runs with a
// token (an account, elevated or not) in one session; what it sees of HKCU, named kernel objects
// and windows follows from that.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>
#include "winsim/types.h"

namespace winsim {

extern const char* const kSystemSid;          // "S-1-5-18"
extern const char* const kFirstAdminSid;      // the machine's first administrator, the default caller
extern const char16_t* const kShellPath;      // u"C:\\Windows\\explorer.exe"

struct Account {
  std::string sid;
  std::u16string name;
  bool administrator = false;
};

// A token the model hands out: whose it is, whether it carries the administrators' full rights
// (an elevated token, or SYSTEM's) and the session that processes started with it run in.
struct TokenRecord {
  std::string sid;
  bool elevated = false;
  DWORD session = 0;
  bool primary = true;
};

struct Session {
  DWORD id = 0;
  std::string user;         // SID of the signed-in user; empty: nobody (session 0, or signed out)
  DWORD shellProcess = 0;   // the user's shell (explorer.exe, started with their unelevated token)
  HWND shellWindow = nullptr;
};

struct SessionsState {
  std::vector<Account> accounts;
  std::vector<Session> sessions;     // session 0 first
  DWORD consoleSession = 1;          // the active console session; 0xFFFFFFFF: none attached
  // The installer's own token. Its session is Machine::sessionId.
  std::string callerSid;
  bool callerElevated = true;
  // The SID the installer's thread impersonates (ImpersonateLoggedOnUser); empty: its own.
  std::string impersonating;
  bool impersonatingElevated = false;  // whether that token carries the administrators' full rights
  std::map<int, TokenRecord> tokens;  // open tokens, by id
  int nextToken = 1;
  DWORD nextShellProcess = 600;       // shell process ids, apart from the ids of other programs
  int sessionLists = 0;               // WTSEnumerateSessionsW blocks not yet freed
  // Restart Manager sessions: the files registered in each, by session handle.
  std::map<DWORD, std::vector<std::u16string>> restartSessions;
  DWORD nextRestartSession = 0;
  uint64_t hungAppTimeoutMs = 5000;   // how long a shutdown waits for an application to leave
  SessionsState();                    // SYSTEM and one administrator signed in at the console
};

// Test side: machines of each context.
// Adds an account (administrator or standard user); returns its SID.
std::string AddAccount(const std::u16string& name, bool administrator);
const Account* FindAccount(const std::string& sid);
// Signs the account in: a session (console or remote), its hive loaded under HKEY_USERS, its
// shell started with its unelevated token, a desktop with the shell's window.
DWORD SignIn(const std::string& sid, DWORD session);
void SignOut(DWORD session);
Session* FindSession(DWORD id);
// Who runs the installer: the account, in which session, elevated or not (SYSTEM is always).
void RunInstallerAs(const std::string& sid, DWORD session, bool elevated);
// The hive an account's HKCU maps to ("HKU\\<SID>"; SYSTEM's is "HKU\\.DEFAULT").
std::u16string UserHive(const std::string& sid);
// The full name of a named kernel object as a process of that session opens it: "Global\\"
// names and every name opened in session 0 live in the global namespace, other names (and
// "Local\\" ones) in the session's own.
std::string KernelObjectName(const std::string& name, DWORD session);
// The account the calling thread acts as: the one it impersonates, else the installer's own.
const std::string& ActingSid();
// A token record behind a handle of ours, or null.
TokenRecord* FindToken(HANDLE handle);

}  // namespace winsim
