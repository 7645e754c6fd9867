// The product's local port monitor. It owns one port, "MarbleleafServer:",
// and stores every job sent to it as a file, job-<id>.prn, in the job folder:
// the value "JobFolder" under HKLM\SOFTWARE\Marbleleaf, else C:\marbleleaf-jobs.
// Built for x64 and x86 from this one source.
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

namespace {

const WCHAR kPortName[] = L"MarbleleafServer:";
const WCHAR kMonitorName[] = L"MarbleleafServer:";
const WCHAR kDescription[] = L"Marbleleaf Server Port";
const WCHAR kDefaultJobFolder[] = L"C:\\marbleleaf-jobs";

struct Port {
    HANDLE file;
    HANDLE printer;  // for telling the spooler that the job has gone out
    DWORD jobId;
    WCHAR path[MAX_PATH + 32];  // where the finished job goes
};

LONG g_sequence = 0;  // names jobs that the spooler gives no id

void JobFolder(WCHAR* folder, DWORD capacity) {
    HKEY key;
    lstrcpynW(folder, kDefaultJobFolder, (int)capacity);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Marbleleaf", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD type = 0;
    WCHAR value[MAX_PATH] = {};
    DWORD size = sizeof(value) - sizeof(WCHAR);
    if (RegQueryValueExW(key, L"JobFolder", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && value[0] != 0)
        lstrcpynW(folder, value, (int)capacity);
    RegCloseKey(key);
}

// Records first, their strings packed behind them, as the spooler expects.
BOOL WINAPI MonEnumPorts(HANDLE, LPWSTR, DWORD level, LPBYTE ports, DWORD cbBuf, LPDWORD needed, LPDWORD returned) {
    if (needed == nullptr || returned == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *returned = 0;
    DWORD strings = sizeof(kPortName);
    DWORD record;
    if (level == 1) {
        record = sizeof(PORT_INFO_1W);
    } else if (level == 2) {
        record = sizeof(PORT_INFO_2W);
        strings += sizeof(kMonitorName) + sizeof(kDescription);
    } else {
        *needed = 0;
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    *needed = record + strings;
    if (ports == nullptr || cbBuf < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* text = reinterpret_cast<WCHAR*>(ports + record);
    auto place = [&text](const WCHAR* s, DWORD bytes) {
        WCHAR* at = text;
        CopyMemory(at, s, bytes);
        text += bytes / sizeof(WCHAR);
        return at;
    };
    if (level == 1) {
        auto* info = reinterpret_cast<PORT_INFO_1W*>(ports);
        info->pName = place(kPortName, sizeof(kPortName));
    } else {
        auto* info = reinterpret_cast<PORT_INFO_2W*>(ports);
        info->pPortName = place(kPortName, sizeof(kPortName));
        info->pMonitorName = place(kMonitorName, sizeof(kMonitorName));
        info->pDescription = place(kDescription, sizeof(kDescription));
        info->fPortType = PORT_TYPE_WRITE;
        info->Reserved = 0;
    }
    *returned = 1;
    return TRUE;
}

BOOL WINAPI MonOpenPort(HANDLE, LPWSTR name, PHANDLE handle) {
    if (name == nullptr || handle == nullptr || lstrcmpiW(name, kPortName) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* port = static_cast<Port*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Port)));
    if (port == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    port->file = INVALID_HANDLE_VALUE;
    *handle = port;
    return TRUE;
}

void FinishJob(Port* port) {
    if (port->file != INVALID_HANDLE_VALUE) {
        CloseHandle(port->file);
        port->file = INVALID_HANDLE_VALUE;
    }
    if (port->printer != nullptr) {
        SetJobW(port->printer, port->jobId, 0, nullptr, JOB_CONTROL_SENT_TO_PRINTER);
        ClosePrinter(port->printer);
        port->printer = nullptr;
    }
}

BOOL WINAPI MonStartDocPort(HANDLE handle, LPWSTR printerName, DWORD jobId, DWORD, LPBYTE) {
    auto* port = static_cast<Port*>(handle);
    if (port == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    FinishJob(port);
    port->jobId = jobId;
    if (printerName == nullptr || !OpenPrinterW(printerName, &port->printer, nullptr))
        port->printer = nullptr;

    WCHAR folder[MAX_PATH];
    JobFolder(folder, MAX_PATH);
    CreateDirectoryW(folder, nullptr);
    DWORD number = jobId != 0 ? jobId : (DWORD)InterlockedIncrement(&g_sequence) + 100000;
    wsprintfW(port->path, L"%s\\job-%u.prn", folder, number);
    // Written under a temporary name and renamed at the end, so that a reader never sees half a job.
    WCHAR partial[MAX_PATH + 40];
    wsprintfW(partial, L"%s.part", port->path);
    port->file = CreateFileW(partial, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port->file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        FinishJob(port);
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI MonWritePort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD written) {
    auto* port = static_cast<Port*>(handle);
    if (written) *written = 0;
    if (port == nullptr || port->file == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD done = 0;
    BOOL ok = WriteFile(port->file, buffer, size, &done, nullptr);
    if (written) *written = done;
    return ok;
}

BOOL WINAPI MonReadPort(HANDLE, LPBYTE, DWORD, LPDWORD read) {
    if (read) *read = 0;  // a file-backed port has nothing to say back
    return TRUE;
}

BOOL WINAPI MonEndDocPort(HANDLE handle) {
    auto* port = static_cast<Port*>(handle);
    if (port == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (port->file != INVALID_HANDLE_VALUE) {
        WCHAR partial[MAX_PATH + 40];
        wsprintfW(partial, L"%s.part", port->path);
        CloseHandle(port->file);
        port->file = INVALID_HANDLE_VALUE;
        MoveFileExW(partial, port->path, MOVEFILE_REPLACE_EXISTING);
    }
    FinishJob(port);
    return TRUE;
}

BOOL WINAPI MonClosePort(HANDLE handle) {
    auto* port = static_cast<Port*>(handle);
    if (port == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    FinishJob(port);
    HeapFree(GetProcessHeap(), 0, port);
    return TRUE;
}

VOID WINAPI MonShutdown(HANDLE) {}

MONITOR2 g_monitor;
int g_monitorHandle;  // the spooler only needs a non-null token back

}  // namespace

extern "C" __declspec(dllexport) LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor) {
    if (monitor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Record the port under the monitor's own key where the spooler offers one,
    // the documented place for a monitor's port list.
    if (init != nullptr && init->pMonitorReg != nullptr && init->pMonitorReg->fpCreateKey != nullptr) {
        HANDLE ports = nullptr;
        DWORD disposition = 0;
        if (init->pMonitorReg->fpCreateKey(init->hckRegistryRoot, L"Ports\\MarbleleafServer:", 0, KEY_ALL_ACCESS,
                                           nullptr, &ports, &disposition, init->hSpooler) == ERROR_SUCCESS &&
            init->pMonitorReg->fpCloseKey != nullptr)
            init->pMonitorReg->fpCloseKey(ports, init->hSpooler);
    }
    ZeroMemory(&g_monitor, sizeof(g_monitor));
    g_monitor.cbSize = sizeof(g_monitor);
    g_monitor.pfnEnumPorts = MonEnumPorts;
    g_monitor.pfnOpenPort = MonOpenPort;
    g_monitor.pfnStartDocPort = MonStartDocPort;
    g_monitor.pfnWritePort = MonWritePort;
    g_monitor.pfnReadPort = MonReadPort;
    g_monitor.pfnEndDocPort = MonEndDocPort;
    g_monitor.pfnClosePort = MonClosePort;
    g_monitor.pfnShutdown = MonShutdown;
    *monitor = &g_monitorHandle;
    return &g_monitor;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
