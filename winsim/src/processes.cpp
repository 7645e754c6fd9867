// kernel32: named mutexes shared with other processes (in the session's namespace or Global\),
// waits on the virtual clock, starting processes with a token into a session, our process's id
// and session, and the kernel object handles. Our process has one thread, so "owned by our
// thread" is "owned by kThisProcessId".
//
// Where Wine 8 differs from Windows: a mutex left by an exited owner is seen abandoned (0x80), as
// on Windows; Wine reports session 1 for every process.
// Not modelled: threads beyond our one, events, semaphores and other kernel objects, security
// descriptors on objects, other processes' memory, their exit codes.
#include "winsim/machine.h"

using winsim::M;

namespace winsim {

namespace {
HANDLE NewObjectHandle(ObjectHandle::Kind kind, int object) {
  DesktopState& desktop = M().desktop;
  const uintptr_t value = desktop.nextObjectHandle;
  desktop.nextObjectHandle += 4;
  desktop.handles[value] = ObjectHandle{kind, object};
  return reinterpret_cast<HANDLE>(value);
}

// name: the full name in the object namespace (KernelObjectName).
int FindMutexId(const std::string& name) {
  if (name.empty()) return 0;
  for (const auto& item : M().desktop.mutexes)
    if (item.second.name == name) return item.first;
  return 0;
}

DWORD SessionOf(DWORD processId) {
  const Process* process = FindProcess(processId);
  return process ? process->session : M().sessionId;
}

// One handle to the mutex goes; the object goes with the last handle of any process.
void DropMutexHandle(int id) {
  auto& mutexes = M().desktop.mutexes;
  auto it = mutexes.find(id);
  if (it != mutexes.end() && --it->second.handles <= 0) mutexes.erase(it);
}

// Whether a wait on the object ends now. A wait that ends on a mutex makes us its owner.
bool WaitEnds(const ObjectHandle& object, DWORD* result) {
  *result = WAIT_OBJECT_0;
  if (object.kind == ObjectHandle::kMutex) {
    auto it = M().desktop.mutexes.find(object.object);
    if (it == M().desktop.mutexes.end()) return true;  // unreachable: our handle keeps it
    Mutex& mutex = it->second;
    if (mutex.owner == kThisProcessId) {
      ++mutex.recursion;
      return true;
    }
    if (mutex.owner != 0) return false;
    mutex.owner = kThisProcessId;
    mutex.recursion = 1;
    if (mutex.abandoned) *result = WAIT_ABANDONED;
    mutex.abandoned = false;
    return true;
  }
  if (object.kind == ObjectHandle::kToken) return true;
  const Process* process = FindProcess(static_cast<DWORD>(object.object));
  return !process || !process->running;
}

// The executable a command line names: its first token, quoted or ending at the first blank.
// (Windows also tries longer blank-separated prefixes of an unquoted path; the product quotes.)
std::u16string SearchExecutable(const std::u16string& name);

std::u16string ExecutableOf(const std::u16string& commandLine) {
  const bool quoted = !commandLine.empty() && commandLine[0] == u'"';
  const size_t start = quoted ? 1 : 0;
  const size_t end = commandLine.find_first_of(quoted ? u"\"" : u" \t", start);
  return SearchExecutable(commandLine.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start));
}

std::u16string FolderOf(const std::u16string& path) {
  const size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

// A name without an extension gets ".exe"; a bare name is looked for in the folder of our own
// program, then the system folder, then the Windows folder (there is no modelled current folder).
std::u16string SearchExecutable(const std::u16string& name) {
  std::u16string path = name;
  const size_t separator = path.find_last_of(u"\\/:");
  const size_t fileStart = separator == std::u16string::npos ? 0 : separator + 1;
  if (path.find(u'.', fileStart) == std::u16string::npos) path += u".exe";
  if (separator != std::u16string::npos || path.empty()) return path;
  const std::u16string folders[] = {FolderOf(M().modulePath), M().systemDir, FolderOf(M().systemDir)};
  for (const std::u16string& folder : folders) {
    const std::u16string candidate = folder + u"\\" + path;
    if (!folder.empty() && FileExists(candidate)) return candidate;
  }
  return path;
}
}  // namespace

bool CloseDesktopObject(HANDLE handle) {
  DesktopState& desktop = M().desktop;
  auto it = desktop.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == desktop.handles.end()) return false;
  const ObjectHandle object = it->second;
  desktop.handles.erase(it);
  // Closing a handle never releases ownership of a mutex.
  if (object.kind == ObjectHandle::kMutex) DropMutexHandle(object.object);
  return true;
}

DWORD StartOtherProcess(const std::u16string& imagePath) {
  return StartOtherProcessIn(imagePath, M().sessionId, M().sessions.callerSid);
}

