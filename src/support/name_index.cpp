#include "support/name_index.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "support/ascii_text.h"

namespace {
size_t HashUnits(LPCWSTR name) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (; *name; ++name) {
    hash ^= static_cast<uint16_t>(*name);
    hash *= 1099511628211ull;
  }
  return static_cast<size_t>(hash ^ (hash >> 32));
}

NameIndexSlot* SlotFor(NameIndexSlot* slots, size_t capacity, LPCWSTR name) {
  size_t at = HashUnits(name) & (capacity - 1);
  while (slots[at].name && !EqualsExactly(slots[at].name, name)) at = (at + 1) & (capacity - 1);
  return &slots[at];
}

bool Grow(NameIndex* index) {
  const size_t capacity = index->capacity ? index->capacity * 2 : 64;
  NameIndexSlot* slots = static_cast<NameIndexSlot*>(std::calloc(capacity, sizeof(NameIndexSlot)));
  if (!slots) return false;
  for (size_t i = 0; i < index->capacity; ++i)
    if (index->slots[i].name) *SlotFor(slots, capacity, index->slots[i].name) = index->slots[i];
  std::free(index->slots);
  index->slots = slots;
  index->capacity = capacity;
  return true;
}
}  // namespace

bool PutName(NameIndex* index, LPCWSTR name, void* item) {
  if (!name) return true;
  // At most half full, so that a probe ends soon.
  if ((index->used + 1) * 2 > index->capacity && !Grow(index)) {
    index->incomplete = true;
    return false;
  }
  NameIndexSlot* slot = SlotFor(index->slots, index->capacity, name);
  if (!slot->name) ++index->used;
  slot->name = name;
  slot->item = item;
  return true;
}

void* FindName(const NameIndex* index, LPCWSTR name) {
  if (!name || !index->slots) return nullptr;
  return SlotFor(index->slots, index->capacity, name)->item;
}

void FreeNameIndex(NameIndex* index) {
  std::free(index->slots);
  std::memset(index, 0, sizeof(*index));
}
