// A table from exact names (the strings are the caller's, not copied) to items, so that finding
// one of n names costs the same whatever n is.
#pragma once
#include <cstddef>

#include "platform/win32.h"

struct NameIndexSlot {
  LPCWSTR name;  // null: free
  void* item;
};

struct NameIndex {
  NameIndexSlot* slots;  // C heap; null until the first name
  size_t capacity;       // a power of two, or 0
  size_t used;
  bool incomplete;       // a name could not be added for want of memory: the caller scans instead
};

// Files the item under the name; an item already filed under it is replaced. A null name is not
// filed. False, with `incomplete` set, when the table could not grow.
bool PutName(NameIndex* index, LPCWSTR name, void* item);
// The item filed under exactly this name (code unit by code unit), or null.
void* FindName(const NameIndex* index, LPCWSTR name);
void FreeNameIndex(NameIndex* index);
