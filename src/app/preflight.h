// Before an install removes anything: the causes that would keep it from finishing, known in
// advance. Reads facts from the subsystems that know them and changes nothing.
#pragma once

struct InstallerState;

// Logs one counted error and returns true when the installation cannot finish on this machine:
// protected print mode is on, Windows does not run on x64, or a product file in the installer's
// folder is missing or of another build.
bool InstallCannotFinish(InstallerState* state);
