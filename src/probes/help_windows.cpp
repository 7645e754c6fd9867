// Closes the product's open help viewer windows before files are removed or replaced.
#include "platform/win32.h"
#include "probes/probes.h"

namespace {
const int kCloseAttempts = 100;  // 50 ms apart: about 5 seconds
const DWORD kClosePauseMs = 50;
}  // namespace

// A window may be asked again while it is still closing. A window that refuses to close must
// not hang the installer: after the last attempt the run goes on with it open.
void CloseHelpWindows() {
  for (int attempt = 0; attempt < kCloseAttempts; ++attempt) {
    HWND window = FindWindowW(TEXT("HH Parent"), TEXT("Marbleleaf Help"));
    if (!window) return;
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    Sleep(kClosePauseMs);
  }
}
