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

void FreeSavedPrinters(InstallerState* state) {
  // Iterative, so that a long list cannot exhaust the stack; the entries are never read.
  SavedPrinter* node = state->savedPrinters;
  while (node) {
    SavedPrinter* next = node->next;
    if (node->settingsKey) GlobalFree(node->settingsKey);
    if (node->ownEntry) std::free(node->entry);
    GlobalFree(node);
    node = next;
  }
  state->savedPrinters = nullptr;
  FreeNameIndex(&state->savedIndex);
}
