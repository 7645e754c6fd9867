// Who gets to read the run's log: the dialog, the log file the caller named, the event log, or
// nobody.
#pragma once
#include "platform/win32.h"

struct InstallerState;

// The end of a run: the dialog when errors were counted or Shift is down and someone can see it;
// the event log when nobody could see it (or it could not be created) and the exit code will say
// 100 or 101, which nothing else would explain. With a log file (the caller keeps the log): the
// file on every run and never a dialog, the event log as when nobody could see the dialog.
void PresentRunLog(InstallerState* state, HWND parentWindow, DWORD rebootDeletes, LPCWSTR logFile = nullptr);
