// Comparisons of wide text: exact (code unit by code unit), and where only the ASCII letters A-Z
// and a-z fold together, as the installer's verbs and file names need: no locale, no other folding.
#pragma once
#include "platform/win32.h"

WCHAR AsciiUpper(WCHAR c);
bool EqualsAsciiNoCase(LPCWSTR a, LPCWSTR b);
// The same over exactly `count` units of each, terminators included as units.
bool EqualsAsciiNoCase(LPCWSTR a, LPCWSTR b, DWORD count);
// Windows' own string compare (lstrcmpW) sorts by words and ignores some characters; names such as
// a printer's are the exact sequence of code units. A null text equals nothing.
bool EqualsExactly(LPCWSTR a, LPCWSTR b);
