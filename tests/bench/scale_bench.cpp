// Scale benchmark: reinstall and uninstall on a machine with N printers, a tenth of them printers
// of the product with a settings key. Built without sanitizers (preset "bench"); scripts/bench
// runs it under callgrind and prints the table.
//   scale_bench <printers> <reinstall|uninstall>
// Prints one line: printers, operation, exit code, virtual time waited (ms), wall time (ms), heap
// bytes at the run's high-water mark above its start, heap blocks allocated during the run, the
// product printers left and a digest of the machine the run left.
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "app/dispatcher.h"
#include "winsim/machine.h"

// The whole process heap, counted: the high-water mark of the bytes in use during the run.
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);

namespace {
long long heapInUse = 0;
long long heapPeak = 0;
long long heapAllocations = 0;

void Count(void* block, long long sign) {
  if (!block) return;
  heapInUse += sign * static_cast<long long>(malloc_usable_size(block));
  if (heapInUse > heapPeak) heapPeak = heapInUse;
  if (sign > 0) ++heapAllocations;
}
}  // namespace

extern "C" void* malloc(size_t size) {
  void* block = __libc_malloc(size);
  Count(block, 1);
  return block;
}
extern "C" void* calloc(size_t count, size_t size) {
  void* block = __libc_calloc(count, size);
  Count(block, 1);
  return block;
}
extern "C" void* realloc(void* old, size_t size) {
  Count(old, -1);
  void* block = __libc_realloc(old, size);
  Count(block ? block : old, 1);
  return block;
}
extern "C" void free(void* block) {
  Count(block, -1);
  __libc_free(block);
}

namespace {
const char16_t* const kApp = u"C:\\Program Files\\Marbleleaf\\app\\";
const char16_t* const kDriver = u"Marbleleaf Server";
const char16_t* const kPort = u"MarbleleafServer:";

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

int Run(const std::u16string& verb) {
  winsim::M().commandLine = u"\"" + winsim::M().modulePath + u"\" " + verb;
  return RunInstaller(nullptr);
}

// The product installed from its setup folder, then `printers` printers.
void Prepare(int printers) {
  winsim::Reset();
  winsim::M().modulePath = std::u16string(kApp) + u"install.exe";
  winsim::PutFile(winsim::M().modulePath, "installer");
  for (const char16_t* module : {u"mlxmon64.dll", u"mlxdrv64.dll", u"mlxui64.dll", u"mlxmon32.dll", u"mlxdrv32.dll",
                                 u"mlxui32.dll"}) {
    winsim::PutFile(std::u16string(kApp) + module, "module", winsim::Build(2093));
  }
  winsim::PutFile(std::u16string(kApp) + u"mlxhelp.chm", "help");
  winsim::InstallTrayProgram(u"C:\\Program Files\\Marbleleaf\\mbltray.exe");
  if (Run(u"install") != 1) {
    std::fprintf(stderr, "scale_bench: the first installation failed\n");
    std::exit(1);
  }
  for (int i = 0; i < printers; ++i) {
    const std::string number = std::to_string(i);
    if (i % 10 == 0) {
      winsim::PrinterEntry& printer = winsim::PutPrinter(u"Marbleleaf " + Wide(number), kDriver, kPort);
      const std::string key = "printer" + number;
      winsim::SetPrinterDataString(printer, "", "SubKey", key);
      winsim::SetRegValue(HKEY_CURRENT_USER, "Software\\Orvanel Software KFT\\Marbleleaf\\Marbleleafs\\" + key,
                          u"paper", REG_DWORD, {9, 0, 0, 0});
    } else {
      winsim::PutPrinter(u"Office printer " + Wide(number), u"Other Driver", u"LPT1:");
    }
  }
}

// A digest of what the run leaves on the machine: the printers in enumeration order with their
// records and data, the registry, the files and the default printer. Two builds that leave the
// same machine print the same digest.
struct Digest {
  uint64_t value = 14695981039346656037ull;
  void Add(const void* data, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
      value ^= static_cast<const uint8_t*>(data)[i];
      value *= 1099511628211ull;
    }
    value ^= bytes;
    value *= 1099511628211ull;
  }
  void Add(const std::u16string& text) { Add(text.data(), text.size() * sizeof(char16_t)); }
  void Add(const std::string& text) { Add(text.data(), text.size()); }
  void Add(const std::optional<std::u16string>& text) { text ? Add(*text) : Add(std::string("(null)")); }
  void Add(DWORD value) { Add(&value, sizeof(value)); }
};

