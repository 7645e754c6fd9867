// combase: the Windows Runtime calls that activate one class, and Windows protected print mode.
//
// WindowsProtectedPrintInfo (Windows.Graphics.Printing.ProtectedPrint) exists from build 26100 on;
// before it RoGetActivationFactory fails with REGDB_E_CLASSNOTREG. Its statics interface
// IWindowsProtectedPrintInfoStatics ({A7D212F3-4168-5485-98AB-D89D04603B40}) is an IInspectable
// whose seventh method is get_IsProtectedPrintEnabled. RoGetActivationFactory needs the thread
// initialised with RoInitialize (CO_E_NOTINITIALIZED otherwise).
//
// Protected print mode is on when turned on in Settings or when the Group Policy value
// "WindowsProtectedPrintGroupPolicyState" is 1; the class reports either. What the spooler then
// does to third-party drivers and monitors is modelled in spooler_drivers.cpp and
// spooler_monitors.cpp.
//
// Where Wine 8 differs from Windows: its combase registers no such class, so activation fails
// with REGDB_E_CLASSNOTREG on every build, as on Windows before 26100.
// Not modelled: other classes, activation of instances, the Intune setting (it reaches the machine
// as the same state the class reports).
#include <cstring>
#include <string>

#include "winsim/machine.h"

using winsim::M;
namespace {
struct RuntimeString {
  std::u16string text;
};
}  // namespace

namespace {
const GUID kStaticsIid = {0xa7d212f3, 0x4168, 0x5485, {0x98, 0xab, 0xd8, 0x9d, 0x04, 0x60, 0x3b, 0x40}};
const GUID kIUnknown = {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const char16_t kProtectedPrintClass[] = u"Windows.Graphics.Printing.ProtectedPrint.WindowsProtectedPrintInfo";
const DWORD kFirstProtectedPrintBuild = 26100;

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

struct StaticsVtbl {
  HRESULT(WINAPI* QueryInterface)(void*, const GUID&, void**);
  ULONG(WINAPI* AddRef)(void*);
  ULONG(WINAPI* Release)(void*);
  HRESULT(WINAPI* GetIids)(void*, ULONG*, GUID**);
  HRESULT(WINAPI* GetRuntimeClassName)(void*, void**);
  HRESULT(WINAPI* GetTrustLevel)(void*, int*);
  HRESULT(WINAPI* get_IsProtectedPrintEnabled)(void*, BYTE*);
};
struct Statics {
  const StaticsVtbl* vtbl;
};

ULONG WINAPI AddRef(void*) { return static_cast<ULONG>(++M().system.factoryReferences); }
ULONG WINAPI Release(void*) {
  if (M().system.factoryReferences > 0) --M().system.factoryReferences;
  return static_cast<ULONG>(M().system.factoryReferences);
}
HRESULT WINAPI QueryInterface(void* self, const GUID& iid, void** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!SameGuid(iid, kStaticsIid) && !SameGuid(iid, kIUnknown)) return E_NOINTERFACE;
  AddRef(self);
  *out = self;
  return S_OK;
}
HRESULT WINAPI GetIids(void*, ULONG*, GUID**) { return E_FAIL; }
HRESULT WINAPI GetRuntimeClassName(void*, void**) { return E_FAIL; }
HRESULT WINAPI GetTrustLevel(void*, int* level) {
  if (level) *level = 0;
  return S_OK;
}
HRESULT WINAPI GetIsProtectedPrintEnabled(void*, BYTE* value) {
  if (::winsim::detail::Enter("get_IsProtectedPrintEnabled", __builtin_return_address(0)))
    return static_cast<HRESULT>(GetLastError());
  if (!value) return E_INVALIDARG;
  *value = winsim::ProtectedPrintOn() ? 1 : 0;
  return S_OK;
}

const StaticsVtbl kVtbl = {QueryInterface, AddRef,        Release, GetIids, GetRuntimeClassName,
                           GetTrustLevel,  GetIsProtectedPrintEnabled};
Statics theStatics = {&kVtbl};

// An injected fault of a call that returns an HRESULT: the code given to FailCall is the HRESULT.
#define WINSIM_ENTER_HRESULT(name)                                                                    \
  do {                                                                                                \
    if (::winsim::detail::Enter(name, __builtin_return_address(0))) return static_cast<HRESULT>(GetLastError()); \
  } while (0)
}  // namespace

bool winsim::ProtectedPrintOn() {
  if (M().system.protectedPrintSetting) return true;
  const RegValue* policy = GetRegValue(HKEY_LOCAL_MACHINE, kProtectedPrintPolicyKey, kProtectedPrintPolicyValue);
  if (!policy || policy->type != REG_DWORD || policy->data.size() != 4) return false;
  return policy->data[0] == 1 && policy->data[1] == 0 && policy->data[2] == 0 && policy->data[3] == 0;
}

void winsim::SetProtectedPrintPolicy(bool set, DWORD value) {
  if (!set) {
    DeleteRegValue(HKEY_LOCAL_MACHINE, kProtectedPrintPolicyKey, kProtectedPrintPolicyValue);
    return;
  }
  SetRegValue(HKEY_LOCAL_MACHINE, kProtectedPrintPolicyKey, kProtectedPrintPolicyValue, REG_DWORD,
              {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
               static_cast<uint8_t>(value >> 24)});
}

// S_FALSE when the thread was already initialised (still to be balanced by RoUninitialize).
HRESULT WINAPI winsim::winrt::RoInitialize(int type) {
  WINSIM_ENTER_HRESULT("RoInitialize");
  const int kMultithreaded = 1;
  if (M().system.singleThreadedApartment && type == kMultithreaded) return RPC_E_CHANGED_MODE;
  return M().system.runtimeInits++ == 0 ? S_OK : S_FALSE;
}

void WINAPI winsim::winrt::RoUninitialize() {
  if (M().system.runtimeInits > 0) --M().system.runtimeInits;
}

HRESULT WINAPI winsim::winrt::WindowsCreateString(LPCWSTR text, UINT32 length, void** string) {
  WINSIM_ENTER_HRESULT("WindowsCreateString");
  if (!string || (!text && length)) return E_INVALIDARG;
  *string = nullptr;
  if (length == 0) return S_OK;  // the empty string is the null HSTRING
  *string = new RuntimeString{std::u16string(text, length)};
  ++M().system.strings;
  return S_OK;
}

HRESULT WINAPI winsim::winrt::WindowsDeleteString(void* string) {
  if (!string) return S_OK;
  delete static_cast<RuntimeString*>(string);
  --M().system.strings;
  return S_OK;
}

HRESULT WINAPI winsim::winrt::RoGetActivationFactory(void* classId, const GUID& iid, void** factory) {
  WINSIM_ENTER_HRESULT("RoGetActivationFactory");
  if (!factory) return E_INVALIDARG;
  *factory = nullptr;
  if (M().system.runtimeInits == 0 && !M().system.singleThreadedApartment) return CO_E_NOTINITIALIZED;
  if (!classId || static_cast<RuntimeString*>(classId)->text != kProtectedPrintClass || M().system.build < kFirstProtectedPrintBuild)
    return REGDB_E_CLASSNOTREG;
  return QueryInterface(&theStatics, iid, factory);
}
