// Questions the setup program asks through the exit code, help windows, the default printer.
#pragma once
#include "platform/win32.h"

void CloseHelpWindows();
bool ProbePendingProductFiles();
bool ProbeDefaultPrinterIsOther();
bool ProbeDriverCurrent();
void SetDefaultToProductPrinter();
