// The setup program's questions, answered through the exit code, and the default printer.
// Nothing here logs; every failure turns into the probe's answer.
#include "probes/probes.h"

#include <cstring>

#include "app/product.h"
#include "app/product_files.h"
#include "printers/printer_inventory.h"
#include "printers/printer_removal.h"
#include "support/ascii_text.h"
#include "support/size_then_fill.h"
#include "system/file_copy.h"
#include "system/pending_renames.h"
#include "system/spooler_service.h"

namespace {
// A product x64 module in the product's folders.
bool NamesProductModule(const ProductFiles* files, LPCWSTR path) {
  if (!IsProductFile(files, path)) return false;
  LPCWSTR name = path;
  for (LPCWSTR p = path; *p; ++p)
    if (*p == TEXT('\\')) name = p + 1;
  for (const ProductModule& module : kProductModules)
    if (module.platform == kPlatformX64 && module.role != kHelpFile && EqualsAsciiNoCase(name, module.fileName))
      return true;
  return false;
}

// Carries out the pending deletes of product files that it can, and takes them out of the values;
// then looks for an existing product module still named as the source of a pending operation.
bool PendingProductModuleRemains(const ProductFiles* files) {
  bool hit = false;
  for (LPCWSTR valueName : kPendingValues) {
    PendingRenameTable table;
    ReadPendingRenames(&table, valueName);
    MarkProductDeletes(&table, files, false);
    PurgePendingDeletes(&table);
    TakeOutPendingDeletes(nullptr, &table, false);
    for (int k = 0; k < table.pairCount; ++k) {
      const PendingPair& pair = table.pairs[k];
      if (pair.sourceIsFile && NamesProductModule(files, PendingDrivePath(pair.source))) hit = true;
    }
    FreePendingRenames(&table);
  }
  return hit;
}

// The first product printer of this machine: a connection would lead the probes to another
// machine's queue, which may not answer, and is not this machine's printer to make the default.
PRINTER_INFO_2W* FirstProductPrinter(const PrinterInventory& inventory) {
  for (DWORD i = 0; i < inventory.count; ++i) {
    PRINTER_INFO_2W* entry = &inventory.entries[i];
    if (IsProductDriverName(entry->pDriverName) && !IsPrinterConnection(entry)) return entry;
  }
  return nullptr;
}

DRIVER_INFO_2W* GetDriverInfo2(HANDLE printer) {
  // The size is asked for x64; the fill names no environment, which is the local machine's own:
  // the x64 one where the installer runs.
  LPWSTR x64 = const_cast<LPWSTR>(EnvironmentName(kPlatformX64));
  return reinterpret_cast<DRIVER_INFO_2W*>(FetchBlock([printer, x64](LPBYTE buffer, DWORD size, DWORD* needed) {
    return GetPrinterDriverW(printer, buffer ? nullptr : x64, 2, buffer, size, needed) != FALSE;
  }));
}
}  // namespace

bool ProbePendingProductFiles() {
  ProductFiles files;
  FindProductFilesOfThisProcess(&files);
  bool remains = true;
  for (int pass = 0; pass < 2 && remains; ++pass) {
    remains = PendingProductModuleRemains(&files);
    if (!remains) break;
    // A fresh spooler releases the modules it held; the second pass sees what is left.
    RestartSpooler(nullptr);
  }
  ReleaseProductFiles(&files);
  return remains;
}

bool ProbeDefaultPrinterIsOther() {
  WCHAR name[260];
  std::memset(name, 0, sizeof(name));
  DWORD capacity = 260;
  GetDefaultPrinterW(name, &capacity);
  if (name[0] == 0) return true;
  HANDLE printer = nullptr;
  if (!OpenPrinterW(name, &printer, nullptr)) return true;
  PrinterInfo2Result result = GetPrinterInfo2(printer);
  const bool other = !(result.info && IsProductDriverName(result.info->pDriverName));
  ClosePrinterHandle(printer);
  if (result.info) GlobalFree(result.info);
  return other;
}

bool ProbeDriverCurrent() {
  PrinterInventory inventory = {nullptr, 0};
  EnumerateLocalPrinters(&inventory);
  bool current = false;
  PRINTER_INFO_2W* entry = FirstProductPrinter(inventory);
  HANDLE printer = nullptr;
  if (entry && OpenPrinterW(entry->pPrinterName, &printer, nullptr)) {
    DRIVER_INFO_2W* driver = GetDriverInfo2(printer);
    // Compared as a signed number: a module without a version (-1) is not current.
    if (driver && driver->pDriverPath) current = GetFileBuildNumber(driver->pDriverPath) >= kOldestCompatibleBuild;
    ClosePrinterHandle(printer);
    if (driver) GlobalFree(driver);
  }
  ReleasePrinterInventory(&inventory);
  return current;
}

void SetDefaultToProductPrinter() {
  PrinterInventory inventory = {nullptr, 0};
  EnumerateLocalPrinters(&inventory);
  if (PRINTER_INFO_2W* entry = FirstProductPrinter(inventory)) SetDefaultPrinterW(entry->pPrinterName);
  ReleasePrinterInventory(&inventory);
}
