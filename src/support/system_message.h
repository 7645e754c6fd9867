// The system's own text for an error code, as FormatMessageW gives it.
#pragma once
#include "platform/win32.h"

// The English (United States) text of `code`, line break included, in a block the caller frees
// with LocalFree; null when Windows has none.
LPWSTR SystemMessage(DWORD code);
