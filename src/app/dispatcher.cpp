#include "app/dispatcher.h"

#include <climits>

#include "app/installer_state.h"
#include "app/procedures.h"
#include "probes/probes.h"
#include "support/ascii_text.h"
#include "tray/tray.h"

namespace {
struct VerbRow {
  LPCWSTR text;
  Verb verb;
};

// In the order they are tried; the first match decides.
const VerbRow kCaseInsensitiveVerbs[] = {
    {TEXT("onChkDrv"), kVerbCheckDriver}, {TEXT("onInit"), kVerbInit},
    {TEXT("un"), kVerbUninstall},         {TEXT("uninstall"), kVerbUninstall},
    {TEXT("removetray"), kVerbRemoveTray}, {TEXT("in"), kVerbInstall},
    {TEXT("install"), kVerbInstall},      {TEXT("serverinstall"), kVerbInstall},
};

const WCHAR kLogFileSwitch[] = TEXT("/LOG=");

bool StartsWithAsciiNoCase(LPCWSTR text, LPCWSTR prefix) {
  for (; *prefix; ++text, ++prefix)
    if (AsciiUpper(*text) != AsciiUpper(*prefix)) return false;
  return true;
}

bool IsBlank(WCHAR c) { return c == TEXT(' ') || (c >= 9 && c <= 13); }
}  // namespace

Verb MatchVerb(LPCWSTR argument) {
  if (!argument) return kVerbNone;
  for (const VerbRow& row : kCaseInsensitiveVerbs)
    if (EqualsAsciiNoCase(argument, row.text)) return row.verb;
  if (EqualsExactly(argument, TEXT("def.set"))) return kVerbSetDefault;
  return kVerbNone;
}

LONG ParseDecimal(LPCWSTR text) {
  while (IsBlank(*text)) ++text;
  bool negative = false;
  if (*text == TEXT('+') || *text == TEXT('-')) negative = *text++ == TEXT('-');
  long long value = 0;
  for (; *text >= TEXT('0') && *text <= TEXT('9'); ++text) {
    value = value * 10 + (*text - TEXT('0'));
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<LONG>(value);
}

HWND ParentWindowFromArguments(int count, LPWSTR* arguments) {
  if (count != 3) return nullptr;
  // The handle is the 32-bit number widened with its sign, as a window handle is passed on.
  HWND window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(ParseDecimal(arguments[2])));
  return IsWindow(window) ? window : nullptr;
}

LPCWSTR LogFileFromArguments(int count, LPWSTR* arguments) {
  for (int i = 2; i < count; ++i)
    if (StartsWithAsciiNoCase(arguments[i], kLogFileSwitch)) return arguments[i] + lstrlenW(kLogFileSwitch);
  return nullptr;
}

int ExitCodeForRun(bool errorsCounted, DWORD rebootDeletes, int successCode) {
  if (errorsCounted) return 100;
  if (rebootDeletes != 0) return 101;
  return successCode;
}

namespace {
int RunVerb(Verb verb, HWND parentWindow, LPCWSTR logFile) {
  DWORD rebootDeletes = 0;
  switch (verb) {
    case kVerbCheckDriver:
      return ProbeDriverCurrent() ? 103 : 3;
    case kVerbInit:
      if (ProbePendingProductFiles()) return 200;
      return ProbeDefaultPrinterIsOther() ? 102 : 3;
    case kVerbUninstall: {
      CloseHelpWindows();
      const bool errors = RunUninstall(parentWindow, &rebootDeletes, logFile);
      return ExitCodeForRun(errors, rebootDeletes, 2);
    }
    case kVerbRemoveTray:
      StopTray();
      return 6;
    case kVerbInstall: {
      CloseHelpWindows();
      const bool errors = RunReinstall(parentWindow, &rebootDeletes, logFile);
      return ExitCodeForRun(errors, rebootDeletes, 1);
    }
    case kVerbSetDefault:
      SetDefaultToProductPrinter();
      return 4;
    case kVerbNone:
      break;
  }
  return 6;
}
}  // namespace

int RunInstaller(HINSTANCE instance) {
  programInstance = instance;
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments || count < 2) {
    if (arguments) LocalFree(arguments);
    return 6;
  }
  // The log file's name points into the argument vector, which lives until the run is over.
  const LPCWSTR logFile = LogFileFromArguments(count, arguments);
  const HWND parentWindow = logFile ? nullptr : ParentWindowFromArguments(count, arguments);
  const int exitCode = RunVerb(MatchVerb(arguments[1]), parentWindow, logFile);
  LocalFree(arguments);
  return exitCode;
}