uint64_t MachineDigest() {
  Digest digest;
  for (const winsim::PrinterEntry& printer : winsim::M().spooler.printers) {
    for (const std::u16string* text : {&printer.name, &printer.portName, &printer.driverName, &printer.printProcessor})
      digest.Add(*text);
    for (const auto* text : {&printer.shareName, &printer.comment, &printer.location, &printer.sepFile,
                             &printer.parameters, &printer.datatype})
      digest.Add(*text);
    digest.Add(printer.attributes);
    for (const auto& key : printer.data)
      for (const auto& value : key.second) {
        digest.Add(key.first);
        digest.Add(value.first);
        digest.Add(value.second.type);
        digest.Add(value.second.data.data(), value.second.data.size());
      }
  }
  digest.Add(winsim::M().spooler.defaultPrinter);
  for (const auto& key : winsim::M().registry.keys) {
    digest.Add(key.first);
    for (const auto& value : key.second.values) {
      digest.Add(value.second.name);
      digest.Add(value.second.type);
      digest.Add(value.second.data.data(), value.second.data.size());
    }
  }
  for (const auto& file : winsim::M().files.entries) {
    digest.Add(file.first);
    digest.Add(file.second.attributes);
    digest.Add(file.second.content.data(), file.second.content.size());
  }
  return digest.value;
}
}  // namespace

// Outside any namespace and not inlined, so that callgrind can collect exactly this call.
extern "C" __attribute__((noinline)) int MeasuredRun(const char16_t* verb) { return Run(verb); }

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: scale_bench <printers> <reinstall|uninstall>\n");
    return 2;
  }
  const int printers = std::atoi(argv[1]);
  const bool reinstall = std::strcmp(argv[2], "reinstall") == 0;
  if (printers < 0 || (!reinstall && std::strcmp(argv[2], "uninstall") != 0)) return 2;
  Prepare(printers);

  const uint64_t sleptBefore = winsim::M().clock.slept;
  const long long heapBefore = heapInUse;
  heapPeak = heapInUse;
  heapAllocations = 0;
  const auto start = std::chrono::steady_clock::now();
  const int code = MeasuredRun(reinstall ? u"install" : u"uninstall");
  const auto end = std::chrono::steady_clock::now();
  const long long peak = heapPeak - heapBefore;
  const long long allocations = heapAllocations;
  const uint64_t waited = winsim::M().clock.slept - sleptBefore;

  int product = 0;
  for (const winsim::PrinterEntry& printer : winsim::M().spooler.printers)
    if (printer.driverName == kDriver) ++product;
  if (std::getenv("BENCH_LIST"))
    for (const winsim::PrinterEntry& printer : winsim::M().spooler.printers)
      std::printf("  %s\n", std::string(printer.name.begin(), printer.name.end()).c_str());
  std::printf("%d %s exit=%d waited_ms=%llu wall_ms=%.1f heap_peak_bytes=%lld heap_allocations=%lld product_printers_after=%d "
              "machine=%016llx\n",
              printers, argv[2], code, static_cast<unsigned long long>(waited),
              std::chrono::duration<double, std::milli>(end - start).count(), peak, allocations, product,
              static_cast<unsigned long long>(MachineDigest()));
  return 0;
}
