// What the installer and the tray companion agree on: the mutex the running companion holds,
// its window's class, the message that asks it to exit, and where Windows starts it at logon.
#pragma once
#include "platform/win32.h"

// Session-local: each signed-in user's companion holds its own session's mutex.
#define TRAY_MUTEX_NAME "{A9CA955A-0A8A-4C32-AAC6-888FB5F83BDC}"
#define TRAY_WINDOW_CLASS TEXT("mbs::{05759F8E-103D-41B6-8A61-EFAA89516692}")
const UINT kTrayExitMessage = WM_USER + 2;

#define TRAY_RUN_KEY "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"
#define TRAY_RUN_VALUE "MarbleleafTray"
