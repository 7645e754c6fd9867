#include "printers/printer_journal.h"

#include <cstdlib>
#include <cstring>

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "printers/printer_inventory.h"
#include "printers/saved_printers.h"

namespace {
const char kJournalKey[] = PRODUCT_VENDOR_KEY "\\Saved Printers";
const DWORD kNameChars = 512;    // printer names are far shorter
const DWORD kDataBytes = 65536;  // an entry of ours is far smaller: a larger value is not ours
const DWORD kMaxKeyChars = 63;

// One entry is a REG_MULTI_SZ named as the printer, one "tag=value" string per field that is
// not null. The settings key is ANSI text: each byte is kept as one UTF-16 unit, so it comes back
// byte for byte whatever the code page.
const WCHAR kSubKeyTag[] = TEXT("SubKey=");
const WCHAR kCommentTag[] = TEXT("Comment=");
const WCHAR kLocationTag[] = TEXT("Location=");
const WCHAR kShareTag[] = TEXT("Share=");
const WCHAR kDefaultTag[] = TEXT("Default=");
const WCHAR kConnectionTag[] = TEXT("Connection=");

const REGSAM kJournalAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;

HKEY OpenJournal() {
  HKEY key = nullptr;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kJournalKey, 0, kJournalAccess, &key) == ERROR_SUCCESS ? key : nullptr;
}

LSTATUS CreateJournal(HKEY* key) {
  *key = nullptr;
  const LSTATUS status =
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, kJournalKey, 0, nullptr, REG_OPTION_NON_VOLATILE, kJournalAccess, nullptr, key, nullptr);
  if (status != ERROR_SUCCESS) *key = nullptr;
  return status;
}

void CloseJournal(HKEY key) { RegCloseKey(key); }

// Writes tag, value and terminator at out + at (out null: only counts); returns the next position.
size_t PutField(LPWSTR out, size_t at, LPCWSTR tag, LPCWSTR value) {
  if (!value) return at;
  for (; *tag; ++tag, ++at)
    if (out) out[at] = *tag;
  for (; *value; ++value, ++at)
    if (out) out[at] = *value;
  if (out) out[at] = 0;
  return at + 1;
}

size_t PutSettingsKey(LPWSTR out, size_t at, LPCSTR key) {
  WCHAR units[kMaxKeyChars + 1] = {0};
  for (DWORD i = 0; key && key[i] && i < kMaxKeyChars; ++i) units[i] = static_cast<unsigned char>(key[i]);
  return PutField(out, at, kSubKeyTag, units);
}

size_t PutEntry(LPWSTR out, const SavedPrinter* node) {
  const PRINTER_INFO_2W* entry = node->entry;
  size_t at = 0;
  if (node->connection) {
    // The server keeps the queue's own settings: a connection is its name and default status.
    at = PutField(out, at, kConnectionTag, TEXT("1"));
  } else {
    at = PutSettingsKey(out, at, node->settingsKey);
    at = PutField(out, at, kCommentTag, entry->pComment);
    at = PutField(out, at, kLocationTag, entry->pLocation);
    at = PutField(out, at, kShareTag, entry->pShareName);
  }
  if (entry->Attributes & PRINTER_ATTRIBUTE_DEFAULT) at = PutField(out, at, kDefaultTag, TEXT("1"));
  if (out) out[at] = 0;
  return at + 1;
}

// A field of an entry read back: where its value lies in the value's data, and how long it is.
struct Field {
  LPCWSTR text;  // null: absent
  size_t length;
};

struct Entry {
  Field subKey, comment, location, share, isDefault, connection;
};

