// Temporary until the model of other processes' objects lands: no such objects exist yet.
#include "winsim/machine.h"

bool winsim::CloseDesktopObject(HANDLE) { return false; }
