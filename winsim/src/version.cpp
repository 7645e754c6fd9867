// version.dll: a file's version resource. winsim keeps only the product version; the block that
// GetFileVersionInfoW fills holds a small header and the VS_FIXEDFILEINFO that VerQueryValueW("\")
// points into, with the length the resource declares (a malformed resource may declare less).
//
// Where Wine 8 differs from Windows: nothing the product relies on (1812 for a file without a
// version resource, as on Windows).
// Not modelled: string tables, translations, the file version (only the product version).
#include <cstring>

#include "winsim/machine.h"

namespace {
const DWORD kBlockMagic = 0x49565357;  // "WSVI"
struct VersionBlock {
  DWORD magic;
  DWORD fixedInfoLength;
  VS_FIXEDFILEINFO fixed;
};

const winsim::FileEntry* FindVersioned(LPCWSTR name) {
  const winsim::FileEntry* entry = name ? winsim::FindFile(name) : nullptr;
  if (!entry || entry->isDirectory) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (!entry->version) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return entry;
}
}  // namespace

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR name, LPDWORD handle) {
  if (handle) *handle = 0;
  WINSIM_ENTER("GetFileVersionInfoSizeW", 0);
  return FindVersioned(name) ? sizeof(VersionBlock) : 0;
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR name, DWORD, DWORD size, LPVOID data) {
  WINSIM_ENTER("GetFileVersionInfoW", FALSE);
  const winsim::FileEntry* entry = FindVersioned(name);
  if (!entry) return FALSE;
  if (!data || size < sizeof(VersionBlock)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  VersionBlock block = {};
  block.magic = kBlockMagic;
  block.fixedInfoLength = entry->version->fixedInfoLength;
  block.fixed.dwSignature = 0xFEEF04BD;
  block.fixed.dwStrucVersion = 0x00010000;
  const winsim::VersionResource& v = *entry->version;
  block.fixed.dwFileVersionMS = block.fixed.dwProductVersionMS = (DWORD{v.major} << 16) | v.minor;
  block.fixed.dwFileVersionLS = block.fixed.dwProductVersionLS = (DWORD{v.patch} << 16) | v.build;
  std::memcpy(data, &block, sizeof(block));
  return TRUE;
}

BOOL WINAPI VerQueryValueW(LPCVOID data, LPCWSTR subBlock, LPVOID* buffer, PUINT length) {
  WINSIM_ENTER("VerQueryValueW", FALSE);
  const VersionBlock* block = static_cast<const VersionBlock*>(data);
  if (!block || block->magic != kBlockMagic || !subBlock || std::u16string(subBlock) != u"\\" ||
      block->fixedInfoLength == 0) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  if (buffer) *buffer = const_cast<VS_FIXEDFILEINFO*>(&block->fixed);
  if (length) *length = block->fixedInfoLength;
  return TRUE;
}
