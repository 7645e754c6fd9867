#include "support/ascii_text.h"

WCHAR AsciiUpper(WCHAR c) { return (c >= TEXT('a') && c <= TEXT('z')) ? static_cast<WCHAR>(c - 32) : c; }

bool EqualsAsciiNoCase(LPCWSTR a, LPCWSTR b) {
  for (;; ++a, ++b) {
    if (AsciiUpper(*a) != AsciiUpper(*b)) return false;
    if (*a == 0) return true;
  }
}

bool EqualsAsciiNoCase(LPCWSTR a, LPCWSTR b, DWORD count) {
  for (DWORD i = 0; i < count; ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

bool EqualsExactly(LPCWSTR a, LPCWSTR b) {
  if (!a || !b) return false;
  for (; *a == *b; ++a, ++b)
    if (*a == 0) return true;
  return false;
}
