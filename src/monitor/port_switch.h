// The printers moved off the product port while its monitor is away, and back once it is registered
// again: both directions of the in-place edits of their port texts (comma-separated port lists in
// the printer inventory), and the records that carry each switch from one to the other.
#pragma once
#include "app/product.h"
#include "platform/win32.h"

struct InstallerState;

// Where a port text was switched, how much room it has (units, terminator included), and how the
// text spelled the product port, so that the way back gives the text it started from.
struct RepointedPort {
  DWORD offset;
  DWORD room;
  WCHAR spelling[kProductNameLength];  // all zero: the product's own spelling
};

// One printer switched to "file:": its record in the state's printer inventory and its port.
struct SwitchedPrinter {
  PRINTER_INFO_2W* record;  // null ends the array
  RepointedPort port;
};

// Replaces the first port of the comma-separated list that is the product port by "file:" (the
// text becomes 12 characters shorter). A port is the whole element, blanks around it aside, and
// compared as the spooler compares port names, without regard to letter case: "MarbleleafServer:2"
// or "XMarbleleafServer:Y" are other ports. Returns false, leaving the text alone, when the text is
// null or lists no product port; otherwise fills `switched`.
bool SwitchPortToFile(LPWSTR port, RepointedPort* switched);

// Puts the product port back in place of the "file:" that SwitchPortToFile wrote. Returns false,
// leaving the text alone, unless the text still holds "file:" at that offset and the grown text
// fits the room.
bool SwitchPortBack(LPWSTR port, const RepointedPort& switched);

// Moves every printer of this machine whose port list holds the product port to "file:", writes
// each to the spooler and records it in the state's `repointedPrinters` (replacing an earlier
// array). Connections are left alone: their port is their server's.
void SwitchPrintersToFile(InstallerState* state);
// Moves the recorded printers back onto the product port and writes each to the spooler.
void SwitchPrintersBack(InstallerState* state);
void FreeSwitchedPrinters(InstallerState* state);
