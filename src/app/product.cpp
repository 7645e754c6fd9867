#include "app/product.h"

namespace {
// Equal over the 17 characters of a product name and its terminator.
bool EqualsProductName(LPCWSTR name, LPCWSTR productName) {
  if (!name) return false;
  for (int i = 0; i < 18; ++i) {
    if (name[i] != productName[i]) return false;
    if (name[i] == 0) return true;
  }
  return true;
}
}  // namespace

bool IsProductDriverName(LPCWSTR name) { return EqualsProductName(name, PRODUCT_DRIVER_NAME); }
bool IsProductMonitorName(LPCWSTR name) { return EqualsProductName(name, PRODUCT_MONITOR_NAME); }
