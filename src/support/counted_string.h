// CountedString: one C-heap block holding a 64-bit length, UTF-16 text and a terminator, with the
// capacity in steps of 32 code units so that appending line after line reallocates rarely.
// A null pointer is the empty string; there is no other empty representation.
#pragma once
#include <cstdint>
#include "platform/win32.h"

struct CountedStringBlock;
typedef CountedStringBlock* CountedString;

uint64_t Length(const CountedString& s);
LPCWSTR Text(const CountedString& s);
bool Resize(CountedString& s, uint64_t length);
CountedString FromAnsi(LPCSTR text);
CountedString& Assign(CountedString& s, LPCWSTR text);
CountedString& Assign(CountedString& s, const CountedString& other);
CountedString& Append(CountedString& s, LPCWSTR text);
CountedString& Append(CountedString& s, const CountedString& other);
CountedString ParentFolder(const CountedString& s);
CountedString Copy(const CountedString& s);
void DropTrailingSeparator(CountedString& s);
void AddTrailingSeparator(CountedString& s);
void Release(CountedString& s);
