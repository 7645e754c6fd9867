// advapi32 registry: keys opened by path under HKLM and HKCU, typed values with the size protocol
// of RegQueryValueExW. As on Windows, string data is returned as stored: a value written without
// a terminator comes back without one.
//
// Quota: with RegistryState::quotaBytes set, a write that would take the registry beyond it (a
// value's name and data, a new key's name; RegistryBytes counts them) fails with 613
// (ERROR_REGISTRY_QUOTA_LIMIT) and changes nothing, as Windows does when the registry has reached
// its size limit.
//
// Where Wine 8 differs from Windows: nothing the product relies on.
// Security on keys, as far as the product meets it: HKLM is the administrators'. A thread that
// impersonates an unelevated token (a standard user's, or an administrator's filtered one) is
// refused (5) when it opens or creates a key there for writing, or deletes one; a key opened
// before keeps the access it was opened with.
// Not modelled: other security on keys, registry redirection and reflection of 32-bit views, volatile
// keys, notifications, hives other than HKLM and HKCU, and value names longer than Windows allows.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "winsim/machine.h"
#include "name_keys.h"

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

// Whether the calling thread may not change the key: one under HKLM, while it impersonates an
// unelevated token.
bool MachineKeyRefused(const std::u16string& name, REGSAM access) {
  const bool write = (access & (KEY_WRITE | DELETE) & ~KEY_READ) != 0;
  const winsim::SessionsState& sessions = M().sessions;
  const bool unelevated = !sessions.impersonating.empty() && !sessions.impersonatingElevated;
  return write && unelevated && name.compare(0, 4, u"HKLM") == 0;
}

size_t ValueBytes(const winsim::RegValue& value) { return value.name.size() * sizeof(char16_t) + value.data.size(); }

// Whether the registry may grow by `more` bytes after giving back `less`.
bool WithinQuota(size_t more, size_t less) {
  const size_t quota = M().registry.quotaBytes;
  return quota == 0 || winsim::RegistryBytes() - less + more <= quota;
}
}  // namespace

size_t winsim::RegistryBytes() {
  size_t bytes = 0;
  for (const auto& key : M().registry.keys) {
    bytes += key.first.size() * sizeof(char16_t);
    for (const auto& value : key.second.values) bytes += ValueBytes(value.second);
  }
  return bytes;
}

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
  if (MachineKeyRefused(name, access)) return ERROR_ACCESS_DENIED;
  const uintptr_t handle = M().registry.nextHandle;
  M().registry.nextHandle += 4;
  M().registry.handles[handle] = winsim::RegHandle{name, access};
  *result = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

// The hive of the account the thread acts as (the impersonated user's); not found when that
// account's profile is not loaded.
LSTATUS WINAPI RegOpenCurrentUser(REGSAM access, PHKEY result) {
  WINSIM_ENTER_STATUS("RegOpenCurrentUser");
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  const std::u16string name = winsim::UserHive(winsim::ActingSid());
  if (!KeyRecord(name)) return ERROR_FILE_NOT_FOUND;
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
  const std::u16string valueName = name ? name : u"";
  auto existing = record->values.find(Upper(valueName));
  const size_t before = existing == record->values.end() ? 0 : ValueBytes(existing->second);
  if (!WithinQuota(valueName.size() * sizeof(char16_t) + size, before)) return ERROR_REGISTRY_QUOTA_LIMIT;
  winsim::RegValue& value = record->values[Upper(valueName)];
  ++record->changes;
  value.name = valueName;
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
  ++record->changes;
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
  if (rest.empty() || MachineKeyRefused(name, access | KEY_WRITE)) return ERROR_ACCESS_DENIED;
  bool created = false;
  size_t start = 0;
  size_t newBytes = 0;  // the names of the keys to be created
  for (std::u16string path = name; start <= rest.size();) {
    const size_t end = std::min(rest.find(u'\\', start), rest.size());
    path += u"\\" + rest.substr(start, end - start);
    if (!KeyRecord(path)) newBytes += path.size() * sizeof(char16_t);
    start = end + 1;
  }
  if (!WithinQuota(newBytes, 0)) return ERROR_REGISTRY_QUOTA_LIMIT;
  start = 0;
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
  auto it = record->values.end();
  if (record->enumChanges == record->changes && index == record->enumIndex + 1) {
    it = record->values.find(record->enumName);
    if (it != record->values.end()) ++it;
  }
  if (it == record->values.end()) it = std::next(record->values.begin(), index);
  record->enumChanges = record->changes;
  record->enumIndex = index;
  record->enumName = it->first;
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
  ++record->changes;
  return ERROR_SUCCESS;
}

