#include "printers/printer_journal.h"

#include <cstdlib>
#include <cstring>

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "printers/printer_inventory.h"
#include "printers/saved_printers.h"
#include "system/sessions.h"

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
const WCHAR kUserTag[] = TEXT("User=");

const REGSAM kJournalAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;

// A user's own entries (their connections) are in a key named as their SID under the journal,
// so that two users' connections to one queue are kept apart. Path: the journal's, or that key's
// for a SID; false for a SID that cannot be a key's name.
struct JournalPath {
  char text[sizeof(kJournalKey) + 1 + kSidChars];
};

bool MakeJournalPath(LPCWSTR sid, JournalPath* path) {
  std::memcpy(path->text, kJournalKey, sizeof(kJournalKey));
  if (!sid) return true;
  if (!sid[0]) return false;
  size_t at = sizeof(kJournalKey) - 1;
  path->text[at++] = '\\';
  for (DWORD i = 0; sid[i]; ++i) {
    if (i + 1 >= kSidChars || sid[i] > 0x7E || sid[i] <= 0x20 || sid[i] == TEXT('\\')) return false;
    path->text[at++] = static_cast<char>(sid[i]);
  }
  path->text[at] = 0;
  return true;
}

// The journal, or with a SID that user's own key of it.
HKEY OpenJournal(LPCWSTR sid = nullptr) {
  JournalPath path;
  HKEY key = nullptr;
  if (!MakeJournalPath(sid, &path)) return nullptr;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.text, 0, kJournalAccess, &key) == ERROR_SUCCESS ? key : nullptr;
}

LSTATUS CreateJournal(LPCWSTR sid, HKEY* key) {
  *key = nullptr;
  JournalPath path;
  if (!MakeJournalPath(sid, &path)) return ERROR_INVALID_SID;
  const LSTATUS status =
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.text, 0, nullptr, REG_OPTION_NON_VOLATILE, kJournalAccess, nullptr, key, nullptr);
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

// A printer's entry. A local printer's default status is its user's: it is kept with their SID,
// and not at all when their SID is unknown (nobody else may take it for theirs).
size_t PutEntry(LPWSTR out, const SavedPrinter* node, LPCWSTR userSid) {
  const PRINTER_INFO_2W* entry = node->entry;
  const bool isDefault = (entry->Attributes & PRINTER_ATTRIBUTE_DEFAULT) != 0;
  size_t at = 0;
  if (node->connection) {
    // The server keeps the queue's own settings: a connection is its name and default status,
    // under its user's own key.
    at = PutField(out, at, kConnectionTag, TEXT("1"));
    if (isDefault) at = PutField(out, at, kDefaultTag, TEXT("1"));
  } else {
    at = PutSettingsKey(out, at, node->settingsKey);
    at = PutField(out, at, kCommentTag, entry->pComment);
    at = PutField(out, at, kLocationTag, entry->pLocation);
    at = PutField(out, at, kShareTag, entry->pShareName);
    if (isDefault && userSid[0]) {
      at = PutField(out, at, kDefaultTag, TEXT("1"));
      at = PutField(out, at, kUserTag, userSid);
    }
  }
  if (out) out[at] = 0;
  return at + 1;
}

// What stays of an entry once its printer is back, when the printer was another user's default:
// that status, for them. An owner too long for a SID is not rewritten: the whole entry stays.
LSTATUS KeepDefaultOnly(HKEY key, LPCWSTR name, LPCWSTR owner) {
  WCHAR text[kSidChars + 16] = {0};
  const size_t ownerLength = static_cast<size_t>(lstrlenW(owner));
  if (ownerLength >= kSidChars) return ERROR_INVALID_SID;
  size_t at = PutField(text, 0, kDefaultTag, TEXT("1"));
  at = PutField(text, at, kUserTag, owner);
  text[at] = 0;
  return RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>((at + 1) * sizeof(WCHAR)));
}

// A field of an entry read back: where its value lies in the value's data, and how long it is.
struct Field {
  LPCWSTR text;  // null: absent
  size_t length;
};

struct Entry {
  Field subKey, comment, location, share, isDefault, connection, user;
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
        HasTag(text, length, kDefaultTag, &entry.isDefault) || HasTag(text, length, kConnectionTag, &entry.connection) ||
        HasTag(text, length, kUserTag, &entry.user);
    at += length + 1;
  }
  return entry;
}

bool IsOne(const Field& field) { return field.text && field.length == 1 && field.text[0] == TEXT('1'); }