DWORD StartOtherProcessIn(const std::u16string& imagePath, DWORD session, const std::string& user) {
  DesktopState& desktop = M().desktop;
  Process process;
  process.id = desktop.nextProcessId;
  desktop.nextProcessId += 4;
  process.imagePath = imagePath;
  process.startedAt = M().clock.now;
  process.session = session;
  process.user = user;
  desktop.processes.push_back(process);
  return process.id;
}

Process* FindProcess(DWORD id) {
  for (Process& process : M().desktop.processes)
    if (process.id == id) return &process;
  return nullptr;
}

int RunningProcessesIn(const std::u16string& imagePath, DWORD session) {
  int count = 0;
  for (const Process& process : M().desktop.processes)
    if (process.running && process.session == session && PathKey(process.imagePath) == PathKey(imagePath)) ++count;
  return count;
}

int RunningProcesses(const std::u16string& imagePath) {
  int count = 0;
  for (const Process& process : M().desktop.processes)
    if (process.running && PathKey(process.imagePath) == PathKey(imagePath)) ++count;
  return count;
}

void EndProcess(DWORD id) {
  Process* process = FindProcess(id);
  if (!process || !process->running) return;
  process->running = false;
  process->exitedAt = M().clock.now;
  const std::vector<int> held = std::move(process->mutexes);
  process->mutexes.clear();
  for (Window& window : M().desktop.windows)
    if (window.process == id && window.alive) DestroyWindowOf(window.handle);
  for (int mutexId : held) {
    auto it = M().desktop.mutexes.find(mutexId);
    if (it == M().desktop.mutexes.end()) continue;
    if (it->second.owner == id) {
      it->second.owner = 0;
      it->second.recursion = 0;
      it->second.abandoned = true;
    }
    DropMutexHandle(mutexId);
  }
}

void OpenMutexFor(DWORD processId, const std::string& name, bool owned) {
  Process* process = FindProcess(processId);
  if (!process || !process->running) return;
  DesktopState& desktop = M().desktop;
  const std::string fullName = KernelObjectName(name, process->session);
  int id = FindMutexId(fullName);
  if (!id) {
    id = desktop.nextMutexId++;
    desktop.mutexes[id].name = fullName;
  }
  Mutex& mutex = desktop.mutexes[id];
  ++mutex.handles;
  process->mutexes.push_back(id);
  if (owned && mutex.owner == 0) {
    mutex.owner = processId;
    mutex.recursion = 1;
    mutex.abandoned = false;
  }
}

void ReleaseMutexFor(DWORD processId, const std::string& name) {
  const int id = FindMutexId(KernelObjectName(name, SessionOf(processId)));
  if (!id) return;
  Mutex& mutex = M().desktop.mutexes[id];
  if (mutex.owner != processId) return;
  mutex.owner = 0;
  mutex.recursion = 0;
}

const Mutex* FindMutex(const std::string& name) { return FindMutexIn(name, M().sessionId); }

const Mutex* FindMutexIn(const std::string& name, DWORD session) {
  const int id = FindMutexId(KernelObjectName(name, session));
  return id ? &M().desktop.mutexes[id] : nullptr;
}

void RegisterProgram(const std::u16string& path, std::function<void(DWORD processId)> start) {
  M().desktop.programs[PathKey(path)] = std::move(start);
}

}  // namespace winsim

// A named mutex that exists already is opened (bInitialOwner is then ignored) and the last
// error is ERROR_ALREADY_EXISTS; a new one leaves ERROR_SUCCESS.
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
  WINSIM_ENTER("CreateMutexA", nullptr);
  winsim::DesktopState& desktop = M().desktop;
  // A name is looked up in our session's namespace, or the global one for "Global\" names.
  const std::string fullName = name && *name ? winsim::KernelObjectName(name, M().sessionId) : std::string();
  int id = winsim::FindMutexId(fullName);
  const bool existed = id != 0;
  if (!existed) {
    id = desktop.nextMutexId++;
    winsim::Mutex& mutex = desktop.mutexes[id];
    mutex.name = fullName;
    if (initialOwner) {
      mutex.owner = winsim::kThisProcessId;
      mutex.recursion = 1;
    }
  }
  ++desktop.mutexes[id].handles;
  HANDLE handle = winsim::NewObjectHandle(winsim::ObjectHandle::kMutex, id);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

// Only the owning thread may release, once for each time it acquired the mutex; anyone else gets
// ERROR_NOT_OWNER. The last release makes it free for the next waiter.
BOOL WINAPI ReleaseMutex(HANDLE handle) {
  WINSIM_ENTER("ReleaseMutex", FALSE);
  auto found = M().desktop.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == M().desktop.handles.end() || found->second.kind != winsim::ObjectHandle::kMutex) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto mutex = M().desktop.mutexes.find(found->second.object);
  if (mutex == M().desktop.mutexes.end() || mutex->second.owner != winsim::kThisProcessId) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--mutex->second.recursion == 0) mutex->second.owner = 0;
  return TRUE;
}

