// Installing the product driver into the run's environment: its files staged in the driver folder,
// the driver added, the staged copies deleted.
#pragma once

struct InstallerState;

void InstallDriver(InstallerState* state);
