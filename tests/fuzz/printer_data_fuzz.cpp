// The fuzzer's bytes are a product printer's "SubKey" printer data, plain and under "DsUser", with
// their types. The printer's settings key is saved, the printer deleted and then restored: every
// read must stay inside what the spooler handed back (ASan), a saved name must be 1 to 63
// characters of what one of the values held, the restored printer must carry exactly that name,
// and every global block and printer handle must be given back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/installer_state.h"
#include "printers/printer_inventory.h"
#include "printers/printer_restore.h"
#include "winsim/machine.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

bool StartsWith(const std::vector<uint8_t>& data, const char* text, size_t length) {
  return data.size() >= length && std::memcmp(data.data(), text, length) == 0;
}
}  // namespace

// Byte 0: which values exist and their types, whether the printer was the default, server mode.
// Byte 1: where the rest splits into the plain value and the "DsUser" one.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  const size_t rest = size - 2;
  const size_t split = data[1] % (rest + 1);
  const std::vector<uint8_t> plain(data + 2, data + 2 + split);
  const std::vector<uint8_t> dsUser(data + 2 + split, data + size);

  winsim::Reset();
  winsim::DriverEntry driver;
  driver.name = u"Marbleleaf Server";
  driver.environment = u"Windows x64";
  winsim::M().spooler.drivers.push_back(driver);
  winsim::M().spooler.monitors.push_back(
      {u"MarbleleafServer:", u"Windows x64", u"mlxmon64.dll", {u"MarbleleafServer:"}});
  winsim::PrinterEntry& printer = winsim::PutPrinter(u"P", u"Marbleleaf Server", u"MarbleleafServer:");
  if (flags & 1) printer.data[""]["SubKey"] = {(flags & 4) ? DWORD(REG_EXPAND_SZ) : DWORD(REG_SZ), plain};
  if (flags & 2) printer.data["DsUser"]["SubKey"] = {(flags & 8) ? DWORD(REG_EXPAND_SZ) : DWORD(REG_SZ), dsUser};
  if (flags & 16) winsim::M().spooler.defaultPrinter = u"P";

  static InstallerState state;
  InitInstallerState(&state);
  state.serverMode = (flags & 32) != 0;
  Check(state.printers.count == 1);
  SavePrinterSettingsKey(&state, &state.printers.entries[0]);
  const SavedPrinter* saved = state.savedPrinters;
  std::vector<uint8_t> key;
  if (saved) {
    Check(saved->next == nullptr && saved->settingsKey);
    const size_t length = std::strlen(saved->settingsKey);
    Check(length >= 1 && length <= 63);
    Check(StartsWith(plain, saved->settingsKey, length) || StartsWith(dsUser, saved->settingsKey, length));
    key.assign(saved->settingsKey, saved->settingsKey + length + 1);
  }

  winsim::M().spooler.printers.clear();
  RestorePrinters(&state);
  Check(state.errorCount == 0);
  const winsim::PrinterEntry* restored = winsim::FindPrinter(saved ? u"P" : u"mblServer");
  Check(restored != nullptr && winsim::M().spooler.printers.size() == 1);
  if (saved) {
    Check(restored->data.at("").at("SubKey").data == key);
    Check(restored->data.at("DsUser").at("SubKey").data == key);
    Check((winsim::M().spooler.defaultPrinter == u"P") == ((flags & 16) != 0));
  }
  Check(((restored->attributes & PRINTER_ATTRIBUTE_SHARED) != 0) == state.serverMode);

  FreeInstallerState(&state);
  Check(winsim::M().globalBlocks == 0);
  Check(winsim::M().spooler.handles.empty());
  return 0;
}
