// The modal dialog that shows a run's log.
#pragma once
#include "platform/win32.h"

struct InstallerState;

const int kLogDialogId = 101;
const int kLogTextId = 1001;

INT_PTR CALLBACK LogDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void BuildLogTitle(const InstallerState* state, LPWSTR title, size_t capacity);
// Whether a person can see and close a dialog of this process: not in a window station that is
// not visible (a service's), nor in session 0, where since Windows Vista no user can reach a
// window. Logs why when Windows can't tell the session.
bool LogDialogCanBeSeen(InstallerState* state);
// Shows the dialog owned by parentWindow and returns when it is closed; false when Windows could
// not create it.
bool ShowLogDialog(InstallerState* state, HWND parentWindow);
// The end of a run: the dialog when errors were counted or Shift is down and someone can see it;
// the event log when nobody could see it (or it could not be created) and the exit code will say
// 100 or 101, which nothing else would explain. With a log file (the caller keeps the log): the
// file on every run and never a dialog, the event log as when nobody could see the dialog.
void PresentRunLog(InstallerState* state, HWND parentWindow, DWORD rebootDeletes, LPCWSTR logFile = nullptr);
