// Who gets to read the run's log: the dialog, the event log, or nobody.
#pragma once
#include "platform/win32.h"

struct InstallerState;

// The end of a run: the dialog when errors were counted or Shift is down and someone can see it;
// the event log when nobody could see it (or it could not be created) and the exit code will say
// 100 or 101, which nothing else would explain.
void PresentRunLog(InstallerState* state, HWND parentWindow, DWORD rebootDeletes);
