#include "printers/saved_printers.h"

#include <cstdlib>
#include <cstring>

#include "app/installer_state.h"
#include "support/ascii_text.h"
#include "support/name_index.h"

SavedPrinter* PushSavedPrinter(InstallerState* state, LPCSTR settingsKey, PRINTER_INFO_2W* entry) {
  SavedPrinter* node = static_cast<SavedPrinter*>(GlobalAlloc(GMEM_FIXED, sizeof(SavedPrinter)));
  if (!node) return nullptr;
  std::memset(node, 0, sizeof(*node));
  if (settingsKey) {
    const size_t bytes = std::strlen(settingsKey) + 1;
    node->settingsKey = static_cast<LPSTR>(GlobalAlloc(GMEM_FIXED, bytes));
    if (node->settingsKey) std::memcpy(node->settingsKey, settingsKey, bytes);
  }
  node->entry = entry;
  node->next = state->savedPrinters;
  state->savedPrinters = node;
  // The newest node of a name is the one found, as a walk from the head finds it.
  if (!state->savedIndex.incomplete) PutName(&state->savedIndex, entry->pPrinterName, node);
  return node;
}

// Every removed printer is looked up here, so the lookup must not walk the list: the index answers,
// unless it once lacked the memory to file a name; then the walk does.
SavedPrinter* FindSavedPrinter(const InstallerState* state, LPCWSTR name) {
  if (!state->savedIndex.incomplete) return static_cast<SavedPrinter*>(FindName(&state->savedIndex, name));
  for (SavedPrinter* node = state->savedPrinters; node; node = node->next)
    if (EqualsExactly(node->entry->pPrinterName, name)) return node;
  return nullptr;
}

namespace {
void FreeNode(SavedPrinter* node) {
  if (node->settingsKey) GlobalFree(node->settingsKey);
  if (node->ownEntry) std::free(node->entry);
  GlobalFree(node);
}
}  // namespace

void DropNewestSavedPrinter(InstallerState* state) {
  SavedPrinter* node = state->savedPrinters;
  if (!node) return;
  state->savedPrinters = node->next;
  if (!state->savedIndex.incomplete) {
    // Rare (a journal entry that could not be written), so a walk is fine here.
    LPCWSTR name = node->entry->pPrinterName;
    SavedPrinter* older = state->savedPrinters;
    while (older && !EqualsExactly(older->entry->pPrinterName, name)) older = older->next;
    if (older) {
      PutName(&state->savedIndex, older->entry->pPrinterName, older);
    } else if (!node->ownEntry) {
      PutName(&state->savedIndex, name, nullptr);  // the inventory's string outlives the index
    } else {
      state->savedIndex.incomplete = true;  // the index must not keep a name that is freed now
    }
  }
  FreeNode(node);
}

void FreeSavedPrinters(InstallerState* state) {
  // Iterative, so that a long list cannot exhaust the stack; the entries are never read.
  SavedPrinter* node = state->savedPrinters;
  while (node) {
    SavedPrinter* next = node->next;
    FreeNode(node);
    node = next;
  }
  state->savedPrinters = nullptr;
  FreeNameIndex(&state->savedIndex);
}