bool Names(const Field& field, LPCWSTR sid) {
  size_t length = 0;
  while (sid[length]) ++length;
  return field.text && length && field.length == length && std::memcmp(field.text, sid, length * sizeof(WCHAR)) == 0;
}

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

// A record like an inventory entry, with its strings (and the entry's user, when asked for) in the
// same C-heap block.
PRINTER_INFO_2W* BuildRecord(LPCWSTR name, const Entry& entry, bool withUser, LPCWSTR* user) {
  const size_t nameLength = static_cast<size_t>(lstrlenW(name));
  const size_t driverLength = static_cast<size_t>(lstrlenW(PRODUCT_DRIVER_NAME));
  const size_t units = nameLength + 1 + driverLength + 1 + FieldUnits(entry.comment) + FieldUnits(entry.location) +
                       FieldUnits(entry.share) + (withUser ? FieldUnits(entry.user) : 0);
  PRINTER_INFO_2W* record = static_cast<PRINTER_INFO_2W*>(std::malloc(sizeof(PRINTER_INFO_2W) + units * sizeof(WCHAR)));
  if (!record) return nullptr;
  std::memset(record, 0, sizeof(*record));
  LPWSTR at = reinterpret_cast<LPWSTR>(record + 1);
  record->pPrinterName = PlaceText(&at, name, nameLength);
  record->pDriverName = PlaceText(&at, PRODUCT_DRIVER_NAME, driverLength);
  record->pComment = PlaceField(&at, entry.comment);
  record->pLocation = PlaceField(&at, entry.location);
  record->pShareName = PlaceField(&at, entry.share);
  *user = withUser ? PlaceField(&at, entry.user) : nullptr;
  if (IsOne(entry.isDefault) && !withUser) record->Attributes |= PRINTER_ATTRIBUTE_DEFAULT;
  if (IsOne(entry.connection)) record->Attributes |= PRINTER_ATTRIBUTE_NETWORK;
  return record;
}

// A record of another user's default status only: the printer is marked as this run's user's
// default when the record is theirs (a reinstall then restores it), and the record goes; another
// user's stays for them.
// What became of an entry taken over.
enum class Outcome { kLeft, kTaken, kRemoved };

// The printer of that name in the run's inventory: by its index, or by a walk when the index
// lacked the memory to file every name.
PRINTER_INFO_2W* InventoryPrinter(InstallerState* state, const NameIndex* inventory, LPCWSTR name) {
  return inventory->incomplete ? FindInventoryPrinter(&state->printers, name)
                               : static_cast<PRINTER_INFO_2W*>(FindName(inventory, name));
}

Outcome TakeOverDefault(InstallerState* state, const NameIndex* inventory, HKEY key, LPCWSTR name, const Entry& entry) {
  if (!IsOne(entry.isDefault) || !Names(entry.user, state->userSid)) return Outcome::kLeft;
  PRINTER_INFO_2W* existing = InventoryPrinter(state, inventory, name);
  if (existing && IsProductDriverName(existing->pDriverName) && !IsPrinterConnection(existing))
    existing->Attributes |= PRINTER_ATTRIBUTE_DEFAULT;
  return RegDeleteValueW(key, name) == ERROR_SUCCESS ? Outcome::kRemoved : Outcome::kLeft;
}

// Takes one entry over unless its name belongs to a printer this run must not recreate: one that
// is not the product's, or of the other kind. A product printer that exists is one whose
// recreation was interrupted: the entry, not what that printer now holds, says what it had.
// Entries under the user's own key are theirs; elsewhere a default status that names another user
// is left to them (an entry of an earlier version names nobody: it is the running user's, as it
// was then).
Outcome TakeOverEntry(InstallerState* state, const NameIndex* inventory, HKEY key, bool userKey, LPCWSTR name,
                      LPCWSTR units, size_t count) {
  const Entry entry = ParseEntry(units, count);
  const bool connection = IsOne(entry.connection);
  const bool othersDefault = !userKey && entry.user.text && IsOne(entry.isDefault) && !Names(entry.user, state->userSid);
  if (!connection && !entry.subKey.text) return TakeOverDefault(state, inventory, key, name, entry);
  char settingsKey[kMaxKeyChars + 1] = {0};
  if (!connection && !NarrowSettingsKey(entry.subKey, settingsKey)) return Outcome::kLeft;
  if (FindSavedPrinter(state, name)) return Outcome::kLeft;
  const PRINTER_INFO_2W* existing = InventoryPrinter(state, inventory, name);
  if (existing && (!IsProductDriverName(existing->pDriverName) || IsPrinterConnection(existing) != connection))
    return Outcome::kLeft;
  LPCWSTR owner = nullptr;
  PRINTER_INFO_2W* record = BuildRecord(name, entry, othersDefault, &owner);
  if (!record) return Outcome::kLeft;
  // The default status this run keeps is its own user's, which the inventory tells.
  if (othersDefault && existing) record->Attributes |= existing->Attributes & PRINTER_ATTRIBUTE_DEFAULT;
  SavedPrinter* node = PushSavedPrinter(state, connection ? nullptr : settingsKey, record);
  if (!node) {
    std::free(record);
    return Outcome::kLeft;
  }
  node->ownEntry = true;
  node->journaled = true;
  node->userJournal = userKey;
  node->defaultOwner = owner;
  node->connection = connection;
  node->gone = existing == nullptr;
  return Outcome::kTaken;
}

