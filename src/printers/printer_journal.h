// The saved-printer journal: what the recreation of each product printer (and connection) that a
// reinstall removes needs, kept in the machine's registry from just before the removal until the
// printer is back. A run that cannot add the driver, or that is killed between removal and
// recreation, then loses no printer: the next install run takes the journal's entries over.
// What belongs to one user (their connections, their default printer) is journaled with their
// SID: only a run for that user applies it or removes it.
#pragma once
#include "platform/win32.h"

struct InstallerState;
struct SavedPrinter;

// Adds the journal's entries to the saved list (those of printers that exist and are not the
// product's are left alone) and logs how many, when there were any.
void TakeOverJournal(InstallerState* state);
// Writes the node's entry. A failure is a counted error: the printer must then stay, since
// nothing could bring it back after a failed driver installation or a killed process.
bool JournalSavedPrinter(InstallerState* state, SavedPrinter* node);
// Removes the node's entry once its printer is back (keeping another user's default status for
// them); silent.
void UnjournalSavedPrinter(InstallerState* state, SavedPrinter* node);
// Forgets the machine's entries and the run's user's: an uninstall leaves nothing to bring back.
// Other users' connections stay theirs.
void ClearJournal(InstallerState* state);
