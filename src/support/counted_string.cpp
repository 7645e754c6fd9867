#include "support/counted_string.h"

#include <cstdlib>
#include <cstring>

struct CountedStringBlock {
  uint64_t length;
  WCHAR text[1];  // length code units, the terminator, then spare units up to the capacity
};

namespace {
const WCHAR kEmpty[1] = {0};

bool IsSeparator(WCHAR c) { return c == TEXT('\\') || c == TEXT('/'); }

uint64_t TextLength(LPCWSTR text) { return text ? static_cast<uint64_t>(lstrlenW(text)) : 0; }

// Block size in bytes that the capacity rule gives for a length (0 for length 0).
uint64_t CountedStringBlockBytes(uint64_t length) {
  if (length == 0) return 0;
  const uint64_t capacity = (length + 1 + 31) / 32 * 32;
  return 8 + 2 * capacity;
}
}  // namespace

uint64_t Length(const CountedString& s) { return s ? s->length : 0; }

LPCWSTR Text(const CountedString& s) { return s ? s->text : kEmpty; }

bool Resize(CountedString& s, uint64_t length) {
  if (length == 0) {
    Release(s);
    return true;
  }
  const uint64_t newBytes = CountedStringBlockBytes(length);
  const uint64_t oldBytes = CountedStringBlockBytes(Length(s));
  if (newBytes != oldBytes) {
    void* block = oldBytes ? std::realloc(s, newBytes) : std::malloc(newBytes);
    s = static_cast<CountedString>(block);
  }
  s->text[length] = 0;
  s->length = length;
  return true;
}

CountedString FromAnsi(LPCSTR text) {
  const int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
  if (units <= 1) return nullptr;
  CountedString s = nullptr;
  Resize(s, static_cast<uint64_t>(units - 1));
  // A failed conversion would leave the block's text undefined: the result is then empty.
  if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, s->text, units) != units) Release(s);
  return s;
}

CountedString& Assign(CountedString& s, LPCWSTR text) {
  const uint64_t n = TextLength(text);
  if (n == 0) {
    Release(s);
    return s;
  }
  Resize(s, n);
  std::memcpy(s->text, text, n * sizeof(WCHAR));
  return s;
}

CountedString& Assign(CountedString& s, const CountedString& other) {
  if (&other == &s || other == s) return s;
  if (!other) {
    Release(s);
    return s;
  }
  const uint64_t n = other->length;
  Resize(s, n);
  std::memcpy(s->text, other->text, n * sizeof(WCHAR));
  return s;
}

CountedString& Append(CountedString& s, LPCWSTR text) {
  const uint64_t n = TextLength(text);
  if (n == 0) return s;
  const uint64_t old = Length(s);
  Resize(s, old + n);
  std::memcpy(s->text + old, text, n * sizeof(WCHAR));
  return s;
}

CountedString& Append(CountedString& s, const CountedString& other) {
  if (!other) return s;
  if (other == s) {  // appending a string to itself: copy first, the block may move
    CountedString copy = Copy(other);
    Append(s, Text(copy));
    Release(copy);
    return s;
  }
  return Append(s, Text(other));
}

CountedString ParentFolder(const CountedString& s) {
  if (!s) return nullptr;
  int64_t found = -1;
  for (uint64_t i = 0; i < s->length; ++i)
    if (s->text[i] == TEXT('\\')) found = static_cast<int64_t>(i);
  if (found < 0)
    for (uint64_t i = 0; i < s->length; ++i)
      if (s->text[i] == TEXT('/')) found = static_cast<int64_t>(i);
  if (found <= 0) return nullptr;
  CountedString parent = nullptr;
  Resize(parent, static_cast<uint64_t>(found));
  std::memcpy(parent->text, s->text, static_cast<size_t>(found) * sizeof(WCHAR));
  return parent;
}

CountedString Copy(const CountedString& s) {
  if (!s) return nullptr;
  const uint64_t bytes = CountedStringBlockBytes(s->length);
  CountedString copy = static_cast<CountedString>(std::malloc(bytes));
  std::memcpy(copy, s, bytes);
  return copy;
}

void DropTrailingSeparator(CountedString& s) {
  if (s && IsSeparator(s->text[s->length - 1])) Resize(s, s->length - 1);
}

void AddTrailingSeparator(CountedString& s) {
  if (!s || IsSeparator(s->text[s->length - 1])) return;
  Resize(s, s->length + 1);
  s->text[s->length - 1] = TEXT('\\');
}

void Release(CountedString& s) {
  std::free(s);
  s = nullptr;
}
