// Accounts, sessions and tokens (advapi32, wtsapi32, user32's shell window): who runs the
// installer and in which session, who is signed in where, and the tokens that start processes
// for them.
//
// Rights as Windows grants them:
// - OpenProcess with PROCESS_QUERY_LIMITED_INFORMATION works on any process; OpenProcessToken
//   on another account's process needs an elevated administrator or SYSTEM (5 otherwise).
// - CreateProcessWithTokenW needs SE_IMPERSONATE_NAME, which elevated administrators and SYSTEM
//   hold (1314 otherwise); CreateProcessAsUserW needs SE_ASSIGNPRIMARYTOKEN_NAME, which only
//   SYSTEM (and services) hold; WTSQueryUserToken needs SE_TCB_NAME: SYSTEM only.
// - WTSQueryUserToken gives the signed-in user's own primary token: an administrator's filtered,
//   unelevated one. A session without a signed-in user has none (ERROR_NO_TOKEN).
#include <cstdlib>
#include <cstring>
#include "winsim/machine.h"

using winsim::M;

namespace winsim {

const char* const kSystemSid = "S-1-5-18";
const char* const kFirstAdminSid = "S-1-5-21-1004336348-1177238915-682003330-1001";
const char16_t* const kShellPath = u"C:\\Windows\\explorer.exe";

namespace {
const char16_t* const kShellWindowClass = u"Progman";
const char16_t* const kShellWindowTitle = u"Program Manager";

bool IsSystem(const std::string& sid) { return sid == kSystemSid; }

HANDLE NewTokenHandle(const TokenRecord& token) {
  SessionsState& sessions = M().sessions;
  const int id = sessions.nextToken++;
  sessions.tokens[id] = token;
  DesktopState& desktop = M().desktop;
  const uintptr_t value = desktop.nextObjectHandle;
  desktop.nextObjectHandle += 4;
  desktop.handles[value] = ObjectHandle{ObjectHandle::kToken, id};
  return reinterpret_cast<HANDLE>(value);
}

// The caller holds the administrators' rights: SYSTEM, or an elevated administrator.
bool CallerPrivileged() {
  const SessionsState& sessions = M().sessions;
  return IsSystem(sessions.callerSid) || sessions.callerElevated;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}
}  // namespace

SessionsState::SessionsState() {
  accounts.push_back(Account{kSystemSid, u"SYSTEM", true});
  accounts.push_back(Account{kFirstAdminSid, u"Admin", true});
  sessions.push_back(Session{0, "", 0, nullptr});
  callerSid = kFirstAdminSid;
}

std::string AddAccount(const std::u16string& name, bool administrator) {
  SessionsState& sessions = M().sessions;
  const std::string sid = "S-1-5-21-1004336348-1177238915-682003330-" + std::to_string(1001 + sessions.accounts.size() - 1);
  sessions.accounts.push_back(Account{sid, name, administrator});
  return sid;
}

const Account* FindAccount(const std::string& sid) {
  for (const Account& account : M().sessions.accounts)
    if (account.sid == sid) return &account;
  return nullptr;
}

Session* FindSession(DWORD id) {
  for (Session& session : M().sessions.sessions)
    if (session.id == id) return &session;
  return nullptr;
}

std::u16string UserHive(const std::string& sid) {
  return IsSystem(sid) ? std::u16string(u"HKU\\.DEFAULT") : u"HKU\\" + std::u16string(sid.begin(), sid.end());
}

DWORD SignIn(const std::string& sid, DWORD id) {
  SessionsState& sessions = M().sessions;
  Session* session = FindSession(id);
  if (!session) {
    sessions.sessions.push_back(Session{id, "", 0, nullptr});
    session = &sessions.sessions.back();
  }
  session->user = sid;
  const std::u16string hive = UserHive(sid);
  M().registry.keys[hive];
  M().registry.keys[hive + u"\\SOFTWARE"];
  // The shell: its process with the user's unelevated token, its desktop window.
  Process shell;
  shell.id = sessions.nextShellProcess;
  sessions.nextShellProcess += 4;
  shell.imagePath = kShellPath;
  shell.session = id;
  shell.user = sid;
  shell.startedAt = M().clock.now;
  M().desktop.processes.push_back(shell);
  session->shellProcess = shell.id;
  Window window;
  window.handle = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x500 + 0x10 * id));
  window.className = kShellWindowClass;
  window.title = kShellWindowTitle;
  window.process = shell.id;
  window.session = id;
  M().desktop.windows.push_back(window);
  session->shellWindow = window.handle;
  return id;
}

