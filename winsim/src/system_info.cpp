// kernel32: the machine under the process (GetNativeSystemInfo, IsWow64Process2) and the modules a
// process loads at run time (GetModuleHandleW, LoadLibraryW, GetProcAddress, FreeLibrary).
//
// The process is an x64 program. On an ARM64 machine Windows runs it emulated and tells it the
// x64 story: GetNativeSystemInfo reports PROCESSOR_ARCHITECTURE_AMD64 there. IsWow64Process2 is
// the call that reports the native machine (IMAGE_FILE_MACHINE_ARM64), with
// IMAGE_FILE_MACHINE_UNKNOWN as the process machine, since x64 emulation is not WOW64.
//
// Modules: kernel32 is always loaded; combase.dll exists on every modelled build (Windows 8 and
// later). GetProcAddress knows only the exports the product looks up; IsWow64Process2 exists
// from build 16299 on.
//
// Where Wine 8 differs from Windows: Wine runs only on x64 here, so IsWow64Process2 always
// reports AMD64; its combase has no protected print class (REGDB_E_CLASSNOTREG).
// Not modelled: x86 and ARM32 machines' processes, LoadLibraryW's search path (combase is a known
// DLL, loaded from the system folder whatever the path).
#include <cstring>

#include "winsim/machine.h"

using winsim::M;

namespace {
HMODULE const kKernel32 = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x7FFB0000));
HMODULE const kCombase = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x7FFA0000));
HANDLE const kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

// Module names compare without regard to ASCII case, with or without ".dll".
bool IsModule(LPCWSTR name, const char* base) {
  if (!name) return false;
  size_t i = 0;
  for (; base[i]; ++i) {
    char16_t c = name[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<char16_t>(base[i])) return false;
  }
  if (!name[i]) return true;
  const char16_t* rest = name + i;
  const char16_t kDll[] = u".dll";
  for (size_t k = 0; k < 5; ++k) {
    char16_t c = rest[k];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != kDll[k]) return false;
  }
  return true;
}

template <typename Function>
FARPROC AsFarProc(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}
}  // namespace

void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO info) {
  std::memset(info, 0, sizeof(*info));
  // An x64 process emulated on ARM64 is told it runs on x64.
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
  info->dwPageSize = 4096;
  info->dwNumberOfProcessors = 2;
  info->dwAllocationGranularity = 65536;
}

BOOL WINAPI winsim::IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) {
  WINSIM_ENTER("IsWow64Process2", FALSE);
  if (process != kCurrentProcess || !processMachine) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
  if (nativeMachine) *nativeMachine = M().system.nativeMachine;
  return TRUE;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
  WINSIM_ENTER("GetModuleHandleW", nullptr);
  if (IsModule(name, "kernel32")) return kKernel32;
  if (IsModule(name, "combase") && M().system.combaseReferences > 0) return kCombase;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
  WINSIM_ENTER("LoadLibraryW", nullptr);
  if (IsModule(name, "kernel32")) return kKernel32;
  if (IsModule(name, "combase")) {
    ++M().system.combaseReferences;
    return kCombase;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  if (module == kKernel32) return TRUE;
  if (module == kCombase && M().system.combaseReferences > 0) {
    --M().system.combaseReferences;
    return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

// 127 (ERROR_PROC_NOT_FOUND) for an export the module lacks on this build.
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  WINSIM_ENTER("GetProcAddress", nullptr);
  const DWORD kProcNotFound = 127;
  if (!name || (module != kKernel32 && module != kCombase)) {
    SetLastError(module == kKernel32 || module == kCombase ? kProcNotFound : ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  const std::string export_name = name;
  if (module == kKernel32 && export_name == "IsWow64Process2" && M().system.build >= 16299)
    return AsFarProc(&winsim::IsWow64Process2);
  if (module == kCombase) {
    if (export_name == "RoInitialize") return AsFarProc(&winsim::winrt::RoInitialize);
    if (export_name == "RoUninitialize") return AsFarProc(&winsim::winrt::RoUninitialize);
    if (export_name == "WindowsCreateString") return AsFarProc(&winsim::winrt::WindowsCreateString);
    if (export_name == "WindowsDeleteString") return AsFarProc(&winsim::winrt::WindowsDeleteString);
    if (export_name == "RoGetActivationFactory") return AsFarProc(&winsim::winrt::RoGetActivationFactory);
  }
  SetLastError(kProcNotFound);
  return nullptr;
}
