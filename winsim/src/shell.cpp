// shell32 and the command line: GetCommandLineW and CommandLineToArgvW with the Windows rules.
//
// Where Wine 8 differs from Windows: nothing the product relies on.
// Not modelled: the rest of shell32.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "winsim/machine.h"

using winsim::M;

LPWSTR WINAPI GetCommandLineW() {
  M().calls["GetCommandLineW"]++;
  return const_cast<LPWSTR>(M().commandLine.c_str());
}

// The rules of shell32: argument 0 runs to the closing quote or the first blank with no escapes;
// later arguments follow 2n backslashes + quote -> n backslashes and a quote toggle, 2n+1 backslashes
// + quote -> n backslashes and a literal quote, and inside quotes a doubled quote is a literal quote.
// The result is one LocalAlloc block: the pointer array followed by the strings.
LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR commandLine, int* count) {
  WINSIM_ENTER("CommandLineToArgvW", nullptr);
  if (!count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::vector<std::u16string> args;
  const char16_t* s = commandLine;
  if (!s || !*s) {
    args.push_back(M().modulePath);
  } else {
    std::u16string arg0;
    if (*s == u'"') {
      ++s;
      while (*s && *s != u'"') arg0 += *s++;
      if (*s == u'"') ++s;
    } else {
      while (*s && *s != u' ' && *s != u'\t') arg0 += *s++;
    }
    args.push_back(arg0);
    while (*s == u' ' || *s == u'\t') ++s;
    if (*s) {
      std::u16string current;
      int backslashes = 0, quotes = 0;
      bool inArg = true;
      while (*s) {
        if ((*s == u' ' || *s == u'\t') && quotes == 0) {
          args.push_back(current);
          current.clear();
          backslashes = 0;
          while (*s == u' ' || *s == u'\t') ++s;
          inArg = *s != 0;
          continue;
        }
        if (*s == u'\\') {
          current += *s++;
          ++backslashes;
          continue;
        }
        if (*s == u'"') {
          if ((backslashes & 1) == 0) {
            current.resize(current.size() - backslashes / 2);
            ++quotes;
          } else {
            current.resize(current.size() - backslashes / 2 - 1);
            current += u'"';
          }
          ++s;
          backslashes = 0;
          while (*s == u'"') {
            if (++quotes == 3) {
              current += u'"';
              quotes = 0;
            }
            ++s;
          }
          if (quotes == 2) quotes = 0;
          continue;
        }
        current += *s++;
        backslashes = 0;
      }
      if (inArg) args.push_back(current);
    }
  }
  size_t bytes = (args.size() + 1) * sizeof(LPWSTR);
  for (const auto& a : args) bytes += (a.size() + 1) * sizeof(WCHAR);
  char* block = static_cast<char*>(std::calloc(bytes, 1));
  M().localBlocks++;
  LPWSTR* argv = reinterpret_cast<LPWSTR*>(block);
  WCHAR* text = reinterpret_cast<WCHAR*>(block + (args.size() + 1) * sizeof(LPWSTR));
  for (size_t i = 0; i < args.size(); ++i) {
    argv[i] = text;
    std::memcpy(text, args[i].c_str(), (args[i].size() + 1) * sizeof(WCHAR));
    text += args[i].size() + 1;
  }
  *count = static_cast<int>(args.size());
  return argv;
}