bool HasTag(LPCWSTR text, size_t length, LPCWSTR tag, Field* field) {
  size_t n = 0;
  while (tag[n]) ++n;
  if (length < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (text[i] != tag[i]) return false;
  field->text = text + n;
  field->length = length - n;
  return true;
}

// The data is outside input: every scan stays within its units, a last string without
// terminator ends at the data's end, and unknown strings are passed over.
Entry ParseEntry(LPCWSTR units, size_t count) {
  Entry entry;
  std::memset(&entry, 0, sizeof(entry));
  size_t at = 0;
  while (at < count && units[at]) {
    size_t length = 0;
    while (at + length < count && units[at + length]) ++length;
    LPCWSTR text = units + at;
    HasTag(text, length, kSubKeyTag, &entry.subKey) || HasTag(text, length, kCommentTag, &entry.comment) ||
        HasTag(text, length, kLocationTag, &entry.location) || HasTag(text, length, kShareTag, &entry.share) ||
        HasTag(text, length, kDefaultTag, &entry.isDefault) || HasTag(text, length, kConnectionTag, &entry.connection);
    at += length + 1;
  }
  return entry;
}

bool IsOne(const Field& field) { return field.text && field.length == 1 && field.text[0] == TEXT('1'); }

// The settings key as the ANSI text it was written from; false when it cannot be one.
bool NarrowSettingsKey(const Field& field, char* out) {
  if (!field.text || field.length == 0 || field.length > kMaxKeyChars) return false;
  for (size_t i = 0; i < field.length; ++i) {
    if (field.text[i] > 0xFF) return false;
    out[i] = static_cast<char>(field.text[i]);
  }
  out[field.length] = 0;
  return true;
}

LPWSTR PlaceText(LPWSTR* at, LPCWSTR text, size_t length) {
  LPWSTR placed = *at;
  if (length) std::memcpy(placed, text, length * sizeof(WCHAR));
  placed[length] = 0;
  *at += length + 1;
  return placed;
}

LPWSTR PlaceField(LPWSTR* at, const Field& field) { return field.text ? PlaceText(at, field.text, field.length) : nullptr; }

size_t FieldUnits(const Field& field) { return field.text ? field.length + 1 : 0; }

// A record like an inventory entry, with its strings in the same C-heap block.
PRINTER_INFO_2W* BuildRecord(LPCWSTR name, const Entry& entry) {
  const size_t nameLength = static_cast<size_t>(lstrlenW(name));
  const size_t driverLength = static_cast<size_t>(lstrlenW(PRODUCT_DRIVER_NAME));
  const size_t units = nameLength + 1 + driverLength + 1 + FieldUnits(entry.comment) + FieldUnits(entry.location) +
                       FieldUnits(entry.share);
  PRINTER_INFO_2W* record = static_cast<PRINTER_INFO_2W*>(std::malloc(sizeof(PRINTER_INFO_2W) + units * sizeof(WCHAR)));
  if (!record) return nullptr;
  std::memset(record, 0, sizeof(*record));
  LPWSTR at = reinterpret_cast<LPWSTR>(record + 1);
  record->pPrinterName = PlaceText(&at, name, nameLength);
  record->pDriverName = PlaceText(&at, PRODUCT_DRIVER_NAME, driverLength);
  record->pComment = PlaceField(&at, entry.comment);
  record->pLocation = PlaceField(&at, entry.location);
  record->pShareName = PlaceField(&at, entry.share);
  if (IsOne(entry.isDefault)) record->Attributes |= PRINTER_ATTRIBUTE_DEFAULT;
  if (IsOne(entry.connection)) record->Attributes |= PRINTER_ATTRIBUTE_NETWORK;
  return record;
}

// Takes one entry over unless its name belongs to a printer this run must not recreate: one that
// is not the product's, or of the other kind. A product printer that exists is one whose
// recreation was interrupted: the entry, not what that printer now holds, says what it had.
bool TakeOverEntry(InstallerState* state, const NameIndex* inventory, LPCWSTR name, LPCWSTR units, size_t count) {
  const Entry entry = ParseEntry(units, count);
  const bool connection = IsOne(entry.connection);
  char key[kMaxKeyChars + 1] = {0};
  if (!connection && !NarrowSettingsKey(entry.subKey, key)) return false;
  if (FindSavedPrinter(state, name)) return false;
  const PRINTER_INFO_2W* existing = inventory->incomplete ? FindInventoryPrinter(&state->printers, name)
                                                          : static_cast<PRINTER_INFO_2W*>(FindName(inventory, name));
  if (existing && (!IsProductDriverName(existing->pDriverName) || IsPrinterConnection(existing) != connection))
    return false;
  PRINTER_INFO_2W* record = BuildRecord(name, entry);
  if (!record) return false;
  SavedPrinter* node = PushSavedPrinter(state, connection ? nullptr : key, record);
  if (!node) {
    std::free(record);
    return false;
  }
  node->ownEntry = true;
  node->journaled = true;
  node->connection = connection;
  node->gone = existing == nullptr;
  return true;
}
}  // namespace

void TakeOverJournal(InstallerState* state) {
  HKEY key = OpenJournal();
  if (!key) return;
  LPBYTE data = static_cast<LPBYTE>(std::malloc(kDataBytes));
  // Every entry is looked for among the printers: by index, not by a walk through them all.
  NameIndex inventory = {nullptr, 0, 0, false};
  IndexInventory(&state->printers, &inventory);
  int taken = 0;
  for (DWORD index = 0; data; ++index) {
    WCHAR name[kNameChars] = {0};
    DWORD nameChars = kNameChars;
    DWORD type = 0;
    DWORD bytes = kDataBytes;
    const LSTATUS status = RegEnumValueW(key, index, name, &nameChars, nullptr, &type, data, &bytes);
    if (status == ERROR_MORE_DATA) continue;  // not an entry of ours
    if (status != ERROR_SUCCESS) break;
    if (type == REG_MULTI_SZ && name[0] &&
        TakeOverEntry(state, &inventory, name, reinterpret_cast<LPCWSTR>(data), bytes / sizeof(WCHAR)))
      ++taken;
  }
  std::free(data);
  FreeNameIndex(&inventory);
  CloseJournal(key);
  if (taken) LogLine(state, TEXT("%d saved printers taken over from an earlier run"), taken);
}

bool JournalSavedPrinter(InstallerState* state, SavedPrinter* node) {
  LSTATUS status = ERROR_OUTOFMEMORY;
  // A printer saved without its key's copy (no memory for it) could not be recreated with it.
  const bool complete = node->connection || node->settingsKey;
  const size_t units = complete ? PutEntry(nullptr, node) : 0;
  LPWSTR text = complete ? static_cast<LPWSTR>(std::malloc(units * sizeof(WCHAR))) : nullptr;
  if (text) {
    PutEntry(text, node);
    HKEY key = nullptr;
    status = CreateJournal(&key);
    if (status == ERROR_SUCCESS) {
      status = RegSetValueExW(key, node->entry->pPrinterName, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(text),
                              static_cast<DWORD>(units * sizeof(WCHAR)));
      CloseJournal(key);
    }
    std::free(text);
  }
  if (status == ERROR_SUCCESS) {
    node->journaled = true;
    return true;
  }
  // The registry calls return their error rather than set it.
  SetLastError(static_cast<DWORD>(status));
  LogError(state, 17, TEXT("Can`t keep %s in the journal of saved printers, so it is not removed"),
           node->entry->pPrinterName);
  return false;
}

void UnjournalSavedPrinter(SavedPrinter* node) {
  if (!node->journaled) return;
  HKEY key = OpenJournal();
  if (!key) return;
  if (RegDeleteValueW(key, node->entry->pPrinterName) == ERROR_SUCCESS) node->journaled = false;
  CloseJournal(key);
}

void ClearJournal() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kJournalKey); }
