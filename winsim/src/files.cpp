// kernel32 files: opening with sharing rules, reading and writing, deleting, attributes and
// deletion at reboot through PendingFileRenameOperations.
//
// Locks: a file another process holds open (FileEntry::lockedUntil in the future) can't be opened,
// written or deleted (32). A module the running spooler has loaded (loadedBySpooler) can be read
// but not opened for writing (32) nor deleted (5) until the spooler service stops.
//
// Where Wine 8 differs from Windows: nothing the product relies on (a loaded DLL refuses deletion
// with 5, a file held open without sharing with 32, as on Windows).
// Not modelled: security descriptors, file times, short names, links and reparse points, folder
// enumeration, FILE_SHARE_DELETE (opening for deletion), overlapped I/O, more than one volume.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "winsim/machine.h"
#include "name_keys.h"

using winsim::FileEntry;
using winsim::M;

namespace {

bool LockedByOtherProcess(const FileEntry& entry) { return entry.lockedUntil > M().clock.now; }
bool LoadedByRunningSpooler(const FileEntry& entry) { return entry.loadedBySpooler && winsim::SpoolerRunning(); }

std::u16string ParentKey(const std::u16string& key) {
  const size_t slash = key.find_last_of(u'\\');
  return slash == std::u16string::npos ? std::u16string() : key.substr(0, slash);
}

// The error Windows gives for a path that names nothing: 3 when the folder is missing, else 2.
DWORD MissingPathError(const std::u16string& key) {
  const std::u16string parent = ParentKey(key);
  if (parent.empty() || parent.size() <= 2) return ERROR_FILE_NOT_FOUND;  // "C:" is always there
  auto it = M().files.entries.find(parent);
  return (it != M().files.entries.end() && it->second.isDirectory) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

bool SharingConflict(const std::u16string& key, DWORD access, DWORD share) {
  for (const auto& item : M().files.handles) {
    const winsim::OpenFile& open = item.second;
    if (open.key != key) continue;
    if ((access & GENERIC_READ) && !(open.share & FILE_SHARE_READ)) return true;
    if ((access & GENERIC_WRITE) && !(open.share & FILE_SHARE_WRITE)) return true;
    if ((open.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
    if ((open.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
  }
  return false;
}

// A version resource is part of a module's bytes: readers see it behind the content, and a copy
// that writes those bytes elsewhere carries it along (taken back out when the copy is closed).
const DWORD kVersionTrailerMagic = 0x52565357;  // "WSVR"
struct VersionTrailer {
  VS_FIXEDFILEINFO fixed;
  DWORD fixedInfoLength;
  DWORD magic;
};

std::vector<uint8_t> DiskBytes(const FileEntry& entry) {
  std::vector<uint8_t> bytes = entry.content;
  if (!entry.version) return bytes;
  const winsim::VersionResource& v = *entry.version;
  VersionTrailer trailer = {};
  trailer.fixed.dwSignature = 0xFEEF04BD;
  trailer.fixed.dwProductVersionMS = (DWORD{v.major} << 16) | v.minor;
  trailer.fixed.dwProductVersionLS = (DWORD{v.patch} << 16) | v.build;
  trailer.fixedInfoLength = v.fixedInfoLength;
  trailer.magic = kVersionTrailerMagic;
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&trailer);
  bytes.insert(bytes.end(), raw, raw + sizeof(trailer));
  return bytes;
}

void AdoptVersionTrailer(FileEntry& entry) {
  if (entry.content.size() < sizeof(VersionTrailer)) return;
  VersionTrailer trailer;
  std::memcpy(&trailer, entry.content.data() + entry.content.size() - sizeof(trailer), sizeof(trailer));
  if (trailer.magic != kVersionTrailerMagic || trailer.fixed.dwSignature != 0xFEEF04BD) return;
  winsim::VersionResource v;
  v.major = static_cast<WORD>(trailer.fixed.dwProductVersionMS >> 16);
  v.minor = static_cast<WORD>(trailer.fixed.dwProductVersionMS);
  v.patch = static_cast<WORD>(trailer.fixed.dwProductVersionLS >> 16);
  v.build = static_cast<WORD>(trailer.fixed.dwProductVersionLS);
  v.fixedInfoLength = trailer.fixedInfoLength;
  entry.version = v;
  entry.content.resize(entry.content.size() - sizeof(trailer));
}

winsim::OpenFile* FindOpen(HANDLE handle) {
  auto it = M().files.handles.find(reinterpret_cast<uintptr_t>(handle));
  return it == M().files.handles.end() ? nullptr : &it->second;
}

}  // namespace

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD flags, HANDLE) {
  WINSIM_ENTER("CreateFileW", INVALID_HANDLE_VALUE);
  if (!name || !*name) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const std::u16string key = winsim::PathKey(name);
  FileEntry* entry = winsim::FindFile(name);
  if (entry && entry->isDirectory) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (!entry && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)) {
    SetLastError(MissingPathError(key));
    return INVALID_HANDLE_VALUE;
  }
  if (!entry && MissingPathError(key) == ERROR_PATH_NOT_FOUND) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (entry && disposition == CREATE_NEW) {
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
  }
  if (entry) {
    const bool writing = (access & GENERIC_WRITE) || disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (LockedByOtherProcess(*entry) || (writing && LoadedByRunningSpooler(*entry)) ||
        SharingConflict(key, access, share)) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;
    }
    if (writing && (entry->attributes & FILE_ATTRIBUTE_READONLY)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    // Overwriting a hidden or system file asks for the same attributes in the flags, or fails.
    const DWORD kept = entry->attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if ((disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) && (kept & ~flags)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
  }
  const bool existed = entry != nullptr;
  if (!entry) {
    entry = &M().files.entries[key];
    entry->path = name;
  }
  if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
    entry->content.clear();
    entry->version.reset();
  }
  entry->openHandles++;
  const uintptr_t handle = M().files.nextHandle;
  M().files.nextHandle += 4;
  M().files.handles[handle] = winsim::OpenFile{key, access, share, 0};
  SetLastError((existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)) ? ERROR_ALREADY_EXISTS : 0);
  return reinterpret_cast<HANDLE>(handle);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  if (read) *read = 0;
  WINSIM_ENTER("ReadFile", FALSE);
  winsim::OpenFile* open = FindOpen(file);
  if (!open || !(open->access & GENERIC_READ)) {
    SetLastError(open ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const std::vector<uint8_t> content = DiskBytes(M().files.entries[open->key]);
  const size_t available = open->position < content.size() ? content.size() - open->position : 0;
  const size_t n = std::min<size_t>(available, toRead);
  if (n) std::memcpy(buffer, content.data() + open->position, n);
  open->position += n;
  if (read) *read = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  if (written) *written = 0;
  WINSIM_ENTER("WriteFile", FALSE);
  winsim::OpenFile* open = FindOpen(file);
  if (!open || !(open->access & GENERIC_WRITE)) {
    SetLastError(open ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD n = toWrite;
  if (M().files.shortWrites > 0 && n > 0) {  // a disk that fills up mid-copy
    M().files.shortWrites--;
    n -= 1;
  }
  std::vector<uint8_t>& content = M().files.entries[open->key].content;
  if (content.size() < open->position + n) content.resize(open->position + n);
  if (n) std::memcpy(content.data() + open->position, buffer, n);
  open->position += n;
  if (written) *written = n;
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  WINSIM_ENTER("CloseHandle", FALSE);
  auto it = M().files.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it != M().files.handles.end()) {
    auto entry = M().files.entries.find(it->second.key);
    if (entry != M().files.entries.end()) {
      entry->second.openHandles--;
      if (it->second.access & GENERIC_WRITE) AdoptVersionTrailer(entry->second);
    }
    M().files.handles.erase(it);
    return TRUE;
  }
  if (winsim::CloseDesktopObject(handle)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL WINAPI DeleteFileW(LPCWSTR name) {
  WINSIM_ENTER("DeleteFileW", FALSE);
  if (!name || !*name) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  const std::u16string key = winsim::PathKey(name);
  FileEntry* entry = winsim::FindFile(name);
  if (!entry) {
    SetLastError(MissingPathError(key));
    return FALSE;
  }
  if (entry->isDirectory || (entry->attributes & FILE_ATTRIBUTE_READONLY) || LoadedByRunningSpooler(*entry)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (LockedByOtherProcess(*entry) || SharingConflict(key, 0, 0)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  M().files.entries.erase(key);
  return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR name) {
  WINSIM_ENTER("GetFileAttributesW", INVALID_FILE_ATTRIBUTES);
  if (!name || !*name) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  const FileEntry* entry = winsim::FindFile(name);
  if (!entry) {
    SetLastError(MissingPathError(winsim::PathKey(name)));
    return INVALID_FILE_ATTRIBUTES;
  }
  return entry->attributes;
}

// Only the read-only, hidden, system, archive and normal bits can be set; a folder stays a folder,
// and a file whose bits are all cleared is "normal". Other processes' handles don't prevent it.
BOOL WINAPI SetFileAttributesW(LPCWSTR name, DWORD attributes) {
  WINSIM_ENTER("SetFileAttributesW", FALSE);
  if (!name || !*name) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  FileEntry* entry = winsim::FindFile(name);
  if (!entry) {
    SetLastError(MissingPathError(winsim::PathKey(name)));
    return FALSE;
  }
  const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
  DWORD result = attributes & settable;
  if (entry->isDirectory) result |= FILE_ATTRIBUTE_DIRECTORY;
  entry->attributes = result ? result : FILE_ATTRIBUTE_NORMAL;
  return TRUE;
}

// With MOVEFILE_DELAY_UNTIL_REBOOT, Windows appends the source and the target ("" to delete) to a
// pending value; the operation happens at the next boot (winsim::Reboot). Current builds write the
// source "*1\??\<existing>" and append to PendingFileRenameOperations2 when it exists, or when the
// first value would grow too large; earlier builds write "\??\<existing>" to the first value.
BOOL WINAPI MoveFileExW(LPCWSTR existing, LPCWSTR replacement, DWORD flags) {
  WINSIM_ENTER("MoveFileExW", FALSE);
  if (!existing || !*existing) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    if (!M().files.rebootOperationsAllowed) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    const bool current = !M().files.pendingFormOfEarlierBuilds;
    const char16_t* name = winsim::kPendingRenamesValue;
    if (current && winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, winsim::kPendingRenames2Value))
      name = winsim::kPendingRenames2Value;
    const winsim::RegValue* value = winsim::GetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, name);
    std::vector<uint8_t> data;
    auto put = [&data](const std::u16string& text) {
      for (char16_t c : text) {
        data.push_back(static_cast<uint8_t>(c & 0xFF));
        data.push_back(static_cast<uint8_t>(c >> 8));
      }
      data.push_back(0);
      data.push_back(0);
    };
    // Existing entries keep their pairs (an empty target is an empty string in between).
    if (value) {
      data.assign(value->data.begin(), value->data.end());
      // Drop the list's final terminator so the new pair goes before it.
      if (data.size() >= 2 && data[data.size() - 1] == 0 && data[data.size() - 2] == 0) data.resize(data.size() - 2);
    }
    const std::u16string source = (current ? u"*1\\??\\" : u"\\??\\") + std::u16string(existing);
    const std::u16string target = replacement && *replacement ? u"\\??\\" + std::u16string(replacement) : u"";
    if (current && name == winsim::kPendingRenamesValue &&
        data.size() + (source.size() + target.size() + 3) * 2 > M().files.pendingValueLimit) {
      name = winsim::kPendingRenames2Value;
      data.clear();
    }
    put(source);
    put(target);
    data.push_back(0);
    data.push_back(0);
    winsim::SetRegValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, name, REG_MULTI_SZ, data);
    return TRUE;
  }
  FileEntry* entry = winsim::FindFile(existing);
  if (!entry) {
    SetLastError(MissingPathError(winsim::PathKey(existing)));
    return FALSE;
  }
  if (!replacement) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (winsim::FindFile(replacement) && !(flags & MOVEFILE_REPLACE_EXISTING)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  if (LockedByOtherProcess(*entry) || LoadedByRunningSpooler(*entry)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  FileEntry moved = *entry;
  moved.path = replacement;
  M().files.entries.erase(winsim::PathKey(existing));
  M().files.entries[winsim::PathKey(replacement)] = moved;
  return TRUE;
}

namespace winsim {

// ---- test-side access (not Windows calls: nothing here counts or fails)
// Windows normalises a path before it looks it up: "/" is a backslash, and a run of separators
// inside the path is one ("C:\\Dest/\\x.dll" names "C:\\Dest\\x.dll"); a UNC path keeps its leading pair.
std::u16string PathKey(const std::u16string& path) {
  std::u16string key;
  key.reserve(path.size());
  for (char16_t c : path) {
    c = UpperChar(c);
    if (c == u'/') c = u'\\';
    if (c == u'\\' && key.size() >= 2 && key.back() == u'\\') continue;
    key.push_back(c);
  }
  while (key.size() > 3 && key.back() == u'\\') key.pop_back();
  return key;
}

FileSystemState::FileSystemState() {
  // The host tests run once more on the form of earlier builds (ctest's "documented_form." tests).
  const char* form = std::getenv("WINSIM_PENDING_FORM");
  pendingFormOfEarlierBuilds = form && std::strcmp(form, "documented") == 0;
  for (const char16_t* folder :
       {u"C:\\Windows", u"C:\\Windows\\system32", u"C:\\Windows\\system32\\spool",
        u"C:\\Windows\\system32\\spool\\DRIVERS", u"C:\\Windows\\system32\\spool\\DRIVERS\\x64",
        u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86", u"C:\\Program Files"}) {
    FileEntry& entry = entries[PathKey(folder)];
    entry.path = folder;
    entry.isDirectory = true;
    entry.attributes = FILE_ATTRIBUTE_DIRECTORY;
  }
}

FileEntry* FindFile(const std::u16string& path) {
  auto it = M().files.entries.find(PathKey(path));
  return it == M().files.entries.end() ? nullptr : &it->second;
}

static void PutParents(const std::u16string& path) {
  const size_t slash = path.find_last_of(u"\\/");
  if (slash == std::u16string::npos || slash < 3) return;
  const std::u16string parent = path.substr(0, slash);
  if (!FindFile(parent)) PutFolder(parent);
}

FileEntry& PutFile(const std::u16string& path, const std::string& content, std::optional<VersionResource> version) {
  PutParents(path);
  FileEntry& entry = M().files.entries[PathKey(path)];
  entry = FileEntry{};
  entry.path = path;
  entry.content.assign(content.begin(), content.end());
  entry.version = version;
  return entry;
}

FileEntry& PutFolder(const std::u16string& path) {
  PutParents(path);
  FileEntry& entry = M().files.entries[PathKey(path)];
  entry = FileEntry{};
  entry.path = path;
  entry.isDirectory = true;
  entry.attributes = FILE_ATTRIBUTE_DIRECTORY;
  return entry;
}

bool FileExists(const std::u16string& path) {
  const FileEntry* entry = FindFile(path);
  return entry && !entry->isDirectory;
}

void RemoveFile(const std::u16string& path) { M().files.entries.erase(PathKey(path)); }

void LockFile(const std::u16string& path, uint64_t until) {
  if (FileEntry* entry = FindFile(path)) entry->lockedUntil = until;
}

}  // namespace winsim
