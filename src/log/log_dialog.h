// The modal dialog that shows a run's log.
#pragma once
#include "platform/win32.h"

struct InstallerState;

const int kLogDialogId = 101;
const int kLogTextId = 1001;

INT_PTR CALLBACK LogDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void BuildLogTitle(const InstallerState* state, LPWSTR title, size_t capacity);
// Shows the dialog owned by parentWindow and returns when it is closed. Where the process has no
// visible window station (a service, session 0) nobody could close it: it is not shown.
void ShowLogDialog(InstallerState* state, HWND parentWindow);
