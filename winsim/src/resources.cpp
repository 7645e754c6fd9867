// kernel32 resources of our own executable: found by type and numeric id, loaded and locked as
// Windows does (the data stays mapped with the module; nothing is freed).
//
// Where Wine 8 differs from Windows: nothing the product relies on.
// Not modelled: named resources and types, languages, other modules' resources.
#include "winsim/machine.h"

using winsim::M;

namespace {
// A found resource's handle: its type and id, never 0.
HRSRC EncodeResource(WORD type, WORD id) {
  return reinterpret_cast<HRSRC>(static_cast<uintptr_t>(0x5E000000u | static_cast<uint32_t>(type) << 16 | id));
}
const std::vector<uint8_t>* FindData(HRSRC resource) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(resource);
  if ((value & 0xFF000000u) != 0x5E000000u) return nullptr;
  auto it = M().moduleResources.find({static_cast<WORD>((value >> 16) & 0xFF), static_cast<WORD>(value & 0xFFFF)});
  return it == M().moduleResources.end() ? nullptr : &it->second;
}
}  // namespace

// Names and types given as numbers (MAKEINTRESOURCE) only, as the product uses them.
HRSRC WINAPI FindResourceW(HMODULE, LPCWSTR name, LPCWSTR type) {
  WINSIM_ENTER("FindResourceW", nullptr);
  const WORD typeId = static_cast<WORD>(reinterpret_cast<uintptr_t>(type));
  const WORD nameId = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
  bool typeKnown = false;
  for (const auto& entry : M().moduleResources) {
    if (entry.first.first != typeId) continue;
    typeKnown = true;
    if (entry.first.second == nameId) return EncodeResource(typeId, nameId);
  }
  SetLastError(typeKnown ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

DWORD WINAPI SizeofResource(HMODULE, HRSRC resource) {
  WINSIM_ENTER("SizeofResource", 0);
  const std::vector<uint8_t>* data = FindData(resource);
  if (!data) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(data->size());
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC resource) {
  WINSIM_ENTER("LoadResource", nullptr);
  const std::vector<uint8_t>* data = FindData(resource);
  if (!data) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<uint8_t*>(data->data());
}

LPVOID WINAPI LockResource(HGLOBAL resource) {
  WINSIM_ENTER("LockResource", nullptr);
  return resource;
}
