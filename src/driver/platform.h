// The driver environment of the run, and installing the product driver into it.
#pragma once
#include "platform/win32.h"

struct InstallerState;

void SelectPlatform(InstallerState* state, bool isX64);
void InstallDriver(InstallerState* state);
bool AddProductDriver(DRIVER_INFO_6W* driverInfo);
