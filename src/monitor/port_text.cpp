#include "monitor/port_text.h"

#include "app/product.h"

namespace {
const DWORD kProductPortLength = kProductNameLength;
const DWORD kFilePortLength = 5;      // "file:"
const WCHAR kFilePort[] = TEXT("file:");

DWORD TextLength(LPCWSTR text) {
  DWORD length = 0;
  while (text[length]) ++length;
  return length;
}

bool HoldsAt(LPCWSTR text, DWORD offset, LPCWSTR part, DWORD partLength) {
  for (DWORD i = 0; i < partLength; ++i)
    if (text[offset + i] != part[i]) return false;
  return true;
}
}  // namespace

bool SwitchPortToFile(LPWSTR port, RepointedPort* switched) {
  if (!port) return false;
  const DWORD length = TextLength(port);
  if (length < kProductPortLength) return false;
  for (DWORD at = 0; at + kProductPortLength <= length; ++at) {
    if (!HoldsAt(port, at, PRODUCT_MONITOR_NAME, kProductPortLength)) continue;
    for (DWORD i = 0; i < kFilePortLength; ++i) port[at + i] = kFilePort[i];
    // Moving the tail left, terminator included: a forward copy never reads what it wrote.
    for (DWORD from = at + kProductPortLength, to = at + kFilePortLength; from <= length; ++from, ++to)
      port[to] = port[from];
    switched->offset = at;
    switched->room = length + 1;
    return true;
  }
  return false;
}

bool SwitchPortBack(LPWSTR port, const RepointedPort& switched) {
  if (!port) return false;
  const DWORD length = TextLength(port);
  const DWORD growth = kProductPortLength - kFilePortLength;
  if (switched.offset > length || length - switched.offset < kFilePortLength) return false;
  if (!HoldsAt(port, switched.offset, kFilePort, kFilePortLength)) return false;
  if (switched.room < growth + 1 || length > switched.room - growth - 1) return false;
  // Moving the tail right, terminator included: copy from its end.
  for (DWORD from = length + 1, to = length + 1 + growth; from > switched.offset + kFilePortLength;) {
    --from;
    --to;
    port[to] = port[from];
  }
  const WCHAR* product = PRODUCT_MONITOR_NAME;
  for (DWORD i = 0; i < kProductPortLength; ++i) port[switched.offset + i] = product[i];
  return true;
}