// Takes over the entries of one key of the journal; returns how many printers.
int TakeOverKey(InstallerState* state, const NameIndex* inventory, HKEY key, bool userKey, LPBYTE data) {
  int taken = 0;
  for (DWORD index = 0;; ++index) {
    WCHAR name[kNameChars] = {0};
    DWORD nameChars = kNameChars;
    DWORD type = 0;
    DWORD bytes = kDataBytes;
    const LSTATUS status = RegEnumValueW(key, index, name, &nameChars, nullptr, &type, data, &bytes);
    if (status == ERROR_MORE_DATA) continue;  // not an entry of ours
    if (status != ERROR_SUCCESS) break;
    if (type != REG_MULTI_SZ || !name[0]) continue;
    const Outcome outcome =
        TakeOverEntry(state, inventory, key, userKey, name, reinterpret_cast<LPCWSTR>(data), bytes / sizeof(WCHAR));
    if (outcome == Outcome::kTaken) ++taken;
    if (outcome == Outcome::kRemoved) --index;  // the next entry has moved into its place
  }
  return taken;
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
  if (data) {
    taken = TakeOverKey(state, &inventory, key, false, data);
    if (HKEY own = state->userSid[0] ? OpenJournal(state->userSid) : nullptr) {
      taken += TakeOverKey(state, &inventory, own, true, data);
      CloseJournal(own);
    }
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
  const size_t units = complete ? PutEntry(nullptr, node, state->userSid) : 0;
  LPWSTR text = complete ? static_cast<LPWSTR>(std::malloc(units * sizeof(WCHAR))) : nullptr;
  if (text) {
    PutEntry(text, node, state->userSid);
    HKEY key = nullptr;
    // A connection is its user's: without their SID nobody could tell whose to add back.
    status = CreateJournal(node->connection ? state->userSid : nullptr, &key);
    if (status == ERROR_SUCCESS) {
      status = RegSetValueExW(key, node->entry->pPrinterName, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(text),
                              static_cast<DWORD>(units * sizeof(WCHAR)));
      CloseJournal(key);
    }
    std::free(text);
  }
  if (status == ERROR_SUCCESS) {
    node->journaled = true;
    node->userJournal = node->connection;
    return true;
  }
  // The registry calls return their error rather than set it.
  SetLastError(static_cast<DWORD>(status));
  LogError(state, 17, TEXT("Can`t keep %s in the journal of saved printers, so it is not removed"),
           node->entry->pPrinterName);
  return false;
}

void UnjournalSavedPrinter(InstallerState* state, SavedPrinter* node) {
  if (!node->journaled) return;
  HKEY key = OpenJournal(node->userJournal ? state->userSid : nullptr);
  if (!key) return;
  LPCWSTR name = node->entry->pPrinterName;
  const LSTATUS status = node->defaultOwner ? KeepDefaultOnly(key, name, node->defaultOwner) : RegDeleteValueW(key, name);
  if (status == ERROR_SUCCESS) node->journaled = false;
  CloseJournal(key);
}

void ClearJournal(InstallerState* state) {
  JournalPath own;
  if (MakeJournalPath(state->userSid, &own)) RegDeleteKeyA(HKEY_LOCAL_MACHINE, own.text);
  if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, kJournalKey) == ERROR_SUCCESS) return;
  // Other users' keys are still below it: the machine's own entries go one by one.
  HKEY key = OpenJournal();
  if (!key) return;
  for (DWORD index = 0;;) {
    WCHAR name[kNameChars] = {0};
    DWORD nameChars = kNameChars;
    const LSTATUS status = RegEnumValueW(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS || (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)) break;
    if (status != ERROR_SUCCESS || RegDeleteValueW(key, name) != ERROR_SUCCESS) ++index;
  }
  CloseJournal(key);
}
