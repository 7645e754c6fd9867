#include "log/log_dialog.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "support/wide_format.h"

namespace {
const size_t kTitleUnits = 264;

bool WindowStationVisible() {
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  HWINSTA station = GetProcessWindowStation();
  // When Windows can't tell, behave as on a desktop.
  if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void BuildLogTitle(const InstallerState* state, LPWSTR title, size_t capacity) {
  FormatWide(title, capacity, TEXT("Marbleleaf build %d- Install%s"), kProductBuild,
             state->errorCount != 0 ? TEXT(" error log!") : TEXT(" log."));
}

INT_PTR CALLBACK LogDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const InstallerState* state = reinterpret_cast<const InstallerState*>(lParam);
      SetDlgItemTextW(window, kLogTextId, Text(state->logText));
      WCHAR title[kTitleUnits];
      BuildLogTitle(state, title, kTitleUnits);
      SetWindowTextW(window, title);
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) EndDialog(window, 1);
      if (LOWORD(wParam) == IDCANCEL) EndDialog(window, 0);
      return FALSE;
    default:
      return FALSE;
  }
}
}  // namespace

bool LogDialogCanBeSeen(InstallerState* state) {
  if (!WindowStationVisible()) return false;
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
    // Guessing wrong the other way would leave a dialog that nobody closes, and the run with it.
    const DWORD code = GetLastError();
    LogLine(state, TEXT("ProcessIdToSessionId failed with code %d: no log dialog"), code);
    return false;
  }
  return session != 0;
}

bool ShowLogDialog(InstallerState* state, HWND parentWindow) {
  return DialogBoxParamW(programInstance, MAKEINTRESOURCE(kLogDialogId), parentWindow, LogDialogProc,
                         reinterpret_cast<LPARAM>(state)) != -1;
}
