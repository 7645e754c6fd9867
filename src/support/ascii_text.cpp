#include "support/ascii_text.h"

namespace {
WCHAR AsciiLower(WCHAR c) { return (c >= TEXT('A') && c <= TEXT('Z')) ? static_cast<WCHAR>(c + 32) : c; }
}  // namespace

bool EqualsAsciiNoCase(LPCWSTR a, LPCWSTR b) {
  for (;; ++a, ++b) {
    if (AsciiLower(*a) != AsciiLower(*b)) return false;
    if (*a == 0) return true;
  }
}

bool EqualsAsciiNoCase(LPCWSTR a, LPCWSTR b, DWORD count) {
  for (DWORD i = 0; i < count; ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}
