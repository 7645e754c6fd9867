#include "support/ascii_text.h"

WCHAR AsciiUpper(WCHAR c) { return (c >= TEXT('a') && c <= TEXT('z')) ? static_cast<WCHAR>(c - 32) : c; }

bool EqualsAsciiNoCase(LPCWSTR a, LPCWSTR b) {
  for (;; ++a, ++b) {
    if (AsciiUpper(*a) != AsciiUpper(*b)) return false;
    if (*a == 0) return true;
  }
}

bool EqualsExactly(LPCWSTR a, LPCWSTR b) {
  if (!a || !b) return false;
  for (; *a == *b; ++a, ++b)
    if (*a == 0) return true;
  return false;
}
