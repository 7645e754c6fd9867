// The Win32 functions that the product calls, as winsim provides them on the host.
// Signatures follow the MinGW-w64 SDK headers, so code that compiles here compiles there.
#pragma once
#include "winsim/types.h"

// kernel32: errors, memory, strings, module
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD code);
DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                            DWORD size, void* arguments);
HLOCAL WINAPI LocalFree(HLOCAL mem);
HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL WINAPI GlobalFree(HGLOBAL mem);
LPWSTR WINAPI GetCommandLineW();
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size);
UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size);
HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
LPVOID WINAPI LockResource(HGLOBAL resource);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength, LPWSTR out, int outLength);
int WINAPI lstrlenW(LPCWSTR text);
int WINAPI lstrlenA(LPCSTR text);
LPWSTR WINAPI lstrcpyW(LPWSTR dest, LPCWSTR src);
LPWSTR WINAPI lstrcpynW(LPWSTR dest, LPCWSTR src, int max);
LPWSTR WINAPI lstrcatW(LPWSTR dest, LPCWSTR src);
int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b);
int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b);

// kernel32: the machine and modules. Calls that older Windows lack (IsWow64Process2, combase's)
// are not declared: the product finds them with GetProcAddress.
HANDLE WINAPI GetCurrentProcess();
void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO info);
HMODULE WINAPI GetModuleHandleW(LPCWSTR name);
HMODULE WINAPI LoadLibraryW(LPCWSTR name);
BOOL WINAPI FreeLibrary(HMODULE module);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);

// kernel32: time
void WINAPI Sleep(DWORD milliseconds);
DWORD WINAPI GetTickCount();

// kernel32: files
HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
BOOL WINAPI CloseHandle(HANDLE handle);
BOOL WINAPI DeleteFileW(LPCWSTR name);
DWORD WINAPI GetFileAttributesW(LPCWSTR name);
BOOL WINAPI SetFileAttributesW(LPCWSTR name, DWORD attributes);
BOOL WINAPI MoveFileExW(LPCWSTR existing, LPCWSTR replacement, DWORD flags);

// kernel32: synchronisation and processes
DWORD WINAPI GetCurrentProcessId();
BOOL WINAPI ProcessIdToSessionId(DWORD processId, DWORD* sessionId);
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name);
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL WINAPI ReleaseMutex(HANDLE mutex);
BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                           LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                           LPPROCESS_INFORMATION processInformation);

// kernel32, advapi32, wtsapi32, user32: tokens, sessions and the shell of a session
HANDLE WINAPI OpenProcess(DWORD access, BOOL inherit, DWORD processId);
BOOL WINAPI TerminateProcess(HANDLE process, UINT exitCode);
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
BOOL WINAPI DuplicateTokenEx(HANDLE existing, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                             SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE result);
DWORD WINAPI WTSGetActiveConsoleSessionId();
BOOL WINAPI WTSQueryUserToken(ULONG sessionId, PHANDLE token);
BOOL WINAPI ImpersonateLoggedOnUser(HANDLE token);
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD size,
                                LPDWORD needed);
BOOL WINAPI ConvertSidToStringSidW(PSID sid, LPWSTR* text);
BOOL WINAPI RevertToSelf();
LSTATUS WINAPI RegOpenCurrentUser(REGSAM access, PHKEY result);
BOOL WINAPI CreateProcessWithTokenW(HANDLE token, DWORD logonFlags, LPCWSTR application, LPWSTR commandLine,
                                    DWORD flags, LPVOID environment, LPCWSTR currentDirectory,
                                    LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation);
BOOL WINAPI CreateProcessAsUserW(HANDLE token, LPCWSTR application, LPWSTR commandLine,
                                 LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                                 BOOL inherit, DWORD flags, LPVOID environment, LPCWSTR currentDirectory,
                                 LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation);
BOOL WINAPI WTSEnumerateSessionsW(HANDLE server, DWORD reserved, DWORD version, PWTS_SESSION_INFOW* sessions,
                                  DWORD* count);
void WINAPI WTSFreeMemory(LPVOID memory);
DWORD WINAPI RmStartSession(DWORD* session, DWORD flags, WCHAR sessionKey[]);
DWORD WINAPI RmRegisterResources(DWORD session, UINT files, LPCWSTR fileNames[], UINT applications,
                                 RM_UNIQUE_PROCESS* processes, UINT services, LPCWSTR serviceNames[]);
DWORD WINAPI RmShutdown(DWORD session, ULONG flags, RM_WRITE_STATUS_CALLBACK status);
DWORD WINAPI RmEndSession(DWORD session);
HWND WINAPI GetShellWindow();
DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId);

// advapi32: registry
LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR name);
LSTATUS WINAPI RegCloseKey(HKEY key);
LSTATUS WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataBytes);
LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR name);
LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey);

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                               REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);

