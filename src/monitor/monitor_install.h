// Registering the product's port monitor: its module copied into the system folder, the monitor
// added, and the printers that its removal moved to "file:" moved back.
#pragma once

struct InstallerState;

void InstallMonitor(InstallerState* state);
