#include "log/log_file.h"

#include "app/installer_state.h"
#include "support/counted_string.h"

bool WriteLogFile(const InstallerState* state, LPCWSTR path) {
  // Readers may look at it while the setup program still runs; nobody may change it meanwhile.
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const WCHAR byteOrderMark = 0xFEFF;
  DWORD written = 0;
  bool complete = WriteFile(file, &byteOrderMark, sizeof(byteOrderMark), &written, nullptr) &&
                  written == sizeof(byteOrderMark);
  const DWORD bytes = static_cast<DWORD>(Length(state->logText) * sizeof(WCHAR));
  if (complete && bytes != 0) {
    complete = WriteFile(file, Text(state->logText), bytes, &written, nullptr) && written == bytes;
  }
  CloseHandle(file);
  return complete;
}