// The clock moves only as far as needed: from one scheduled event to the next while the object
// is not signalled, and to the end of the time-out when nothing due before it signals it.
// An INFINITE wait that nothing scheduled can end would hang the process: winsim counts it in
// endlessWaits and fails it, so that the test sees it.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  WINSIM_ENTER("WaitForSingleObject", WAIT_FAILED);
  auto found = M().desktop.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == M().desktop.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  const winsim::ObjectHandle object = found->second;
  winsim::Clock& clock = M().clock;
  const uint64_t start = clock.now;
  const bool endless = milliseconds == INFINITE;
  const uint64_t deadline = start + milliseconds;
  winsim::Advance(0);  // what is due now happens first
  DWORD result = WAIT_TIMEOUT;
  while (!winsim::WaitEnds(object, &result)) {
    const bool nextInTime = !clock.events.empty() && (endless || clock.events.begin()->first <= deadline);
    if (!nextInTime) {
      if (endless) {
        M().desktop.endlessWaits++;
        SetLastError(ERROR_INVALID_PARAMETER);
        result = WAIT_FAILED;
      } else {
        winsim::Advance(deadline - clock.now);
        result = WAIT_TIMEOUT;
      }
      break;
    }
    const uint64_t next = clock.events.begin()->first;
    winsim::Advance(next > clock.now ? next - clock.now : 0);
  }
  clock.slept += clock.now - start;
  return result;
}

namespace winsim {
// Starts a program that the test registered and whose file exists; anything else fails with
// ERROR_FILE_NOT_FOUND. The call's arguments are recorded on the new process, which runs with
// the token's account and elevation in the token's session.
BOOL LaunchProcess(const char* how, const TokenRecord& token, LPCWSTR application, LPWSTR commandLine, BOOL inherit,
                   DWORD flags, LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                   LPPROCESS_INFORMATION processInformation) {
  if ((!application && !commandLine) || !startupInfo || !processInformation) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::u16string image = application ? std::u16string(application) : ExecutableOf(commandLine);
  DesktopState& desktop = M().desktop;
  auto program = desktop.programs.find(PathKey(image));
  if (!FileExists(image) || program == desktop.programs.end()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (currentDirectory) {
    const FileEntry* folder = FindFile(currentDirectory);
    if (!folder || !folder->isDirectory) {
      SetLastError(ERROR_DIRECTORY);
      return FALSE;
    }
  }
  const DWORD id = StartOtherProcessIn(FindFile(image)->path, token.session, token.sid);
  Process& process = *FindProcess(id);
  process.elevated = token.elevated;
  process.startedWith = how;
  process.commandLine = commandLine ? commandLine : u"";
  process.startedByUs = true;
  process.creationFlags = flags;
  process.inheritHandles = inherit;
  process.hadApplicationName = application != nullptr;
  process.hadEnvironment = environment != nullptr;
  process.hadCurrentDirectory = currentDirectory != nullptr;
  process.currentDirectory = currentDirectory ? currentDirectory : u"";
  process.startup = *startupInfo;
  processInformation->hProcess = NewObjectHandle(ObjectHandle::kProcess, static_cast<int>(id));
  processInformation->hThread = NewObjectHandle(ObjectHandle::kThread, static_cast<int>(id));
  processInformation->dwProcessId = id;
  processInformation->dwThreadId = id + 1;
  const auto start = program->second;  // the program may register others
  start(id);
  return TRUE;
}
}  // namespace winsim

// With our own token: our account, elevation and session.
BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL inherit, DWORD flags, LPVOID environment, LPCWSTR currentDirectory,
                           LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation) {
  WINSIM_ENTER("CreateProcessW", FALSE);
  const winsim::SessionsState& sessions = M().sessions;
  const winsim::TokenRecord token{sessions.callerSid, sessions.callerElevated, M().sessionId, true};
  return winsim::LaunchProcess("CreateProcessW", token, application, commandLine, inherit, flags, environment,
                               currentDirectory, startupInfo, processInformation);
}

// Ends the process at once: its windows go, the mutexes it owns are abandoned.
BOOL WINAPI TerminateProcess(HANDLE process, UINT) {
  WINSIM_ENTER("TerminateProcess", FALSE);
  auto it = M().desktop.handles.find(reinterpret_cast<uintptr_t>(process));
  if (it == M().desktop.handles.end() || it->second.kind != winsim::ObjectHandle::kProcess) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  winsim::EndProcess(static_cast<DWORD>(it->second.object));
  return TRUE;
}

DWORD WINAPI GetCurrentProcessId() { return winsim::kThisProcessId; }

// Our process runs in M().sessionId, each other process in its own; an id no process has is
// refused as OpenProcess refuses it.
BOOL WINAPI ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
  WINSIM_ENTER("ProcessIdToSessionId", FALSE);
  if (!sessionId) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (processId == winsim::kThisProcessId) {
    *sessionId = M().sessionId;
    return TRUE;
  }
  const winsim::Process* process = winsim::FindProcess(processId);
  if (!process) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *sessionId = process->session;
  return TRUE;
}