void SignOut(DWORD id) {
  Session* session = FindSession(id);
  if (!session || session->user.empty()) return;
  // Every process of the session ends with the logoff.
  for (Process& process : M().desktop.processes)
    if (process.running && process.session == id) EndProcess(process.id);
  session->user.clear();
  session->shellProcess = 0;
  session->shellWindow = nullptr;
}

void RunInstallerAs(const std::string& sid, DWORD session, bool elevated) {
  SessionsState& sessions = M().sessions;
  sessions.callerSid = sid;
  sessions.callerElevated = IsSystem(sid) || elevated;
  M().sessionId = session;
  M().desktop.interactiveStation = session != 0;
  const std::u16string hive = UserHive(sid);
  M().registry.keys[hive];
  M().registry.keys[hive + u"\\SOFTWARE"];
}

std::string KernelObjectName(const std::string& name, DWORD session) {
  if (name.compare(0, 7, "Global\\") == 0) return "\\BaseNamedObjects\\" + name.substr(7);
  const std::string local = name.compare(0, 6, "Local\\") == 0 ? name.substr(6) : name;
  if (session == 0) return "\\BaseNamedObjects\\" + local;
  return "\\Sessions\\" + std::to_string(session) + "\\BaseNamedObjects\\" + local;
}

std::u16string& DefaultPrinterOf(const std::string& sid) {
  SpoolerState& spooler = M().spooler;
  return sid == kFirstAdminSid ? spooler.defaultPrinter : spooler.userDefaults[sid];
}

const std::string& ActingSid() {
  const SessionsState& sessions = M().sessions;
  return sessions.impersonating.empty() ? sessions.callerSid : sessions.impersonating;
}

TokenRecord* FindToken(HANDLE handle) {
  auto it = M().desktop.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == M().desktop.handles.end() || it->second.kind != ObjectHandle::kToken) return nullptr;
  auto token = M().sessions.tokens.find(it->second.object);
  return token == M().sessions.tokens.end() ? nullptr : &token->second;
}

}  // namespace winsim

// The shell's desktop window of our own session's desktop; null when no shell runs there.
HWND WINAPI GetShellWindow() {
  WINSIM_ENTER("GetShellWindow", nullptr);
  const winsim::Session* session = winsim::FindSession(M().sessionId);
  if (!session || !session->shellWindow || !winsim::FindWindowRecord(session->shellWindow)) return nullptr;
  return session->shellWindow;
}

DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId) {
  WINSIM_ENTER("GetWindowThreadProcessId", 0);
  const winsim::Window* record = winsim::FindWindowRecord(window);
  if (!record) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (processId) *processId = record->process;
  return record->process + 1;
}

HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

