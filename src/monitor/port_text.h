// In-place edits of a printer's port text (a comma-separated port list from the printer
// inventory): the product port is switched to "file:" while the monitor is away, and back once it
// is registered again. The text lives inside the inventory block and can't grow beyond the room
// it had when the inventory was taken, so the way back checks that room before it writes.
#pragma once
#include "platform/win32.h"

// Where a port text was switched and how much room it has (units, terminator included).
struct RepointedPort {
  DWORD offset;
  DWORD room;
};

// Replaces the first "MarbleleafServer:" of the text by "file:" (the text becomes 12 characters
// shorter). Returns false, leaving the text alone, when the text is null or has no product port;
// otherwise fills `switched` with the offset of the new "file:" and the text's room.
bool SwitchPortToFile(LPWSTR port, RepointedPort* switched);

// Puts "MarbleleafServer:" back in place of the "file:" that SwitchPortToFile wrote. Returns false,
// leaving the text alone, unless the text still holds "file:" at that offset and the grown text
// fits the room.
bool SwitchPortBack(LPWSTR port, const RepointedPort& switched);
