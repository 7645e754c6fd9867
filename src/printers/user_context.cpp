#include "printers/user_context.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "printers/printer_inventory.h"
#include "support/ascii_text.h"

namespace {
const DWORD kDefaultNameChars = 255;

void LogNotReturned(InstallerState* state) {
  LogError(state, 15, TEXT("Can`t return from the signed-in user's context"));
}
}  // namespace

void MarkDefaultPrinter(InstallerState* state) {
  ActingForUser user = BeginActingForUser();
  state->actsForUser = user.acting;
  EnumerateLocalPrinters(&state->printers);
  LPCWSTR sidCall = nullptr;
  const bool sidRead = ReadAccountSid(user.acting ? user.token : nullptr, state->userSid, &sidCall);
  const DWORD sidError = GetLastError();
  // One unit more than the spooler is offered, so the name is terminated whatever it writes.
  WCHAR name[kDefaultNameChars + 1] = {0};
  DWORD capacity = kDefaultNameChars;
  // The running account's own default is nobody's choice: none is kept without a user.
  const BOOL found = user.acting && GetDefaultPrinterW(name, &capacity);
  const bool acted = user.acting;
  if (!EndActingForUser(&user)) {
    LogNotReturned(state);
    return;
  }
  if (!acted)
    LogLine(state, TEXT("The default printer is not kept: no signed-in user to act for (%s, %d)"), user.failedCall,
            static_cast<int>(user.error));
  if (!sidRead)
    LogLine(state, TEXT("Can`t tell whose printer connections these are (%s, %d): none is journaled"), sidCall,
            static_cast<int>(sidError));
  if (!found) return;
  for (DWORD i = 0; i < state->printers.count; ++i) {
    PRINTER_INFO_2W& entry = state->printers.entries[i];
    if (EqualsExactly(entry.pPrinterName, name)) entry.Attributes |= PRINTER_ATTRIBUTE_DEFAULT;
  }
}

bool EnterUserContext(InstallerState* state, ActingForUser* user) {
  *user = ActingForUser{nullptr, false, nullptr, 0};
  if (!state->actsForUser) return true;
  *user = BeginActingForUser();
  if (user->acting) return true;
  SetLastError(user->error);
  LogError(state, 15, TEXT("Can`t act for the signed-in user (%s)"), user->failedCall);
  return false;
}

void LeaveUserContext(InstallerState* state, ActingForUser* user) {
  if (!EndActingForUser(user)) LogNotReturned(state);
}