HANDLE WINAPI OpenProcess(DWORD access, BOOL, DWORD processId) {
  WINSIM_ENTER("OpenProcess", nullptr);
  const winsim::Process* process = winsim::FindProcess(processId);
  if (!process || !process->running) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Ending another account's process takes the administrators' rights.
  if ((access & PROCESS_TERMINATE) && process->user != M().sessions.callerSid && !winsim::CallerPrivileged()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  winsim::DesktopState& desktop = M().desktop;
  const uintptr_t value = desktop.nextObjectHandle;
  desktop.nextObjectHandle += 4;
  desktop.handles[value] = winsim::ObjectHandle{winsim::ObjectHandle::kProcess, static_cast<int>(processId)};
  return reinterpret_cast<HANDLE>(value);
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD, PHANDLE token) {
  WINSIM_ENTER("OpenProcessToken", FALSE);
  if (!token) return winsim::Fail(ERROR_INVALID_PARAMETER);
  *token = nullptr;
  const winsim::SessionsState& sessions = M().sessions;
  winsim::TokenRecord record;
  if (process == GetCurrentProcess()) {
    record = winsim::TokenRecord{sessions.callerSid, sessions.callerElevated, M().sessionId, true};
  } else {
    auto it = M().desktop.handles.find(reinterpret_cast<uintptr_t>(process));
    if (it == M().desktop.handles.end() || it->second.kind != winsim::ObjectHandle::kProcess)
      return winsim::Fail(ERROR_INVALID_HANDLE);
    const winsim::Process* target = winsim::FindProcess(static_cast<DWORD>(it->second.object));
    if (!target) return winsim::Fail(ERROR_INVALID_HANDLE);
    if (target->user != sessions.callerSid && !winsim::CallerPrivileged()) return winsim::Fail(ERROR_ACCESS_DENIED);
    record = winsim::TokenRecord{target->user, target->elevated, target->session, true};
  }
  *token = winsim::NewTokenHandle(record);
  return TRUE;
}

BOOL WINAPI DuplicateTokenEx(HANDLE existing, DWORD, LPSECURITY_ATTRIBUTES, SECURITY_IMPERSONATION_LEVEL,
                             TOKEN_TYPE type, PHANDLE result) {
  WINSIM_ENTER("DuplicateTokenEx", FALSE);
  if (!result) return winsim::Fail(ERROR_INVALID_PARAMETER);
  *result = nullptr;
  const winsim::TokenRecord* token = winsim::FindToken(existing);
  if (!token) return winsim::Fail(ERROR_INVALID_HANDLE);
  winsim::TokenRecord copy = *token;
  copy.primary = type == TokenPrimary;
  *result = winsim::NewTokenHandle(copy);
  return TRUE;
}

DWORD WINAPI WTSGetActiveConsoleSessionId() {
  WINSIM_ENTER("WTSGetActiveConsoleSessionId", 0xFFFFFFFF);
  return M().sessions.consoleSession;
}

BOOL WINAPI WTSQueryUserToken(ULONG sessionId, PHANDLE token) {
  WINSIM_ENTER("WTSQueryUserToken", FALSE);
  if (!token) return winsim::Fail(ERROR_INVALID_PARAMETER);
  *token = nullptr;
  if (!winsim::IsSystem(M().sessions.callerSid)) return winsim::Fail(ERROR_PRIVILEGE_NOT_HELD);
  const winsim::Session* session = winsim::FindSession(sessionId);
  if (!session) return winsim::Fail(ERROR_CTX_WINSTATION_NOT_FOUND);
  if (session->user.empty()) return winsim::Fail(ERROR_NO_TOKEN);
  *token = winsim::NewTokenHandle(winsim::TokenRecord{session->user, false, sessionId, true});
  return TRUE;
}

// The thread acts as the token's account until RevertToSelf. The process's HKEY_CURRENT_USER
// stays its own; the spooler's per-user calls follow the thread.
BOOL WINAPI ImpersonateLoggedOnUser(HANDLE token) {
  WINSIM_ENTER("ImpersonateLoggedOnUser", FALSE);
  const winsim::TokenRecord* record = winsim::FindToken(token);
  if (!record) return winsim::Fail(ERROR_INVALID_HANDLE);
  M().sessions.impersonating = record->sid;
  M().sessions.impersonatingElevated = record->elevated;
  return TRUE;
}

namespace {
// A SID as the model hands it out: a tag, then its text form (the binary layout is Windows' own
// business; only ConvertSidToStringSidW reads it).
const char kSidTag[4] = {'S', 'I', 'D', ':'};
}  // namespace

// TokenUser only: the token's account, its SID inside the caller's buffer. A buffer too small
// gives 122 with the size needed.
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD size,
                                LPDWORD needed) {
  WINSIM_ENTER("GetTokenInformation", FALSE);
  const winsim::TokenRecord* record = winsim::FindToken(token);
  if (!record) return winsim::Fail(ERROR_INVALID_HANDLE);
  if (!needed) return winsim::Fail(ERROR_INVALID_PARAMETER);
  if (infoClass != TokenUser) return winsim::Fail(ERROR_INVALID_PARAMETER);
  const DWORD bytes = static_cast<DWORD>(sizeof(TOKEN_USER) + sizeof(kSidTag) + record->sid.size() + 1);
  *needed = bytes;
  if (!info || size < bytes) return winsim::Fail(ERROR_INSUFFICIENT_BUFFER);
  char* sid = static_cast<char*>(info) + sizeof(TOKEN_USER);
  std::memcpy(sid, kSidTag, sizeof(kSidTag));
  std::memcpy(sid + sizeof(kSidTag), record->sid.c_str(), record->sid.size() + 1);
  TOKEN_USER* user = static_cast<TOKEN_USER*>(info);
  user->User.Sid = sid;
  user->User.Attributes = 0;
  return TRUE;
}

