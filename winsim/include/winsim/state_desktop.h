// Windows, the dialog, the keyboard and other processes' objects as the installer sees them:
// windows of other programs, named mutexes shared with them, processes we start, and scripted
// actors (the tray companion, help viewer windows) that answer our messages on the virtual clock.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>
#include "winsim/types.h"

namespace winsim {

// Names the installer shares with the tray companion and the help viewer.
extern const char* const kTrayMutexName;         // "{A9CA955A-0A8A-4C32-AAC6-888FB5F83BDC}"
extern const char16_t* const kTrayWindowClass;   // u"mbs::{05759F8E-103D-41B6-8A61-EFAA89516692}"
const UINT kTrayExitMessage = WM_USER + 2;       // 1026
extern const char16_t* const kHelpWindowClass;   // u"HH Parent"
extern const char16_t* const kHelpWindowTitle;   // u"Marbleleaf Help"

// The installer's own process (one thread); other processes get ids from kFirstOtherProcessId on.
const DWORD kThisProcessId = 1000;
const DWORD kFirstOtherProcessId = 2000;

struct Window {
  HWND handle = nullptr;
  std::u16string className;
  std::u16string title;
  bool alive = true;
  DWORD process = 0;        // owning process; 0: a window of a process that is not modelled
  DWORD session = 1;        // the session whose desktop shows it
  uint64_t closedAt = 0;    // virtual time it was destroyed
  // How the owning program answers a message posted to it. It runs when the message is delivered
  // (as soon as our thread yields: a Sleep or a wait); reactions that take time schedule themselves.
  std::function<void(HWND, UINT, WPARAM, LPARAM)> onMessage;
};

// A message PostMessageW accepted, for assertions.
struct PostedMessage {
  HWND window = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  uint64_t at = 0;
};

// A mutex object. Names are case-sensitive, as kernel object names are.
struct Mutex {
  std::string name;         // empty: unnamed
  DWORD owner = 0;          // process whose thread owns it; 0: free
  DWORD recursion = 0;
  bool abandoned = false;   // its owner ended holding it: the next wait gets WAIT_ABANDONED
  int handles = 0;          // open handles of all processes; the object goes with the last one
};

struct Process {
  DWORD id = 0;
  std::u16string imagePath;      // the executable that runs
  std::u16string commandLine;    // as CreateProcessW received it (empty for processes not started by us)
  bool startedByUs = false;
  DWORD session = 1;             // the session it runs in
  std::string user;              // the SID of its token's account
  bool elevated = false;         // its token carries the administrators' full rights
  std::string startedWith;       // the call that started it: "CreateProcessW", "CreateProcessWithTokenW"...
  std::u16string currentDirectory;  // as the start call gave it (empty: none given)
  DWORD creationFlags = 0;
  BOOL inheritHandles = FALSE;
  bool hadApplicationName = false;
  bool hadEnvironment = false;
  bool hadCurrentDirectory = false;
  STARTUPINFOW startup{};        // copy of what CreateProcessW received; its pointers are not followed
  bool running = true;
  uint64_t startedAt = 0;
  uint64_t exitedAt = 0;
  std::vector<int> mutexes;      // mutex objects it holds a handle on
};

// A handle of ours to a kernel object that is not a file.
struct ObjectHandle {
  enum Kind { kMutex, kProcess, kThread, kToken } kind = kMutex;
  int object = 0;                // mutex id, process id for process and thread handles, token id
};

// The module handle of the program itself (its image base), as its entry point receives it.
extern const HINSTANCE kProgramModule;
// The dialog template the program's resources hold.
const int kProgramDialogTemplate = 101;

// What DialogBoxParamW showed, and how the scripted user ends the dialog.
struct DialogState {
  INT_PTR scriptedCommand = IDOK;  // the button the user presses after WM_INITDIALOG
  int shown = 0;
  int templateId = 0;
  HWND parent = nullptr;           // the owner window the caller gave
  std::u16string title;
  std::u16string text;
  INT_PTR result = -1;
  uint64_t shownAt = 0;            // virtual time when it was shown
};

struct DesktopState {
  std::vector<Window> windows;
  uintptr_t nextHandle = 0x10000;
  bool shiftDown = false;
  bool interactiveStation = true;  // the window station is visible (not a service session)
  DialogState dialog;

