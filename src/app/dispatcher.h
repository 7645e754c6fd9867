// The program's entry: split the command line, read the parent window, match the verb, run it,
// and turn its result into the exit code.
#pragma once
#include "platform/win32.h"

enum Verb {
  kVerbNone,
  kVerbCheckDriver,   // "onChkDrv"
  kVerbInit,          // "onInit"
  kVerbUninstall,     // "un", "uninstall"
  kVerbRemoveTray,    // "removetray"
  kVerbInstall,       // "in", "install", "serverinstall"
  kVerbSetDefault,    // "def.set"
};

Verb MatchVerb(LPCWSTR argument);
// Converts as wcstol does in base 10: blanks skipped, optional sign, digits up to the first other
// character, 0 without digits, clamped to the 32-bit range.
LONG ParseDecimal(LPCWSTR text);
HWND ParentWindowFromArguments(int count, LPWSTR* arguments);
// The file named by a "/LOG=<file>" argument (any letter case) after the verb, or null. With it
// an install or uninstall run writes its log there and shows no dialog.
LPCWSTR LogFileFromArguments(int count, LPWSTR* arguments);
int ExitCodeForRun(bool errorsCounted, DWORD rebootDeletes, int successCode);
int RunInstaller(HINSTANCE instance);
