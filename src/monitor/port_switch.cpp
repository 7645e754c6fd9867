#include "monitor/port_switch.h"

#include <cstring>

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "printers/printer_inventory.h"
#include "support/ascii_text.h"

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

// Opens the printer that a switched inventory record names and writes the whole level-2 record,
// port text included, back to the spooler; logs the outcome with informative lines.
void WritePrinterRecord(InstallerState* state, PRINTER_INFO_2W* record) {
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE printer = nullptr;
  if (!OpenPrinterW(record->pPrinterName, &printer, &defaults) || !printer) {
    LogLine(state, TEXT("Can't open printer %s"), record->pPrinterName);
    return;
  }
  if (SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(record), 0))
    LogLine(state, TEXT("SetPrinter(%s) - ok"), record->pPrinterName);
  else
    LogLine(state, TEXT("SetPrinter(%s) - failed"), record->pPrinterName);
  ClosePrinter(printer);
}
}  // namespace

bool SwitchPortToFile(LPWSTR port, RepointedPort* switched) {
  if (!port) return false;
  const DWORD length = TextLength(port);
  for (DWORD start = 0; start <= length;) {
    DWORD end = start;
    while (end < length && port[end] != TEXT(',')) ++end;
    DWORD first = start;
    DWORD last = end;
    while (first < last && port[first] == TEXT(' ')) ++first;
    while (last > first && port[last - 1] == TEXT(' ')) --last;
    if (last - first == kProductPortLength && EqualsAsciiNoCase(port + first, PRODUCT_MONITOR_NAME, kProductPortLength)) {
      for (DWORD i = 0; i < kProductPortLength; ++i) switched->spelling[i] = port[first + i];
      for (DWORD i = 0; i < kFilePortLength; ++i) port[first + i] = kFilePort[i];
      // Moving the tail left, terminator included: a forward copy never reads what it wrote.
      for (DWORD from = first + kProductPortLength, to = first + kFilePortLength; from <= length; ++from, ++to)
        port[to] = port[from];
      switched->offset = first;
      switched->room = length + 1;
      return true;
    }
    start = end + 1;
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
  const WCHAR* product = switched.spelling[0] ? switched.spelling : PRODUCT_MONITOR_NAME;
  for (DWORD i = 0; i < kProductPortLength; ++i) port[switched.offset + i] = product[i];
  return true;
}

void FreeSwitchedPrinters(InstallerState* state) {
  if (state->repointedPrinters) GlobalFree(state->repointedPrinters);
  state->repointedPrinters = nullptr;
}

void SwitchPrintersToFile(InstallerState* state) {
  FreeSwitchedPrinters(state);
  const DWORD count = state->printers.entries ? state->printers.count : 0;
  if (count == 0) return;

  const SIZE_T bytes = (count + 1) * sizeof(SwitchedPrinter);
  SwitchedPrinter* switched = static_cast<SwitchedPrinter*>(GlobalAlloc(GMEM_FIXED, bytes));
  if (!switched) {
    // Without the list the printers could never be moved back: leave them on the product port.
    LogLine(state, TEXT("Can't allocate the list of switched printers: printers stay on %s"), PRODUCT_MONITOR_NAME);
    return;
  }
  std::memset(switched, 0, bytes);
  state->repointedPrinters = switched;

  DWORD recorded = 0;
  for (DWORD i = 0; i < count; ++i) {
    PRINTER_INFO_2W* record = &state->printers.entries[i];
    // A connection's port is its server's: repointing it through its handle would change the
    // server's queue for every user of that server.
    if (IsPrinterConnection(record)) continue;
    RepointedPort port = {0, 0, {0}};
    if (!SwitchPortToFile(record->pPortName, &port)) continue;
    switched[recorded].record = record;
    switched[recorded].port = port;
    ++recorded;
    WritePrinterRecord(state, record);
  }
}

void SwitchPrintersBack(InstallerState* state) {
  for (SwitchedPrinter* item = state->repointedPrinters; item && item->record; ++item) {
    if (!SwitchPortBack(item->record->pPortName, item->port)) continue;
    WritePrinterRecord(state, item->record);
  }
}