// The text is one LocalAlloc block, freed with LocalFree.
BOOL WINAPI ConvertSidToStringSidW(PSID sid, LPWSTR* text) {
  WINSIM_ENTER("ConvertSidToStringSidW", FALSE);
  if (!text) return winsim::Fail(ERROR_INVALID_PARAMETER);
  *text = nullptr;
  const char* tagged = static_cast<const char*>(sid);
  if (!tagged || std::memcmp(tagged, kSidTag, sizeof(kSidTag)) != 0) return winsim::Fail(ERROR_INVALID_SID);
  const std::string narrow(tagged + sizeof(kSidTag));
  LPWSTR out = static_cast<LPWSTR>(std::malloc((narrow.size() + 1) * sizeof(WCHAR)));
  if (!out) return winsim::Fail(ERROR_NOT_ENOUGH_MEMORY);
  for (size_t i = 0; i <= narrow.size(); ++i) out[i] = static_cast<WCHAR>(static_cast<unsigned char>(narrow[i]));
  M().localBlocks++;
  *text = out;
  return TRUE;
}

BOOL WINAPI RevertToSelf() {
  WINSIM_ENTER("RevertToSelf", FALSE);
  M().sessions.impersonating.clear();
  M().sessions.impersonatingElevated = false;
  return TRUE;
}

BOOL WINAPI CreateProcessWithTokenW(HANDLE token, DWORD, LPCWSTR application, LPWSTR commandLine, DWORD flags,
                                    LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                                    LPPROCESS_INFORMATION processInformation) {
  WINSIM_ENTER("CreateProcessWithTokenW", FALSE);
  const winsim::TokenRecord* record = winsim::FindToken(token);
  if (!record || !record->primary) return winsim::Fail(ERROR_INVALID_HANDLE);
  if (!winsim::CallerPrivileged()) return winsim::Fail(ERROR_PRIVILEGE_NOT_HELD);
  return winsim::LaunchProcess("CreateProcessWithTokenW", *record, application, commandLine, FALSE, flags,
                               environment, currentDirectory, startupInfo, processInformation);
}

BOOL WINAPI CreateProcessAsUserW(HANDLE token, LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES,
                                 LPSECURITY_ATTRIBUTES, BOOL inherit, DWORD flags, LPVOID environment,
                                 LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                                 LPPROCESS_INFORMATION processInformation) {
  WINSIM_ENTER("CreateProcessAsUserW", FALSE);
  const winsim::TokenRecord* record = winsim::FindToken(token);
  if (!record || !record->primary) return winsim::Fail(ERROR_INVALID_HANDLE);
  if (!winsim::IsSystem(M().sessions.callerSid)) return winsim::Fail(ERROR_PRIVILEGE_NOT_HELD);
  return winsim::LaunchProcess("CreateProcessAsUserW", *record, application, commandLine, inherit, flags, environment,
                               currentDirectory, startupInfo, processInformation);
}

// Every session, session 0 included, with its window station's name and state: a session with a
// signed-in user is active, one without is listening. The records and their names are one block,
// freed with WTSFreeMemory.
BOOL WINAPI WTSEnumerateSessionsW(HANDLE server, DWORD reserved, DWORD version, PWTS_SESSION_INFOW* sessions,
                                  DWORD* count) {
  WINSIM_ENTER("WTSEnumerateSessionsW", FALSE);
  if (server != WTS_CURRENT_SERVER_HANDLE) return winsim::Fail(RPC_S_SERVER_UNAVAILABLE);
  if (reserved != 0 || version != 1 || !sessions || !count) return winsim::Fail(ERROR_INVALID_PARAMETER);
  const auto& all = M().sessions.sessions;
  const size_t nameChars = 16;
  auto* block = static_cast<uint8_t*>(
      ::operator new(all.size() * (sizeof(WTS_SESSION_INFOW) + nameChars * sizeof(WCHAR)) + 1));
  auto* records = reinterpret_cast<WTS_SESSION_INFOW*>(block);
  auto* names = reinterpret_cast<WCHAR*>(block + all.size() * sizeof(WTS_SESSION_INFOW));
  for (size_t i = 0; i < all.size(); ++i) {
    const std::string name = all[i].id == 0 ? "Services" : all[i].id == 1 ? "Console" : "RDP-Tcp#" + std::to_string(all[i].id);
    WCHAR* text = names + i * nameChars;
    size_t n = 0;
    for (; n < name.size() && n + 1 < nameChars; ++n) text[n] = static_cast<WCHAR>(name[n]);
    text[n] = 0;
    records[i].SessionId = all[i].id;
    records[i].pWinStationName = text;
    records[i].State = all[i].id == 0 ? WTSDisconnected : all[i].user.empty() ? WTSListen : WTSActive;
  }
  *sessions = records;
  *count = static_cast<DWORD>(all.size());
  ++M().sessions.sessionLists;
  return TRUE;
}

