// Comparisons where only the ASCII letters A-Z and a-z fold together, as the installer's verbs and
// file names need: no locale, no other folding.
#pragma once
#include "platform/win32.h"

bool EqualsAsciiNoCase(LPCWSTR a, LPCWSTR b);
// The same over exactly `count` units of each, terminators included as units.
bool EqualsAsciiNoCase(LPCWSTR a, LPCWSTR b, DWORD count);
