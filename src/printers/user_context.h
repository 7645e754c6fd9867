// The user whose own printers a run keeps: their connections and their default printer live in
// their profile, so they are listed, removed, added back and journaled for that one user. It is
// the signed-in user the run acts for, or, with nobody to act for, the running account itself.
#pragma once
#include "platform/win32.h"
#include "system/sessions.h"

struct InstallerState;

// Takes the printer inventory in that user's context (the machine's printers with the user's
// connections), marks their default printer in it, and notes whose they are (their SID, left
// empty, with a log line, when it cannot be read).
void MarkDefaultPrinter(InstallerState* state);
// Enters that user's context for a call on their own printers. False, logged as an error, when
// the run acts for a signed-in user and cannot act for them now: their printers must then not be
// touched in the running account's profile instead.
bool EnterUserContext(InstallerState* state, ActingForUser* user);
// Back to the installer's own account; a failure to return is logged as an error.
void LeaveUserContext(InstallerState* state, ActingForUser* user);