void WINAPI WTSFreeMemory(LPVOID memory) {
  if (!memory) return;
  ::operator delete(memory);
  --M().sessions.sessionLists;
}

// The Restart Manager: a session collects files; a shutdown asks every process that has one of
// them loaded as its program, in whatever session, to end (WM_QUERYENDSESSION and WM_ENDSESSION
// with ENDSESSION_CLOSEAPP to its windows), waits up to the hung-application time-out for it to
// leave, and with RmForceShutdown ends those that stay. Administrators only may end the
// processes of other accounts.
DWORD WINAPI RmStartSession(DWORD* session, DWORD flags, WCHAR sessionKey[]) {
  WINSIM_ENTER("RmStartSession", GetLastError());
  if (!session || flags != 0 || !sessionKey) return ERROR_INVALID_PARAMETER;
  winsim::SessionsState& sessions = M().sessions;
  *session = sessions.nextRestartSession++;
  sessions.restartSessions[*session];
  for (int i = 0; i < CCH_RM_SESSION_KEY; ++i) sessionKey[i] = u"0123456789abcdef"[(*session + i) % 16];
  sessionKey[CCH_RM_SESSION_KEY] = 0;
  return ERROR_SUCCESS;
}

DWORD WINAPI RmRegisterResources(DWORD session, UINT files, LPCWSTR fileNames[], UINT applications,
                                 RM_UNIQUE_PROCESS* processes, UINT services, LPCWSTR serviceNames[]) {
  WINSIM_ENTER("RmRegisterResources", GetLastError());
  auto it = M().sessions.restartSessions.find(session);
  if (it == M().sessions.restartSessions.end()) return ERROR_INVALID_HANDLE;
  if ((files && !fileNames) || (applications && !processes) || (services && !serviceNames))
    return ERROR_INVALID_PARAMETER;
  for (UINT i = 0; i < files; ++i) it->second.push_back(fileNames[i]);
  return ERROR_SUCCESS;
}

DWORD WINAPI RmShutdown(DWORD session, ULONG flags, RM_WRITE_STATUS_CALLBACK) {
  WINSIM_ENTER("RmShutdown", GetLastError());
  auto it = M().sessions.restartSessions.find(session);
  if (it == M().sessions.restartSessions.end()) return ERROR_INVALID_HANDLE;
  const std::vector<std::u16string> files = it->second;
  std::vector<DWORD> affected;
  for (const winsim::Process& process : M().desktop.processes) {
    if (!process.running) continue;
    for (const std::u16string& file : files)
      if (winsim::PathKey(file) == winsim::PathKey(process.imagePath)) affected.push_back(process.id);
  }
  for (DWORD id : affected) {
    const winsim::Process* process = winsim::FindProcess(id);
    if (process->user != M().sessions.callerSid && !winsim::CallerPrivileged()) return ERROR_ACCESS_DENIED;
  }
  for (const winsim::Window& window : std::vector<winsim::Window>(M().desktop.windows)) {
    bool owned = false;
    for (DWORD id : affected) owned = owned || window.process == id;
    if (!owned || !window.alive || !window.onMessage) continue;
    const HWND handle = window.handle;
    winsim::After(0, [handle] {
      winsim::Window* target = winsim::FindWindowRecord(handle);
      if (!target || !target->onMessage) return;
      auto handler = target->onMessage;
      handler(handle, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP);
      if (winsim::FindWindowRecord(handle)) handler(handle, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
    });
  }
  // The wait, on the virtual clock, until every affected process has left or the time-out.
  const uint64_t deadline = M().clock.now + M().sessions.hungAppTimeoutMs;
  auto anyRunning = [&affected] {
    for (DWORD id : affected)
      if (winsim::FindProcess(id)->running) return true;
    return false;
  };
  winsim::Advance(0);
  while (anyRunning() && M().clock.now < deadline) {
    winsim::Clock& clock = M().clock;
    const uint64_t next = clock.events.empty() ? deadline : std::min(deadline, clock.events.begin()->first);
    winsim::Advance(next > clock.now ? next - clock.now : 0);
    if (clock.events.empty() && clock.now >= deadline) break;
  }
  if (!anyRunning()) return ERROR_SUCCESS;
  if (!(flags & RmForceShutdown)) return ERROR_FAIL_SHUTDOWN;
  for (DWORD id : affected) winsim::EndProcess(id);
  return ERROR_SUCCESS;
}

DWORD WINAPI RmEndSession(DWORD session) {
  WINSIM_ENTER("RmEndSession", GetLastError());
  return M().sessions.restartSessions.erase(session) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
