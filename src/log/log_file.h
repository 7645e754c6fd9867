// The run's log in a file that the caller named (install.exe's /LOG= argument), for setup
// programs that keep their own log and must never wait for a dialog.
#pragma once
#include "platform/win32.h"

struct InstallerState;

// Writes the whole log as UTF-16LE text with a byte-order mark, replacing the file. False when
// the file could not be created or not be written whole.
bool WriteLogFile(const InstallerState* state, LPCWSTR path);
