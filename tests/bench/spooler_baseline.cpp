// The baseline for the installer's timings under Wine: a Windows program that makes only the
// spooler's query calls of a run (monitors, drivers of both platforms, the driver folder, the
// printers with their level-2 records and their "SubKey" data, the default printer), and nothing
// else: no file copies, no service control, no registrations. The difference to install.exe is
// the cost of the installer's own work.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <vector>

namespace {
template <typename Call>
std::vector<BYTE> Fetch(Call call) {
  DWORD needed = 0;
  call(nullptr, 0, &needed);
  std::vector<BYTE> block(needed ? needed : 1);
  if (!call(block.data(), needed, &needed)) block.clear();
  return block;
}
}  // namespace

int wmain() {
  DWORD count = 0;
  Fetch([&](LPBYTE b, DWORD s, LPDWORD n) { return EnumMonitorsW(nullptr, 2, b, s, n, &count); });
  for (LPCWSTR environment : {L"Windows x64", L"Windows NT x86"}) {
    Fetch([&](LPBYTE b, DWORD s, LPDWORD n) {
      return EnumPrinterDriversW(nullptr, const_cast<LPWSTR>(environment), 6, b, s, n, &count);
    });
    Fetch([&](LPBYTE b, DWORD s, LPDWORD n) {
      return GetPrinterDriverDirectoryW(nullptr, const_cast<LPWSTR>(environment), 1, b, s, n);
    });
  }
  DWORD printers = 0;
  std::vector<BYTE> inventory = Fetch([&](LPBYTE b, DWORD s, LPDWORD n) {
    return EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, b, s, n, &printers);
  });
  if (inventory.empty()) printers = 0;
  const PRINTER_INFO_2W* entries = reinterpret_cast<const PRINTER_INFO_2W*>(inventory.data());
  for (DWORD i = 0; i < printers; ++i) {
    HANDLE printer = nullptr;
    if (!OpenPrinterW(entries[i].pPrinterName, &printer, nullptr)) continue;
    char key[64];
    DWORD type = 0, needed = 0;
    GetPrinterDataA(printer, const_cast<LPSTR>("SubKey"), &type, reinterpret_cast<LPBYTE>(key), sizeof(key), &needed);
    Fetch([&](LPBYTE b, DWORD s, LPDWORD n) { return GetPrinterW(printer, 2, b, s, n); });
    ClosePrinter(printer);
  }
  WCHAR name[256];
  DWORD size = 255;
  GetDefaultPrinterW(name, &size);
  std::printf("printers %lu\n", static_cast<unsigned long>(printers));
  return 0;
}