// Deletes a key with its values; a key that has subkeys is refused (5), as on Windows.
LSTATUS WINAPI RegDeleteKeyA(HKEY root, LPCSTR subKey) {
  WINSIM_ENTER_STATUS("RegDeleteKeyA");
  if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
  if (!winsim::IsRegRoot(root)) return ERROR_INVALID_HANDLE;
  const std::u16string name = winsim::RegKeyName(root, subKey);
  if (MachineKeyRefused(name, DELETE)) return ERROR_ACCESS_DENIED;
  auto& keys = M().registry.keys;
  auto it = keys.find(name);
  if (it == keys.end()) return ERROR_FILE_NOT_FOUND;
  auto next = std::next(it);
  if (next != keys.end() && next->first.compare(0, name.size() + 1, name + u"\\") == 0) return ERROR_ACCESS_DENIED;
  keys.erase(it);
  return ERROR_SUCCESS;
}

namespace winsim {

// ---- test-side access (not Windows calls: nothing here counts or fails)
RegistryState::RegistryState() {
  for (const char16_t* key : {u"HKLM", u"HKLM\\SOFTWARE", u"HKLM\\SOFTWARE\\MICROSOFT", u"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS",
                              u"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION",
                              u"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN", u"HKLM\\SYSTEM",
                              u"HKLM\\SYSTEM\\CURRENTCONTROLSET", u"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL",
                              u"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SESSION MANAGER",
                              u"HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES", u"HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\EVENTLOG",
                              u"HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\EVENTLOG\\APPLICATION", u"HKU", u"HKU\\.DEFAULT",
                              u"HKU\\.DEFAULT\\SOFTWARE"})
    keys[key];
}

bool IsRegRoot(HKEY root) { return root == HKEY_LOCAL_MACHINE || root == HKEY_CURRENT_USER || root == HKEY_USERS; }

// HKCU is the hive of the account that runs the installer, under HKEY_USERS.
std::u16string RegKeyName(HKEY root, const std::string& path) {
  std::u16string name = root == HKEY_CURRENT_USER ? UserHive(M().sessions.callerSid)
                        : root == HKEY_USERS      ? u"HKU"
                                                  : u"HKLM";
  std::u16string rest = UpperCopy(Widen(path));
  while (!rest.empty() && rest.back() == u'\\') rest.pop_back();
  if (!rest.empty()) name += u"\\" + rest;
  return name;
}

void CreateRegKey(HKEY root, const std::string& path) {
  // Parents exist whenever a child does, as in the real registry.
  std::u16string name = RegKeyName(root, path);
  for (size_t pos = name.find(u'\\'); pos != std::u16string::npos; pos = name.find(u'\\', pos + 1))
    M().registry.keys[name.substr(0, pos)];
  M().registry.keys[name];
}

bool RegKeyExists(HKEY root, const std::string& path) {
  return M().registry.keys.count(RegKeyName(root, path)) != 0;
}

void SetRegValue(HKEY root, const std::string& path, const std::u16string& name, DWORD type,
                 const std::vector<uint8_t>& data) {
  CreateRegKey(root, path);
  RegKey& key = M().registry.keys[RegKeyName(root, path)];
  RegValue& value = key.values[UpperCopy(name)];
  ++key.changes;
  value.name = name;
  value.type = type;
  value.data = data;
}

static std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

void SetRegString(HKEY root, const std::string& path, const std::u16string& name, const std::u16string& text) {
  SetRegValue(root, path, name, REG_SZ, Utf16Bytes(text + u'\0'));
}

void SetRegMultiString(HKEY root, const std::string& path, const std::u16string& name,
                       const std::vector<std::u16string>& strings) {
  std::u16string all;
  for (const auto& s : strings) all += s + u'\0';
  all += u'\0';
  SetRegValue(root, path, name, REG_MULTI_SZ, Utf16Bytes(all));
}

const RegValue* GetRegValue(HKEY root, const std::string& path, const std::u16string& name) {
  auto key = M().registry.keys.find(RegKeyName(root, path));
  if (key == M().registry.keys.end()) return nullptr;
  auto value = key->second.values.find(UpperCopy(name));
  return value == key->second.values.end() ? nullptr : &value->second;
}

void DeleteRegValue(HKEY root, const std::string& path, const std::u16string& name) {
  auto key = M().registry.keys.find(RegKeyName(root, path));
  if (key != M().registry.keys.end() && key->second.values.erase(UpperCopy(name))) ++key->second.changes;
}

}  // namespace winsim
