// advapi32 registry: keys opened by path under HKLM and HKCU, typed values with the size protocol
// of RegQueryValueExW. As on Windows, string data is returned as stored: a value written without
// a terminator comes back without one.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "winsim/machine.h"

using winsim::M;

namespace {
const winsim::RegHandle* FindKey(HKEY key) {
  auto it = M().registry.handles.find(reinterpret_cast<uintptr_t>(key));
  return it == M().registry.handles.end() ? nullptr : &it->second;
}

std::u16string Upper(std::u16string text) {
  for (auto& c : text)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return text;
}

std::u16string WidenAnsi(LPCSTR text) {
  std::u16string out;
  for (; text && *text; ++text) out += static_cast<char16_t>(static_cast<unsigned char>(*text));
  return out;
}

winsim::RegKey* KeyRecord(const std::u16string& name) {
  auto it = M().registry.keys.find(name);
  return it == M().registry.keys.end() ? nullptr : &it->second;
}
}  // namespace

// The options are 0 or REG_OPTION_OPEN_LINK; anything else is refused with 87.
LSTATUS WINAPI RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  WINSIM_ENTER_STATUS("RegOpenKeyExA");
  if (!result || (options & ~DWORD(REG_OPTION_OPEN_LINK))) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::u16string name;
  if (winsim::IsRegRoot(root)) {
    name = winsim::RegKeyName(root, subKey ? subKey : "");
  } else {
    const winsim::RegHandle* parent = FindKey(root);
    if (!parent) return ERROR_INVALID_HANDLE;
    name = parent->key;
    const std::u16string rest = Upper(WidenAnsi(subKey));
    if (!rest.empty()) name += u"\\" + rest;
  }
  while (!name.empty() && name.back() == u'\\') name.pop_back();
  if (name != u"HKLM" && name != u"HKU" && !KeyRecord(name)) return ERROR_FILE_NOT_FOUND;
  const uintptr_t handle = M().registry.nextHandle;
  M().registry.nextHandle += 4;
  M().registry.handles[handle] = winsim::RegHandle{name, access};
  *result = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
  WINSIM_ENTER_STATUS("RegQueryValueExW");
  const winsim::RegHandle* open = FindKey(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (!(open->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  winsim::RegKey* record = KeyRecord(open->key);
  auto it = record ? record->values.find(Upper(name ? name : u"")) : decltype(record->values.end()){};
  if (!record || it == record->values.end()) return ERROR_FILE_NOT_FOUND;
  const winsim::RegValue& value = it->second;
  if (type) *type = value.type;
  const DWORD bytes = static_cast<DWORD>(value.data.size());
  if (data) {
    if (!size) return ERROR_INVALID_PARAMETER;
    if (*size < bytes) {
      *size = bytes;
      return ERROR_MORE_DATA;
    }
    if (bytes) std::memcpy(data, value.data.data(), bytes);
  }
  if (size) *size = bytes;
  return ERROR_SUCCESS;
}

// The reserved argument must be zero, else 87.
LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  WINSIM_ENTER_STATUS("RegSetValueExW");
  if (reserved != 0) return ERROR_INVALID_PARAMETER;
  const winsim::RegHandle* open = FindKey(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (!(open->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  winsim::RegKey* record = KeyRecord(open->key);
  if (!record) return ERROR_FILE_NOT_FOUND;
  winsim::RegValue& value = record->values[Upper(name ? name : u"")];
  value.name = name ? name : u"";
  value.type = type;
  value.data.assign(data, data + size);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR name) {
  WINSIM_ENTER_STATUS("RegDeleteValueA");
  const winsim::RegHandle* open = FindKey(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (!(open->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  winsim::RegKey* record = KeyRecord(open->key);
  if (!record || record->values.erase(Upper(WidenAnsi(name))) == 0) return ERROR_FILE_NOT_FOUND;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  WINSIM_ENTER_STATUS("RegCloseKey");
  const uintptr_t handle = reinterpret_cast<uintptr_t>(key);
  if (M().registry.handles.erase(handle) == 0) return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}

// Opens the key, creating it and every missing key above it, as RegCreateKeyExA does. A root of
// its own (HKLM, HKEY_USERS, HKCU) can't be created below: ERROR_ACCESS_DENIED, as Windows answers there.
LSTATUS WINAPI RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                               PHKEY result, LPDWORD disposition) {
  WINSIM_ENTER_STATUS("RegCreateKeyExA");
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::u16string name;
  if (winsim::IsRegRoot(root)) {
    name = winsim::RegKeyName(root, "");
  } else {
    const winsim::RegHandle* parent = FindKey(root);
    if (!parent) return ERROR_INVALID_HANDLE;
    name = parent->key;
  }
  std::u16string rest = Upper(WidenAnsi(subKey));
  while (!rest.empty() && rest.back() == u'\\') rest.pop_back();
  if (rest.empty()) return ERROR_ACCESS_DENIED;
  bool created = false;
  size_t start = 0;
  while (start <= rest.size()) {
    const size_t end = std::min(rest.find(u'\\', start), rest.size());
    name += u"\\" + rest.substr(start, end - start);
    if (!KeyRecord(name)) {
      M().registry.keys[name];
      created = true;
    }
    start = end + 1;
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  const uintptr_t handle = M().registry.nextHandle;
  M().registry.nextHandle += 4;
  M().registry.handles[handle] = winsim::RegHandle{name, access};
  *result = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

// Values in the order of their upper-cased names. The name's capacity and result are counted in
// characters (the result without its terminator); a name or data buffer too small gives
// ERROR_MORE_DATA, an index past the last value ERROR_NO_MORE_ITEMS.
LSTATUS WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD, LPDWORD type,
                             LPBYTE data, LPDWORD dataBytes) {
  WINSIM_ENTER_STATUS("RegEnumValueW");
  const winsim::RegHandle* open = FindKey(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (!(open->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (!name || !nameChars) return ERROR_INVALID_PARAMETER;
  winsim::RegKey* record = KeyRecord(open->key);
  if (!record || index >= record->values.size()) return ERROR_NO_MORE_ITEMS;
  auto it = record->values.begin();
  std::advance(it, index);
  const winsim::RegValue& value = it->second;
  if (*nameChars < value.name.size() + 1) return ERROR_MORE_DATA;
  const DWORD bytes = static_cast<DWORD>(value.data.size());
  if (data && (!dataBytes || *dataBytes < bytes)) {
    if (dataBytes) *dataBytes = bytes;
    return ERROR_MORE_DATA;
  }
  std::memcpy(name, value.name.c_str(), (value.name.size() + 1) * sizeof(WCHAR));
  *nameChars = static_cast<DWORD>(value.name.size());
  if (type) *type = value.type;
  if (data && bytes) std::memcpy(data, value.data.data(), bytes);
  if (dataBytes) *dataBytes = bytes;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR name) {
  WINSIM_ENTER_STATUS("RegDeleteValueW");
  const winsim::RegHandle* open = FindKey(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (!(open->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  winsim::RegKey* record = KeyRecord(open->key);
  if (!record || record->values.erase(Upper(name ? name : u"")) == 0) return ERROR_FILE_NOT_FOUND;
  return ERROR_SUCCESS;
}

// Deletes a key with its values; a key that has subkeys is refused (5), as on Windows.
LSTATUS WINAPI RegDeleteKeyA(HKEY root, LPCSTR subKey) {
  WINSIM_ENTER_STATUS("RegDeleteKeyA");
  if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
  if (!winsim::IsRegRoot(root)) return ERROR_INVALID_HANDLE;
  const std::u16string name = winsim::RegKeyName(root, subKey);
  auto& keys = M().registry.keys;
  auto it = keys.find(name);
  if (it == keys.end()) return ERROR_FILE_NOT_FOUND;
  auto next = std::next(it);
  if (next != keys.end() && next->first.compare(0, name.size() + 1, name + u"\\") == 0) return ERROR_ACCESS_DENIED;
  keys.erase(it);
  return ERROR_SUCCESS;
}
