// The baseline for the installer's timings under Wine: a Windows program that makes the spooler
// calls of a run and nothing else: the queries (monitors, drivers and driver folder of both
// platforms, the printers with their level-2 records and "SubKey" data, the default printer), and
// the calls that change the machine, in the installer's order:
//   spooler_baseline install <app folder>   the monitor module copied to the system folder and
//                                           registered, both drivers added with their files, the
//                                           printer "mblServer" added on the product port
//   spooler_baseline uninstall              the product's printers deleted, both drivers deleted
//                                           with their files, the monitor deleted with its module
//   spooler_baseline reinstall <app folder> the printers and drivers deleted and added again,
//                                           the registered monitor kept (as a compatible one is)
//   spooler_baseline                        the queries only
// No log, no dialog, no companion, no service control, no waits: the difference to install.exe
// is the cost of the installer's own work.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {
const wchar_t kDriver[] = L"Marbleleaf Server";
const wchar_t kMonitor[] = L"MarbleleafServer:";

template <typename Call>
std::vector<BYTE> Fetch(Call call) {
  DWORD needed = 0;
  call(nullptr, 0, &needed);
  std::vector<BYTE> block(needed ? needed : 1);
  if (!call(block.data(), needed, &needed)) block.clear();
  return block;
}

// The queries of a run; returns the product's printers.
std::vector<std::wstring> Query() {
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
  std::vector<std::wstring> product;
  const PRINTER_INFO_2W* entries = reinterpret_cast<const PRINTER_INFO_2W*>(inventory.data());
  for (DWORD i = 0; i < printers; ++i) {
    if (entries[i].pDriverName && lstrcmpiW(entries[i].pDriverName, kDriver) == 0)
      product.push_back(entries[i].pPrinterName);
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
  return product;
}

int failures = 0;
void Check(BOOL ok, const char* what) {
  if (ok) return;
  std::printf("%s failed: %lu\n", what, GetLastError());
  ++failures;
}

std::wstring SystemFolder() {
  WCHAR folder[MAX_PATH];
  GetSystemDirectoryW(folder, MAX_PATH);
  return folder;
}

void AddDriversAndPrinter(const std::wstring& app);

void Install(const std::wstring& app) {
  Check(CopyFileW((app + L"\\mlxmon64.dll").c_str(), (SystemFolder() + L"\\mlxmon64.dll").c_str(), FALSE),
        "CopyFileW");
  MONITOR_INFO_2W monitor = {};
  monitor.pName = const_cast<LPWSTR>(kMonitor);
  monitor.pEnvironment = const_cast<LPWSTR>(L"Windows x64");
  monitor.pDLLName = const_cast<LPWSTR>(L"mlxmon64.dll");
  Check(AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&monitor)), "AddMonitorW");
  AddDriversAndPrinter(app);
}

void AddDriversAndPrinter(const std::wstring& app) {
  for (bool x64 : {true, false}) {
    std::wstring suffix = x64 ? L"64.dll" : L"32.dll";
    std::wstring driver = app + L"\\mlxdrv" + suffix, ui = app + L"\\mlxui" + suffix, help = app + L"\\mlxhelp.chm";
    DRIVER_INFO_6W info = {};
    info.cVersion = 3;
    info.pName = const_cast<LPWSTR>(kDriver);
    info.pEnvironment = const_cast<LPWSTR>(x64 ? L"Windows x64" : L"Windows NT x86");
    info.pDriverPath = &driver[0];
    info.pDataFile = &driver[0];
    info.pConfigFile = &ui[0];
    info.pHelpFile = &help[0];
    Check(AddPrinterDriverExW(nullptr, 6, reinterpret_cast<LPBYTE>(&info), APD_COPY_ALL_FILES),
          "AddPrinterDriverExW");
  }
  PRINTER_INFO_2W printer = {};
  printer.pPrinterName = const_cast<LPWSTR>(L"mblServer");
  printer.pShareName = const_cast<LPWSTR>(L"mblServer");
  printer.pPortName = const_cast<LPWSTR>(kMonitor);
  printer.pDriverName = const_cast<LPWSTR>(kDriver);
  printer.pPrintProcessor = const_cast<LPWSTR>(L"WinPrint");
  printer.Attributes = PRINTER_ATTRIBUTE_SHARED;
  HANDLE handle = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&printer));
  Check(handle != nullptr, "AddPrinterW");
  if (handle) ClosePrinter(handle);
}

void DeletePrintersAndDrivers(const std::vector<std::wstring>& printers) {
  for (const std::wstring& name : printers) {
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    Check(OpenPrinterW(const_cast<LPWSTR>(name.c_str()), &printer, &access), "OpenPrinterW");
    if (!printer) continue;
    Check(DeletePrinter(printer), "DeletePrinter");
    ClosePrinter(printer);
  }
  for (LPCWSTR environment : {L"Windows x64", L"Windows NT x86"})
    Check(DeletePrinterDriverExW(nullptr, const_cast<LPWSTR>(environment), const_cast<LPWSTR>(kDriver),
                                 DPD_DELETE_ALL_FILES, 0),
          "DeletePrinterDriverExW");
}

void Uninstall(const std::vector<std::wstring>& printers) {
  DeletePrintersAndDrivers(printers);
  Check(DeleteMonitorW(nullptr, const_cast<LPWSTR>(L"Windows x64"), const_cast<LPWSTR>(kMonitor)), "DeleteMonitorW");
  Check(DeleteFileW((SystemFolder() + L"\\mlxmon64.dll").c_str()), "DeleteFileW");
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring mode = argc > 1 ? argv[1] : L"";
  std::vector<std::wstring> product = Query();
  if (mode == L"install" && argc == 3) {
    Install(argv[2]);
  } else if (mode == L"uninstall") {
    Uninstall(product);
  } else if (mode == L"reinstall" && argc == 3) {
    DeletePrintersAndDrivers(product);
    AddDriversAndPrinter(argv[2]);
  } else if (!mode.empty()) {
    std::printf("usage: spooler_baseline [install <app folder> | reinstall <app folder> | uninstall]\n");
    return 2;
  }
  std::printf("product printers %u, failures %d\n", static_cast<unsigned>(product.size()), failures);
  return failures == 0 ? 0 : 1;
}
