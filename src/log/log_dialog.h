// The modal dialog that shows a run's log.
#pragma once
#include "platform/win32.h"

struct InstallerState;

const int kLogDialogId = 101;
const int kLogTextId = 1001;

// Whether a person can see and close a dialog of this process: not in a window station that is
// not visible (a service's), nor in session 0, where since Windows Vista no user can reach a
// window. Logs why when Windows can't tell the session.
bool LogDialogCanBeSeen(InstallerState* state);
// Shows the dialog owned by parentWindow and returns when it is closed; false when Windows could
// not create it.
bool ShowLogDialog(InstallerState* state, HWND parentWindow);
