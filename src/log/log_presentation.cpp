#include "log/log_presentation.h"

#include "app/installer_state.h"
#include "log/event_log.h"
#include "log/log_dialog.h"
#include "log/log_file.h"

void PresentRunLog(InstallerState* state, HWND parentWindow, DWORD rebootDeletes, LPCWSTR logFile) {
  const bool errors = state->errorCount != 0;
  if (logFile) {
    // An unattended caller must never wait for a dialog, whatever the errors or the Shift key.
    WriteLogFile(state, logFile);
    if (errors || rebootDeletes != 0) ReportLogToEventLog(state);
    return;
  }
  // The key state is asked only when no error already decided that the log is shown.
  const bool wanted = errors || (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0;
  if (!wanted && rebootDeletes == 0) return;
  const bool seen = LogDialogCanBeSeen(state);
  if (wanted && seen && ShowLogDialog(state, parentWindow)) return;
  // Someone at the screen of a run that only leaves files for the reboot hears it from the
  // setup program; nobody there, or a dialog that failed, leaves the log as the only explanation.
  if ((errors || rebootDeletes != 0) && (wanted || !seen)) ReportLogToEventLog(state);
}
