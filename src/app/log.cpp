#include "app/log.h"

#include <cstdarg>

#include "app/installer_state.h"
#include "support/counted_string.h"
#include "support/system_message.h"
#include "support/wide_format.h"

namespace {
const size_t kLineUnits = 1024;
const int kMaxIndentLevels = 10;
}  // namespace

LogSection::LogSection(InstallerState* state, int levels) : state_(state), levels_(levels) {
  if (state_) state_->depth += levels_;
}

LogSection::~LogSection() {
  if (state_) state_->depth -= levels_;
}

void LogAppend(InstallerState* state, LPCWSTR text) {
  if (!state) return;
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
  if (!state) return;
  WCHAR line[kLineUnits];
  va_list args;
  va_start(args, format);
  FormatWideV(line, kLineUnits, format, args);
  va_end(args);
  LogAppend(state, line);
}

void LogError(InstallerState* state, DWORD errorNumber, LPCWSTR format, ...) {
  if (!state) return;  // the last error stays as it is
  const DWORD code = GetLastError();
  WCHAR line[kLineUnits];
  size_t used = FormatWide(line, kLineUnits, TEXT("Error(%d): "), static_cast<int>(errorNumber));
  va_list args;
  va_start(args, format);
  used += FormatWideV(line + used, kLineUnits - used, format, args);
  va_end(args);
  LPWSTR systemText = nullptr;
  if (code != 0) {
    systemText = SystemMessage(code);
    if (systemText) {
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
