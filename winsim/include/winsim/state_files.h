// The file system: case-insensitive paths, content, attributes, version resources and locks.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>
#include "winsim/types.h"

namespace winsim {

// The product version of a file's version resource (VS_FIXEDFILEINFO dwProductVersionMS/LS).
struct VersionResource {
  WORD major = 1, minor = 0, patch = 0, build = 0;
  DWORD fixedInfoLength = sizeof(VS_FIXEDFILEINFO);  // shorter: a malformed resource
};
inline VersionResource Build(WORD build) { return VersionResource{1, 0, 0, build}; }

struct FileEntry {
  std::u16string path;                    // as created, original letter case
  bool isDirectory = false;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  std::vector<uint8_t> content;
  std::optional<VersionResource> version;  // none: the file has no version resource
  bool loadedBySpooler = false;           // a module the running spooler has loaded: locked until it stops
  uint64_t lockedUntil = 0;               // held open by another process until this virtual time
  int openHandles = 0;                    // handles of ours open on it
};

struct OpenFile {
  std::u16string key;  // PathKey of the file
  DWORD access = 0;
  DWORD share = 0;
  size_t position = 0;
};

struct FileSystemState {
  std::map<std::u16string, FileEntry> entries;  // key: upper-cased full path
  std::map<uintptr_t, struct OpenFile> handles;
  uintptr_t nextHandle = 0x4000;
  int shortWrites = 0;                    // the next N WriteFile calls write one byte less than asked
  bool rebootOperationsAllowed = true;    // MoveFileExW may write PendingFileRenameOperations
  // MoveFileExW's delay-until-reboot entries: by default as Windows 10 from build 19045.6218 and
  // Windows 11 write them, "*1\??\<path>", appended to PendingFileRenameOperations2 when that value
  // exists, and starting it when the first value would grow past pendingValueLimit bytes (the real
  // limit is undocumented). The form of earlier builds: "\??\<path>", always the first value.
  bool pendingFormOfEarlierBuilds = false;
  size_t pendingValueLimit = 64 * 1024;
  FileSystemState();                      // the folders every Windows installation has
};

// Test-side helpers (they model the machine; none of them counts as a Windows call).
std::u16string PathKey(const std::u16string& path);
FileEntry* FindFile(const std::u16string& path);
FileEntry& PutFile(const std::u16string& path, const std::string& content = "",
                   std::optional<VersionResource> version = std::nullopt);
FileEntry& PutFolder(const std::u16string& path);
bool FileExists(const std::u16string& path);
void RemoveFile(const std::u16string& path);
// Another process holds the file open (no sharing) until the given virtual time; UINT64_MAX: for ever.
void LockFile(const std::u16string& path, uint64_t until = UINT64_MAX);
// Carries out both pending values as Windows does at boot, then clears them.
void Reboot();

}  // namespace winsim
