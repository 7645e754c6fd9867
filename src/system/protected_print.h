// Windows protected print mode: on, Windows allows no third-party printer driver or port monitor.
// Read only: the program never writes any of its settings.
#pragma once
#include "platform/win32.h"

enum ProtectedPrint {
  kProtectedPrintOff,       // off, or Windows could not tell and no policy turns it on
  kProtectedPrintOn,        // turned on in Settings
  kProtectedPrintByPolicy,  // turned on by Group Policy or device management
};

// Windows' own answer where it has one (build 26100 and later); the policy value decides
// whatever that answer is, since an organisation that set it has decided.
ProtectedPrint DetectProtectedPrint();
