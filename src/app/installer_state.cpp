#include "app/installer_state.h"

#include <cstdarg>
#include <cstring>

#include "app/product.h"
#include "driver/platform.h"
#include "support/wide_format.h"
#include "system/pending_files.h"
#include "system/spooler_service.h"

HINSTANCE programInstance = nullptr;

namespace {
const size_t kLineUnits = 1024;
const int kMaxIndentLevels = 10;

void StoreSystemDir(InstallerState* state) {
  if (!QuerySystemDir(state->systemDir)) LogError(state, 7, TEXT("Can`t retrieve system directory."));
}
}  // namespace

// Keeps the part of the executable's path up to and including its last separator.
void QueryInstallerDir(CountedString& installerDir) {
  WCHAR path[MAX_PATH] = {0};
  GetModuleFileNameW(programInstance, path, MAX_PATH);
  path[MAX_PATH - 1] = 0;
  int cut = 0;
  for (int i = 0; path[i]; ++i)
    if (path[i] == TEXT('\\') || path[i] == TEXT('/') || path[i] == TEXT(':')) cut = i + 1;
  path[cut] = 0;
  Assign(installerDir, path);
}

bool QuerySystemDir(CountedString& systemDir) {
  WCHAR path[MAX_PATH + 1] = {0};
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0) return false;
  if (length >= MAX_PATH) return true;  // the folder does not fit; leave it empty rather than read garbage
  if (path[0] && path[length - 1] != TEXT('\\')) lstrcatW(path, TEXT("\\"));
  Assign(systemDir, path);
  return true;
}

InstallerState* InitInstallerState(InstallerState* state) {
  std::memset(state, 0, sizeof(*state));
  LogLine(state, TEXT("Marbleleaf %d"), kProductBuild);
  state->checkMonitorVersion = false;
  state->installMonitor = true;
  state->copyMonitor = true;
  state->monitorFile = nullptr;
  CheckSpooler(state);
  state->serverMode = true;
  SelectPlatform(state, true);
  state->repointedPrinters = nullptr;
  state->repointedPorts = nullptr;
  QueryInstallerDir(state->installerDir);
  StoreSystemDir(state);
  MarkDefaultPrinter(state);
  return state;
}

void FreeInstallerState(InstallerState* state) {
  if (state->repointedPrinters) GlobalFree(state->repointedPrinters);
  state->repointedPrinters = nullptr;
  if (state->repointedPorts) GlobalFree(state->repointedPorts);
  state->repointedPorts = nullptr;
  ReleasePrinterInventory(&state->printers);
  FreeSavedPrinters(&state->savedPrinters);
  FreeDeferredDeletes(&state->deferredDeletes);
  Release(state->driverDir);
  Release(state->logText);
  Release(state->systemDir);
  Release(state->installerDir);
}

void LogAppend(InstallerState* state, LPCWSTR text) {
  if (state->depth > 0) {
    WCHAR indent[2 * kMaxIndentLevels + 1];
    const int levels = state->depth < kMaxIndentLevels ? state->depth : kMaxIndentLevels;
    for (int i = 0; i < 2 * levels; ++i) indent[i] = TEXT(' ');
    indent[2 * levels] = 0;
    Append(state->logText, indent);
  }
  if (text && text[0]) Append(state->logText, text);
  Append(state->logText, TEXT("\r\n"));
}

void LogLine(InstallerState* state, LPCWSTR format, ...) {
  WCHAR line[kLineUnits];
  va_list args;
  va_start(args, format);
  FormatWideV(line, kLineUnits, format, args);
  va_end(args);
  LogAppend(state, line);
}

void LogError(InstallerState* state, DWORD errorNumber, LPCWSTR format, ...) {
  const DWORD code = GetLastError();
  WCHAR line[kLineUnits];
  size_t used = FormatWide(line, kLineUnits, TEXT("Error(%d): "), static_cast<int>(errorNumber));
  va_list args;
  va_start(args, format);
  used += FormatWideV(line + used, kLineUnits - used, format, args);
  va_end(args);
  LPWSTR systemText = nullptr;
  if (code != 0) {
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                       nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                       reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
    if (length && systemText) {
      int end = lstrlenW(systemText);
      while (end > 0 && (systemText[end - 1] == TEXT('\r') || systemText[end - 1] == TEXT('\n'))) --end;
      systemText[end] = 0;
      FormatWide(line + used, kLineUnits - used, TEXT(" - (%s)"), systemText);
    } else {
      FormatWide(line + used, kLineUnits - used, TEXT(" - ( No Description )"));
    }
  }
  LogAppend(state, line);
  state->errorCount++;
  if (systemText) LocalFree(systemText);
  SetLastError(code);  // callers may still read the failure they just reported
}