  std::vector<PostedMessage> posted;
  std::map<int, Mutex> mutexes;
  int nextMutexId = 1;
  std::vector<Process> processes;
  DWORD nextProcessId = kFirstOtherProcessId;
  std::map<uintptr_t, ObjectHandle> handles;   // our open mutex, process and thread handles
  uintptr_t nextObjectHandle = 0x7000000;      // far from file and registry handles
  // Executables that CreateProcessW can start (key: PathKey of the file), with what their process
  // does when it starts.
  std::map<std::u16string, std::function<void(DWORD processId)>> programs;
  int endlessWaits = 0;            // INFINITE waits that nothing scheduled could ever end
};

// Adds a window that belongs to another process; returns its handle.
HWND AddWindow(const std::u16string& className, const std::u16string& title);
Window* FindWindowRecord(HWND window);  // alive windows only
void DestroyWindowOf(HWND window);      // the owning program closes it

// Closes a handle of ours that is not a file (CloseHandle calls it); false when it is none of ours.
bool CloseDesktopObject(HANDLE handle);

// Processes and mutexes of other programs (test side: no Windows call is counted).
// A process someone else started: by default in our session, as our account, unelevated.
DWORD StartOtherProcess(const std::u16string& imagePath);
DWORD StartOtherProcessIn(const std::u16string& imagePath, DWORD session, const std::string& user);
Process* FindProcess(DWORD id);
int RunningProcesses(const std::u16string& imagePath);
// The process ends: its windows go, a mutex it owns is abandoned, its handles close.
void EndProcess(DWORD id);
// The process opens or creates the named mutex; owned: it takes ownership when the mutex is free.
void OpenMutexFor(DWORD process, const std::string& name, bool owned);
void ReleaseMutexFor(DWORD process, const std::string& name);
const Mutex* FindMutex(const std::string& name);  // as our session sees the name
const Mutex* FindMutexIn(const std::string& name, DWORD session);
// Makes path startable by CreateProcessW (the file must exist too); start runs in the new process.
void RegisterProgram(const std::u16string& path, std::function<void(DWORD processId)> start);

struct TokenRecord;
// Starts a registered program with the token's account, elevation and session (the process-start
// calls share it); records how it was started.
BOOL LaunchProcess(const char* how, const TokenRecord& token, LPCWSTR application, LPWSTR commandLine, BOOL inherit,
                   DWORD flags, LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                   LPPROCESS_INFORMATION processInformation);

// The tray companion as a scripted actor. While it runs it owns kTrayMutexName and a window of
// kTrayWindowClass; kTrayExitMessage makes it answer as scripted.
enum class TrayAnswer {
  kExits,                 // after delayMs: closes its window, releases the mutex and ends
  kNeverAnswers,          // ignores the message
  kClosesWindowKeepsMutex,// after delayMs closes its window; holdMs later releases the mutex and ends
  kExitsHoldingMutex,     // after delayMs closes its window and ends without releasing: abandoned
};
struct TrayScript {
  TrayAnswer answer = TrayAnswer::kExits;
  uint64_t delayMs = 0;
  uint64_t holdMs = 0;
};
extern const char16_t* const kDefaultTrayPath;  // u"C:\\Program Files\\Marbleleaf\\mbltray.exe"
// Starts a companion now (as Windows would at log-on); returns its process id. Like the real
// program, a second companion ends at once when the mutex exists already.
DWORD StartTrayCompanion(const TrayScript& script = TrayScript(), const std::u16string& path = kDefaultTrayPath);
// The same at the log-on of the session's signed-in user, with their token, in their session.
DWORD StartTrayCompanionIn(DWORD session, const TrayScript& script = TrayScript(),
                           const std::u16string& path = kDefaultTrayPath);
// Running companions (processes of the path) of one session.
int RunningProcessesIn(const std::u16string& imagePath, DWORD session);
// Puts the program file at path and registers it, so that CreateProcessW of it starts a companion.
void InstallTrayProgram(const std::u16string& path = kDefaultTrayPath, const TrayScript& script = TrayScript());

// An open help viewer window (kHelpWindowClass, kHelpWindowTitle) that closes closeDelayMs after
// WM_SYSCOMMAND/SC_CLOSE, or never with kNeverCloses.
const uint64_t kNeverCloses = UINT64_MAX;
HWND OpenHelpWindow(uint64_t closeDelayMs = 0);
// Messages posted to one window.
int PostedTo(HWND window, UINT message);

}  // namespace winsim
