// Questions the setup program asks through the exit code, help windows, the default printer.
#pragma once
#include "platform/win32.h"

void CloseHelpWindows();
bool ProbePendingProductFiles();
bool ProbeDefaultPrinterIsOther();
bool ProbeDriverCurrent();
// The signed-in user's default printer becomes the first product printer (whether that succeeds
// is not reported); false when there was nobody to act for, so nothing was done.
bool SetDefaultToProductPrinter();
