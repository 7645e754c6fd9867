// Helpers shared by the spooler model's files (spooler_*.cpp); not part of winsim's interface.
#pragma once
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "winsim/machine.h"

namespace winsim {
namespace spool {

// Sets the last error and fails a BOOL call.
inline BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

std::u16string Upper(const std::u16string& text);
bool SameName(const std::u16string& a, const std::u16string& b);  // case-insensitive, as the spooler compares
std::u16string Text(LPCWSTR text);                                 // null reads as empty
std::optional<std::u16string> OptionalText(LPCWSTR text);          // null stays null

// The check every winspool call makes after WINSIM_ENTER: the RPC server (the spooler service)
// must be running. Sets 1722 and returns false when it is not.
bool SpoolerAvailable();

// Environment argument: null or empty is the local machine's ("Windows x64"); an unknown one sets
// ERROR_INVALID_ENVIRONMENT and gives null.
EnvironmentEntry* ResolveEnvironment(LPCWSTR environment);
extern const char16_t* const kLocalEnvironment;

// A printer handle that may be used: sets ERROR_INVALID_HANDLE and gives null for an unknown,
// closed or stale handle.
PrinterHandle* UsableHandle(HANDLE handle);
PrinterEntry* HandlePrinter(PrinterHandle* handle);

// Comma-separated port list ("LPT1:,MarbleleafServer:") split into its ports; blanks around a
// port are not part of it.
std::vector<std::u16string> SplitPorts(const std::u16string& list);

// Packs records and their strings into one block as the local spooler does: all records first,
// then each record's strings in order, the records' pointers aiming into the block. Used in two
// passes: with a null base it only measures.
struct Packer {
  LPBYTE base = nullptr;  // null: measuring
  size_t offset = 0;      // where the next string goes (measuring: the size so far)

  LPWSTR Put(const std::optional<std::u16string>& text) {
    if (!text) return nullptr;
    return PutRaw(text->c_str(), text->size() + 1);
  }
  LPWSTR Put(const std::u16string& text) { return PutRaw(text.c_str(), text.size() + 1); }
  // A multi-string: each string with its terminator and one more terminator; none: null.
  LPWSTR PutMulti(const std::vector<std::u16string>& strings) {
    if (strings.empty()) return nullptr;
    std::u16string all;
    for (const auto& s : strings) all += s + u'\0';
    all += u'\0';
    return PutRaw(all.c_str(), all.size());
  }

 private:
  LPWSTR PutRaw(const char16_t* text, size_t units) {
    const size_t bytes = units * sizeof(WCHAR);
    LPWSTR at = nullptr;
    if (base) {
      at = reinterpret_cast<LPWSTR>(base + offset);
      std::memcpy(base + offset, text, bytes);
    }
    offset += bytes;
    return at;
  }
};

// Fills a caller's buffer with records of type Record, one per item, through fill(record, packer,
// item), following the size-then-fill protocol: the needed size always, ERROR_INSUFFICIENT_BUFFER
// when the buffer is too small. An empty list succeeds with needed 0.
template <typename Record, typename Item, typename Fill>
BOOL PackRecords(const std::vector<const Item*>& items, Fill fill, LPBYTE buffer, DWORD size, LPDWORD needed,
                 LPDWORD returned) {
  Packer measure;
  measure.offset = items.size() * sizeof(Record);
  for (const Item* item : items) {
    Record scratch{};
    fill(scratch, measure, *item);
  }
  const size_t total = items.empty() ? 0 : measure.offset;
  if (needed) *needed = static_cast<DWORD>(total);
  if (returned) *returned = 0;
  if (total > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (total == 0) return TRUE;
  Packer writer;
  writer.base = buffer;
  writer.offset = items.size() * sizeof(Record);
  for (size_t i = 0; i < items.size(); ++i) {
    Record record{};
    fill(record, writer, *items[i]);
    std::memcpy(buffer + i * sizeof(Record), &record, sizeof(Record));
  }
  if (returned) *returned = static_cast<DWORD>(items.size());
  return TRUE;
}

// The buffer arguments every query checks first: needed (and returned, for enumerations) must be
// given, and a null buffer must come with size 0.
bool BufferArgumentsValid(LPBYTE buffer, DWORD size, LPDWORD needed, bool needsReturned, LPDWORD returned);

}  // namespace spool
}  // namespace winsim
