#include "system/protected_print.h"

#include "system/module_exports.h"

namespace {
const char kPolicyKey[] = "Software\\Policies\\Microsoft\\Windows NT\\Printers\\WPP";
const WCHAR kPolicyValue[] = TEXT("WindowsProtectedPrintGroupPolicyState");
const WCHAR kInfoClass[] = TEXT("Windows.Graphics.Printing.ProtectedPrint.WindowsProtectedPrintInfo");
// IWindowsProtectedPrintInfoStatics
const GUID kInfoStatics = {0xa7d212f3, 0x4168, 0x5485, {0x98, 0xab, 0xd8, 0x9d, 0x04, 0x60, 0x3b, 0x40}};
const int kMultithreaded = 1;  // RO_INIT_MULTITHREADED

// The statics interface as its ABI lays it out: IInspectable's six methods, then the property.
struct InfoStaticsMethods {
  void* QueryInterface;
  void* AddRef;
  ULONG(WINAPI* Release)(void* self);
  void* GetIids;
  void* GetRuntimeClassName;
  void* GetTrustLevel;
  HRESULT(WINAPI* get_IsProtectedPrintEnabled)(void* self, BYTE* enabled);
};
struct InfoStatics {
  const InfoStaticsMethods* methods;
};

// combase's calls (Windows 8 and later), named as Windows names them.
struct Combase {
  HRESULT(WINAPI* RoInitialize)(int type);
  void(WINAPI* RoUninitialize)();
  HRESULT(WINAPI* WindowsCreateString)(LPCWSTR text, UINT32 length, void** string);
  HRESULT(WINAPI* WindowsDeleteString)(void* string);
  HRESULT(WINAPI* RoGetActivationFactory)(void* classId, const GUID& iid, void** factory);
};

enum RuntimeAnswer { kAnswerUnknown, kAnswerOff, kAnswerOn };

RuntimeAnswer AskActivatedClass(const Combase& combase) {
  const HRESULT init = combase.RoInitialize(kMultithreaded);
  // Another apartment kind already set on the thread still serves the call; it is not ours to end.
  if (FAILED(init) && init != RPC_E_CHANGED_MODE) return kAnswerUnknown;
  RuntimeAnswer answer = kAnswerUnknown;
  void* name = nullptr;
  const UINT32 length = static_cast<UINT32>(sizeof(kInfoClass) / sizeof(WCHAR) - 1);
  if (SUCCEEDED(combase.WindowsCreateString(kInfoClass, length, &name))) {
    InfoStatics* statics = nullptr;
    // Before build 26100 the class is not registered: not known, which is not "on".
    if (SUCCEEDED(combase.RoGetActivationFactory(name, kInfoStatics, reinterpret_cast<void**>(&statics))) &&
        statics) {
      BYTE enabled = 0;
      if (SUCCEEDED(statics->methods->get_IsProtectedPrintEnabled(statics, &enabled)))
        answer = enabled ? kAnswerOn : kAnswerOff;
      statics->methods->Release(statics);
    }
    combase.WindowsDeleteString(name);
  }
  if (SUCCEEDED(init)) combase.RoUninitialize();
  return answer;
}

// WindowsProtectedPrintInfo.IsProtectedPrintEnabled, through combase loaded at run time.
RuntimeAnswer AskWindowsRuntime() {
  // combase is one of the known DLLs: it is loaded from the system folder whatever the search path.
  HMODULE module = LoadLibraryW(TEXT("combase.dll"));
  if (!module) return kAnswerUnknown;
  Combase combase = {};
  RuntimeAnswer answer = kAnswerUnknown;
  if (FindExport(module, "RoInitialize", &combase.RoInitialize) &&
      FindExport(module, "RoUninitialize", &combase.RoUninitialize) &&
      FindExport(module, "WindowsCreateString", &combase.WindowsCreateString) &&
      FindExport(module, "WindowsDeleteString", &combase.WindowsDeleteString) &&
      FindExport(module, "RoGetActivationFactory", &combase.RoGetActivationFactory))
    answer = AskActivatedClass(combase);
  FreeLibrary(module);
  return answer;
}

bool PolicyTurnsItOn() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof(value);
  const LSTATUS status = RegQueryValueExW(key, kPolicyValue, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value) && value == 1;
}
}  // namespace

ProtectedPrint DetectProtectedPrint() {
  const RuntimeAnswer answer = AskWindowsRuntime();
  if (PolicyTurnsItOn()) return kProtectedPrintByPolicy;
  return answer == kAnswerOn ? kProtectedPrintOn : kProtectedPrintOff;
}
