#include "support/wide_format.h"

#include <cstdint>

namespace {
struct Sink {
  WCHAR* out;
  size_t capacity;
  size_t used;
  void Put(WCHAR c) {
    if (used + 1 < capacity) out[used++] = c;
  }
  void PutAscii(const char* text) {
    while (*text) Put(static_cast<WCHAR>(*text++));
  }
};

void PutNumber(Sink& sink, uint64_t value, unsigned base) {
  char digits[24];
  int n = 0;
  do {
    const unsigned d = static_cast<unsigned>(value % base);
    digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
    value /= base;
  } while (value);
  while (n) sink.Put(static_cast<WCHAR>(digits[--n]));
}
}  // namespace

size_t FormatWideV(WCHAR* out, size_t capacity, LPCWSTR format, va_list args) {
  if (!out || capacity == 0) return 0;
  Sink sink{out, capacity, 0};
  for (const WCHAR* p = format ? format : TEXT(""); *p; ++p) {
    if (*p != TEXT('%')) {
      sink.Put(*p);
      continue;
    }
    const WCHAR conversion = *++p;
    if (conversion == 0) break;
    switch (conversion) {
      case TEXT('d'): {
        const int value = va_arg(args, int);
        if (value < 0) sink.Put(TEXT('-'));
        PutNumber(sink, value < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(value)) : static_cast<uint64_t>(value), 10);
        break;
      }
      case TEXT('u'):
        PutNumber(sink, va_arg(args, unsigned), 10);
        break;
      case TEXT('x'):
        PutNumber(sink, va_arg(args, unsigned), 16);
        break;
      case TEXT('s'): {
        LPCWSTR text = va_arg(args, LPCWSTR);
        if (!text) {
          sink.PutAscii("(null)");
        } else {
          while (*text) sink.Put(*text++);
        }
        break;
      }
      case TEXT('%'):
        sink.Put(TEXT('%'));
        break;
      default:  // unknown conversions are copied as they stand
        sink.Put(TEXT('%'));
        sink.Put(conversion);
        break;
    }
  }
  out[sink.used] = 0;
  return sink.used;
}

size_t FormatWide(WCHAR* out, size_t capacity, LPCWSTR format, ...) {
  va_list args;
  va_start(args, format);
  const size_t n = FormatWideV(out, capacity, format, args);
  va_end(args);
  return n;
}
