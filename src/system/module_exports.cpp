#include "system/module_exports.h"

FARPROC FindExportAddress(HMODULE module, const char* name) { return GetProcAddress(module, name); }
