// Calls that older Windows lack, found at run time so that the program still starts there.
#pragma once
#include "platform/win32.h"

// The export, or null when the module lacks it.
FARPROC FindExportAddress(HMODULE module, const char* name);

// The same as a pointer of the caller's type; false when the module lacks the export.
template <typename Function>
bool FindExport(HMODULE module, const char* name, Function* function) {
  // Through void (*)(): a cast between unrelated function types would be warned about.
  *function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(FindExportAddress(module, name)));
  return *function != nullptr;
}