// advapi32: event logging
HANDLE WINAPI RegisterEventSourceW(LPCWSTR server, LPCWSTR source);
BOOL WINAPI ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid, WORD numStrings,
                         DWORD dataSize, LPCWSTR* strings, LPVOID rawData);
BOOL WINAPI DeregisterEventSource(HANDLE eventLog);

// advapi32: services
SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access);
SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD access);
BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL WINAPI StartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR* argv);
BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
BOOL WINAPI EnumDependentServicesW(SC_HANDLE service, DWORD serviceState, LPENUM_SERVICE_STATUSW services,
                                   DWORD size, LPDWORD needed, LPDWORD returned);
BOOL WINAPI CloseServiceHandle(SC_HANDLE handle);

// version
DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR name, LPDWORD handle);
BOOL WINAPI GetFileVersionInfoW(LPCWSTR name, DWORD handle, DWORD size, LPVOID data);
BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length);

// user32 and shell32
BOOL WINAPI IsWindow(HWND window);
SHORT WINAPI GetAsyncKeyState(int key);
INT_PTR WINAPI DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc, LPARAM param);
BOOL WINAPI EndDialog(HWND dialog, INT_PTR result);
BOOL WINAPI SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
BOOL WINAPI SetWindowTextW(HWND window, LPCWSTR text);
HWND WINAPI FindWindowW(LPCWSTR className, LPCWSTR windowName);
BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWINSTA WINAPI GetProcessWindowStation();
BOOL WINAPI GetUserObjectInformationW(HANDLE object, int index, LPVOID info, DWORD length, LPDWORD needed);
LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR commandLine, int* count);

// winspool
BOOL WINAPI EnumMonitorsW(LPWSTR name, DWORD level, LPBYTE monitors, DWORD size, LPDWORD needed, LPDWORD returned);
BOOL WINAPI AddMonitorW(LPWSTR name, DWORD level, LPBYTE monitorInfo);
BOOL WINAPI DeleteMonitorW(LPWSTR name, LPWSTR environment, LPWSTR monitorName);
BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR name, LPWSTR environment, DWORD level, LPBYTE directory, DWORD size,
                                       LPDWORD needed);
BOOL WINAPI AddPrinterDriverExW(LPWSTR name, DWORD level, LPBYTE driverInfo, DWORD copyFlags);
BOOL WINAPI EnumPrinterDriversW(LPWSTR name, LPWSTR environment, DWORD level, LPBYTE drivers, DWORD size,
                                LPDWORD needed, LPDWORD returned);
BOOL WINAPI DeletePrinterDriverExW(LPWSTR name, LPWSTR environment, LPWSTR driverName, DWORD deleteFlags,
                                   DWORD versionFlag);
BOOL WINAPI EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE printers, DWORD size, LPDWORD needed,
                          LPDWORD returned);
BOOL WINAPI OpenPrinterW(LPWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults);
BOOL WINAPI GetPrinterW(HANDLE printer, DWORD level, LPBYTE info, DWORD size, LPDWORD needed);
BOOL WINAPI SetPrinterW(HANDLE printer, DWORD level, LPBYTE info, DWORD command);
HANDLE WINAPI AddPrinterW(LPWSTR name, DWORD level, LPBYTE printer);
BOOL WINAPI DeletePrinter(HANDLE printer);
BOOL WINAPI ClosePrinter(HANDLE printer);
BOOL WINAPI GetPrinterDriverW(HANDLE printer, LPWSTR environment, DWORD level, LPBYTE info, DWORD size,
                              LPDWORD needed);
DWORD WINAPI GetPrinterDataA(HANDLE printer, LPSTR valueName, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed);
DWORD WINAPI GetPrinterDataExA(HANDLE printer, LPCSTR keyName, LPCSTR valueName, LPDWORD type, LPBYTE data,
                               DWORD size, LPDWORD needed);
DWORD WINAPI SetPrinterDataA(HANDLE printer, LPSTR valueName, DWORD type, LPBYTE data, DWORD size);
DWORD WINAPI SetPrinterDataExA(HANDLE printer, LPCSTR keyName, LPCSTR valueName, DWORD type, LPBYTE data,
                               DWORD size);
BOOL WINAPI GetDefaultPrinterW(LPWSTR buffer, LPDWORD size);
BOOL WINAPI SetDefaultPrinterW(LPCWSTR printer);
BOOL WINAPI AddPrinterConnectionW(LPWSTR name);
// As the MinGW-w64 header declares it (without WINAPI, the same convention on x64).
BOOL AddPrinterConnection2W(HWND window, LPCWSTR name, DWORD level, PVOID connectionInfo);
BOOL WINAPI DeletePrinterConnectionW(LPWSTR name);
