#include "printers/printer_inventory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "support/ascii_text.h"
#include "support/size_then_fill.h"

namespace {
// The spooler is offered 64 bytes for a settings key name: 63 characters and the terminator.
const DWORD kSettingsKeyBytes = 64;
const DWORD kInventorySlack = 32;

// A read of "SubKey" counts only as a REG_SZ whose text ends within what was read. Printer data is
// outside input: a value of exactly 64 bytes with no terminator, or one shorter than what an
// earlier read left in the buffer, must not turn into a longer name.
bool TakeSettingsKey(DWORD status, DWORD type, LPSTR out, DWORD needed) {
  if (status != ERROR_SUCCESS || type != REG_SZ) return false;
  const DWORD read = needed < kSettingsKeyBytes ? needed : kSettingsKeyBytes;
  if (std::memchr(out, 0, read)) return true;
  if (read == kSettingsKeyBytes) return false;
  out[read] = 0;
  return true;
}
}  // namespace

void ReleasePrinterInventory(PrinterInventory* inventory) {
  if (inventory->entries) GlobalFree(inventory->entries);
  inventory->entries = nullptr;
  inventory->count = 0;
}

void EnumerateLocalPrinters(PrinterInventory* inventory) {
  ReleasePrinterInventory(inventory);
  DWORD count = 0;
  // The block is a little larger than the spooler asks for, but the spooler is told the size it
  // reported.
  LPBYTE block = FetchBlock(
      [&count](LPBYTE buffer, DWORD size, LPDWORD needed) {
        return EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, buffer, size, needed,
                             &count) != FALSE;
      },
      kInventorySlack);
  if (!block) return;
  inventory->entries = reinterpret_cast<PRINTER_INFO_2W*>(block);
  inventory->count = count;
}

PrinterInfo2Result GetPrinterInfo2(HANDLE printer) {
  PrinterInfo2Result result = {nullptr, 0};
  result.info = reinterpret_cast<PRINTER_INFO_2W*>(FetchBlock(
      [printer](LPBYTE buffer, DWORD size, LPDWORD needed) {
        return GetPrinterW(printer, 2, buffer, size, needed) != FALSE;
      },
      0, &result.needed));
  return result;
}

DWORD ReadSettingsKey(HANDLE printer, LPSTR out) {
  char valueName[] = "SubKey";
  DWORD type = 0;
  DWORD needed = 0;
  DWORD status = GetPrinterDataA(printer, valueName, &type, reinterpret_cast<LPBYTE>(out), kSettingsKeyBytes,
                                 &needed);
  if (TakeSettingsKey(status, type, out, needed)) return status;
  type = 0;
  needed = 0;
  status = GetPrinterDataExA(printer, "DsUser", valueName, &type, reinterpret_cast<LPBYTE>(out), kSettingsKeyBytes,
                             &needed);
  if (!TakeSettingsKey(status, type, out, needed)) out[0] = 0;
  return status;
}

void SavePrinterSettingsKey(InstallerState* state, PRINTER_INFO_2W* entry) {
  char key[260] = {0};
  HANDLE printer = nullptr;
  if (!OpenPrinterW(entry->pPrinterName, &printer, nullptr) || !printer) return;
  ReadSettingsKey(printer, key);
  if (key[0]) PushSavedPrinter(state, key, entry);
  ClosePrinter(printer);
}

PRINTER_INFO_2W* FindInventoryPrinter(const PrinterInventory* inventory, LPCWSTR name) {
  for (DWORD i = 0; inventory->entries && i < inventory->count; ++i)
    if (EqualsExactly(inventory->entries[i].pPrinterName, name)) return &inventory->entries[i];
  return nullptr;
}

void IndexInventory(const PrinterInventory* inventory, NameIndex* index) {
  // From the last entry to the first, so that the first of a name is the one filed.
  for (DWORD i = inventory->entries ? inventory->count : 0; i > 0; --i)
    if (!PutName(index, inventory->entries[i - 1].pPrinterName, &inventory->entries[i - 1])) return;
}

// Either sign is decisive: Windows marks connections PRINTER_ATTRIBUTE_NETWORK, and only a
// connection is named "\\server\queue" (a backslash is not allowed in a local printer's name).
// A printer of this machine that it shares is PRINTER_ATTRIBUTE_SHARED, never NETWORK, and keeps
// its plain name.
bool IsPrinterConnection(const PRINTER_INFO_2W* entry) {
  if (entry->Attributes & PRINTER_ATTRIBUTE_NETWORK) return true;
  const LPCWSTR name = entry->pPrinterName;
  return name && name[0] == TEXT('\\') && name[1] == TEXT('\\');
}

bool WriteSettingsKey(HANDLE printer, LPCSTR settingsKey) {
  // Without a name there is nothing to write; a null block with a length would be refused anyway.
  if (!settingsKey) return false;
  char valueName[] = "SubKey";
  const DWORD bytes = static_cast<DWORD>(std::strlen(settingsKey) + 1);
  LPBYTE data = reinterpret_cast<LPBYTE>(const_cast<LPSTR>(settingsKey));
  SetPrinterDataA(printer, valueName, REG_SZ, data, bytes);
  return SetPrinterDataExA(printer, "DsUser", valueName, REG_SZ, data, bytes) == ERROR_SUCCESS;
}

bool ClearDeletedMark(HKEY userRoot, LPCSTR relativePath) {
  if (!relativePath) return false;
  const size_t bytes = sizeof(PRODUCT_VENDOR_KEY) + 1 + std::strlen(relativePath);  // root, separator, path, terminator
  char* path = static_cast<char*>(std::malloc(bytes));
  if (!path) return false;
  std::snprintf(path, bytes, "%s\\%s", PRODUCT_VENDOR_KEY, relativePath);
  HKEY key = nullptr;
  const LSTATUS opened = RegOpenKeyExA(userRoot, path, 0, KEY_ALL_ACCESS, &key);
  std::free(path);
  if (opened != ERROR_SUCCESS) return false;
  const LSTATUS deleted = RegDeleteValueA(key, "deleted");
  RegCloseKey(key);
  return deleted == ERROR_SUCCESS;
}
