// The tray companion: ask it to exit and remove it; register and start it.
#pragma once

struct InstallerState;

void StopTray();
void RegisterAndStartTray(InstallerState* state);
