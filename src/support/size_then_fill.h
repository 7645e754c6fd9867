// The size-then-fill protocol of Windows' query calls, written once: ask with no buffer, expect
// the "buffer too small" error (ERROR_INSUFFICIENT_BUFFER for the spooler, ERROR_MORE_DATA for the
// service manager), take a zero-filled fixed global block of the reported size (plus any extra
// room), ask again. On any failure the block is released and null returned; a failed allocation
// leaves E_OUTOFMEMORY as the last error.
#pragma once
#include <cstring>
#include "platform/win32.h"

template <typename Call>
LPBYTE FetchBlock(Call call, DWORD extraBytes = 0, DWORD* neededOut = nullptr,
                  DWORD shortBufferError = ERROR_INSUFFICIENT_BUFFER) {
  DWORD needed = 0;
  if (call(nullptr, 0, &needed) || GetLastError() != shortBufferError) return nullptr;
  // A reported size so large that the extra room would wrap around is refused like a block that
  // cannot be had; a wrapped size would give Windows a small block to fill with `needed` bytes.
  LPBYTE block = nullptr;
  if (needed <= 0xFFFFFFFFu - extraBytes) block = static_cast<LPBYTE>(GlobalAlloc(GMEM_FIXED, needed + extraBytes));
  if (!block) {
    SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
    return nullptr;
  }
  std::memset(block, 0, needed + extraBytes);
  if (neededOut) *neededOut = needed;
  if (!call(block, needed, &needed)) {
    GlobalFree(block);
    return nullptr;
  }
  return block;
}
