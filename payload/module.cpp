// The driver and user-interface modules. The installer only copies and
// registers them and reads their version resource. The spooler asks the
// user-interface module for a printer's default DEVMODE while it creates the
// printer (Wine calls these entry points without checking they exist), so
// both modules answer that request with a plain DEVMODE and no capabilities.
#include <windows.h>

namespace {

// DOCUMENTPROPERTYHEADER of the DDK (winddiui.h), which MinGW doesn't ship.
struct DocumentPropertyHeader {
    WORD cbSize;
    WORD Reserved;
    HANDLE hPrinter;
    LPWSTR pszPrinterName;
    DEVMODEW* pdmIn;
    DEVMODEW* pdmOut;
    DWORD cbOut;
    DWORD fMode;
};

}  // namespace

extern "C" {

__declspec(dllexport) LONG WINAPI DrvDocumentPropertySheets(void* sheetInfo, LPARAM param) {
    auto* header = reinterpret_cast<DocumentPropertyHeader*>(param);
    if (sheetInfo != nullptr || header == nullptr) return -1;
    if (header->fMode == 0 || header->pdmOut == nullptr) {
        header->cbOut = sizeof(DEVMODEW);
        return static_cast<LONG>(sizeof(DEVMODEW));
    }
    if (header->cbOut < sizeof(DEVMODEW)) return -1;
    DEVMODEW* out = header->pdmOut;
    ZeroMemory(out, sizeof(DEVMODEW));
    if (header->pszPrinterName != nullptr) lstrcpynW(out->dmDeviceName, header->pszPrinterName, CCHDEVICENAME);
    out->dmSpecVersion = DM_SPECVERSION;
    out->dmSize = sizeof(DEVMODEW);
    return IDOK;
}

__declspec(dllexport) DWORD WINAPI DrvDeviceCapabilities(HANDLE, LPWSTR, WORD, void*, DEVMODEW*) {
    return 0;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
