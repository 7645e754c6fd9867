// The driver and user-interface modules. The installer only copies and
// registers them and reads their version resource; the spooler never renders
// through them in our tests, so they stay empty.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
