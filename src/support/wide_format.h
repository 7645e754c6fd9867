// A small printf-style formatter for wide text, identical on every target: %d (signed decimal),
// %u, %x (lower-case hexadecimal), %s (wide string, null shown as "(null)") and %%. The output is
// always terminated and cut at the buffer's end, never overrun.
#pragma once
#include <cstdarg>
#include <cstddef>
#include "platform/win32.h"

size_t FormatWideV(WCHAR* out, size_t capacity, LPCWSTR format, va_list args);
size_t FormatWide(WCHAR* out, size_t capacity, LPCWSTR format, ...);
