// The registry: HKLM and HKCU, keys and typed values.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>
#include "winsim/types.h"

namespace winsim {

struct RegValue {
  std::u16string name;  // original letter case
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

struct RegKey {
  std::map<std::u16string, RegValue> values;  // key: upper-cased value name
  // Where RegEnumValueW last was, so that the next index is a step, not a walk from the first
  // value; good while `changes` (counted by every value set or deleted) stays as it was.
  uint64_t changes = 0;
  uint64_t enumChanges = ~uint64_t{0};
  DWORD enumIndex = 0;
  std::u16string enumName;
};

struct RegHandle {
  std::u16string key;  // the key's name in RegistryState::keys
  REGSAM access = 0;
};

struct RegistryState {
  // key: "HKLM\\PATH" or "HKU\\<SID>\\PATH" (HKCU is the caller's hive there), upper-cased
  std::map<std::u16string, RegKey> keys;
  std::map<uintptr_t, RegHandle> handles;
  RegistryState();  // the keys every Windows installation has
  uintptr_t nextHandle = 0x8000;
  size_t quotaBytes = 0;  // the registry's size limit (RegistryBytes); 0: none
};

// Test-side helpers. Paths are relative to the root ("SOFTWARE\\Microsoft\\...").
void CreateRegKey(HKEY root, const std::string& path);
bool RegKeyExists(HKEY root, const std::string& path);
void SetRegValue(HKEY root, const std::string& path, const std::u16string& name, DWORD type,
                 const std::vector<uint8_t>& data);
void SetRegString(HKEY root, const std::string& path, const std::u16string& name, const std::u16string& text);
void SetRegMultiString(HKEY root, const std::string& path, const std::u16string& name,
                       const std::vector<std::u16string>& strings);
const RegValue* GetRegValue(HKEY root, const std::string& path, const std::u16string& name);
void DeleteRegValue(HKEY root, const std::string& path, const std::u16string& name);
std::u16string RegKeyName(HKEY root, const std::string& path);
// The registry's size as its quota counts it: key names, value names and data.
size_t RegistryBytes();
bool IsRegRoot(HKEY root);  // HKLM, HKEY_USERS or HKCU

// The value and key that Windows reads at boot.
extern const char* const kSessionManagerKey;       // "SYSTEM\\CurrentControlSet\\Control\\Session Manager"
extern const char16_t* const kPendingRenamesValue;   // u"PendingFileRenameOperations"
extern const char16_t* const kPendingRenames2Value;  // u"PendingFileRenameOperations2"

}  // namespace winsim
