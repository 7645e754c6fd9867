// The Windows entry point of install.exe. Only the instance is used: the command line is read
// whole, in UTF-16, by the dispatcher.
#include "app/dispatcher.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return RunInstaller(instance); }
