// The command line is whatever the caller typed. The fuzzer's bytes (UTF-16, little-endian) are
// the process's command line: it is split as shell32 splits it, every argument is matched against
// the verbs, the parent window is read from the third argument, and the whole dispatcher runs on
// a machine with nothing on it (one window, which a parsed number may name). Every verb then has
// next to nothing to do, so a run stays short. Nothing may be read outside the split block (ASan),
// the exit code must be one the program can give, and no block may be left behind.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/dispatcher.h"
#include "winsim/machine.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

bool KnownExitCode(int code) {
  switch (code) {
    case 1: case 2: case 3: case 4: case 6: case 100: case 101: case 102: case 103: case 200:
      return true;
    default:
      return false;
  }
}

// The exit code a verb gives on an empty machine is bounded by what the verb can return.
bool ExitCodeFitsVerb(Verb verb, int code) {
  switch (verb) {
    case kVerbNone: return code == 6;
    case kVerbRemoveTray: return code == 6;
    case kVerbSetDefault: return code == 4;
    case kVerbCheckDriver: return code == 3 || code == 103;
    case kVerbInit: return code == 3 || code == 102 || code == 200;
    case kVerbUninstall: return code == 2 || code == 100 || code == 101;
    case kVerbInstall: return code == 1 || code == 100 || code == 101;
  }
  return false;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string line;
  for (size_t i = 0; i + 1 < size && line.size() < 4096; i += 2) {
    const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (unit == 0) break;
    line.push_back(unit);
  }

  winsim::Reset();
  winsim::AddWindow(u"SetupFrame", u"Setup");  // handle 65536: a parsed number may name it
  winsim::M().commandLine = line;

  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(line.c_str(), &count);
  Check(arguments != nullptr && count >= 1);
  Verb verb = kVerbNone;
  for (int i = 0; i < count; ++i) {
    Check(arguments[i] != nullptr);
    const Verb matched = MatchVerb(arguments[i]);
    if (i == 1) verb = matched;
  }
  const HWND parent = ParentWindowFromArguments(count, arguments);
  Check(parent == nullptr || count == 3);
  // The log file's name lies inside an argument after the verb, behind its "/LOG=".
  const LPCWSTR logFile = LogFileFromArguments(count, arguments);
  bool inside = logFile == nullptr;
  for (int i = 2; i < count && !inside; ++i)
    inside = logFile == arguments[i] + 5 && lstrlenW(arguments[i]) >= 5;
  Check(inside);
  LocalFree(arguments);

  const int code = RunInstaller(nullptr);
  Check(KnownExitCode(code));
  Check(ExitCodeFitsVerb(verb, code));
  Check(winsim::M().localBlocks == 0);
  Check(winsim::M().globalBlocks == 0);
  return 0;
}
