#include "support/system_message.h"

LPWSTR SystemMessage(DWORD code) {
  LPWSTR text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                     nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<LPWSTR>(&text), 0,
                     nullptr);
  if (length && text) return text;
  if (text) LocalFree(text);
  return nullptr;
}
