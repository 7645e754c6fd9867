// The machine under the process: its processor, the Windows build, Windows protected print mode,
// and the modules the process loaded at run time (kernel32's late calls, combase's WinRT calls).
#pragma once
#include <string>
#include "winsim/types.h"

namespace winsim {

struct SystemState {
  // The processor Windows runs on. The process is always x64: on an ARM64 machine it runs
  // emulated, and only IsWow64Process2 tells it the truth.
  WORD nativeMachine = IMAGE_FILE_MACHINE_AMD64;
  // 26100 is Windows 11 24H2, the first with protected print mode and its WinRT class; 22631 is
  // 23H2; below 16299 there is no IsWow64Process2.
  DWORD build = 26100;
  // Windows protected print mode as turned on in Settings. The Group Policy value
  // (kProtectedPrintPolicyKey) turns it on as well; ProtectedPrintOn() tells both.
  bool protectedPrintSetting = false;

  // Something in the process (a hook or shell extension) made the thread single-threaded before
  // the program asked: RoInitialize for the multithreaded apartment then fails with
  // RPC_E_CHANGED_MODE, and the Windows Runtime is usable all the same.
  bool singleThreadedApartment = false;

  int combaseReferences = 0;  // LoadLibraryW("combase.dll") not yet freed
  int runtimeInits = 0;       // RoInitialize not yet balanced by RoUninitialize
  int strings = 0;            // HSTRINGs not yet deleted
  int factoryReferences = 0;  // references to the activation factory not yet released
};

const char* const kProtectedPrintPolicyKey = "Software\\Policies\\Microsoft\\Windows NT\\Printers\\WPP";
const char16_t* const kProtectedPrintPolicyValue = u"WindowsProtectedPrintGroupPolicyState";

// Whether protected print mode is on: turned on in Settings, or the policy value is 1.
bool ProtectedPrintOn();
// The policy value as Group Policy or device management writes it (1 on, 0 off); false removes it.
void SetProtectedPrintPolicy(bool set, DWORD value = 1);

// combase's calls, as GetProcAddress hands them out; the product never links them. An HSTRING and
// an interface pointer are passed as void*, the type the product's function pointers give them.
namespace winrt {
HRESULT WINAPI RoInitialize(int type);
void WINAPI RoUninitialize();
HRESULT WINAPI WindowsCreateString(LPCWSTR text, UINT32 length, void** string);
HRESULT WINAPI WindowsDeleteString(void* string);
HRESULT WINAPI RoGetActivationFactory(void* classId, const GUID& iid, void** factory);
}  // namespace winrt

// kernel32's IsWow64Process2 (Windows 10 1709 and later).
BOOL WINAPI IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine);

}  // namespace winsim
