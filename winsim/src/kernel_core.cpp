// kernel32: thread last-error, system message texts, the global and local heaps, string helpers,
// the module and system folders, code-page conversion and time.
//
// Where Wine 8 differs from Windows: successful calls often leave a stale last error; the product
// reads it only after a failure.
// Not modelled: locales other than English and German message texts, code pages other than UTF-8
// and the ANSI one given by the machine, heaps beyond counting their blocks.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "winsim/machine.h"

using winsim::M;

namespace {

struct SystemText {
  DWORD code;
  const char* text;  // English (United States), as FormatMessageW returns it, with CR LF
};

// The English system texts of every code winsim can produce.
const SystemText kSystemTexts[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {124, "The system call level is not correct.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {127, "The specified procedure could not be found.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {193, "%1 is not a valid Win32 application.\r\n"},
    {234, "More data is available.\r\n"},
    {288, "Attempt to release mutex not owned by caller.\r\n"},
    {259, "No more data is available.\r\n"},
    {613, "The system has reached the maximum size allowed for the system part of the registry. Additional "
          "storage requests will be ignored.\r\n"},
    {1051, "A stop control has been sent to a service that other running services are dependent on.\r\n"},
    {1053, "The service did not respond to the start or control request in a timely fashion.\r\n"},
    {1056, "An instance of the service is already running.\r\n"},
    {1058, "The service cannot be started, either because it is disabled or because it has no enabled devices "
           "associated with it.\r\n"},
    {1060, "The specified service does not exist as an installed service.\r\n"},
    {1061, "The service cannot accept control messages at this time.\r\n"},
    {1062, "The service has not been started.\r\n"},
    {1067, "The process terminated unexpectedly.\r\n"},
    {1215, "The format of the specified share name is invalid.\r\n"},
    {1223, "The operation was canceled by the user.\r\n"},
    {1337, "The security ID structure is invalid.\r\n"},
    {1400, "Invalid window handle.\r\n"},
    {1722, "The RPC server is unavailable.\r\n"},
    {1734, "The array bounds are invalid.\r\n"},
    {1780, "A null reference pointer was passed to the stub.\r\n"},
    {1784, "The supplied user buffer is not valid for the requested operation.\r\n"},
    {1796, "The specified port is unknown.\r\n"},
    {1797, "The printer driver is unknown.\r\n"},
    {1798, "The print processor is unknown.\r\n"},
    {1801, "The printer name is invalid.\r\n"},
    {1802, "The printer already exists.\r\n"},
    {1804, "The specified datatype is invalid.\r\n"},
    {1805, "The environment specified is invalid.\r\n"},
    {1812, "The specified image file did not contain a resource section.\r\n"},
    {1813, "The specified resource type cannot be found in the image file.\r\n"},
    {1814, "The specified resource name cannot be found in the image file.\r\n"},
    {3000, "The specified print monitor is unknown.\r\n"},
    {3001, "The specified printer driver is currently in use.\r\n"},
    {3006, "The specified print monitor has already been installed.\r\n"},
    {3008, "The specified print monitor is currently in use.\r\n"},
    {3014, "The printer driver is known to harm the system.\r\n"},
    {3019, "The specified printer driver was not found on the system and needs to be downloaded.\r\n"},
    {0x80004005, "Unspecified error\r\n"},
    {0x8007000E, "Not enough memory resources are available to complete this operation.\r\n"},
};

// A few texts of a German Windows (1031), for runs on a machine without English texts; codes not
// listed here have no German text in the model.
const SystemText kGermanTexts[] = {
    {2, "Das System kann die angegebene Datei nicht finden.\r\n"},
    {5, "Zugriff verweigert\r\n"},
    {1722, "Der RPC-Server ist nicht verf\xfcgbar.\r\n"},
};

const DWORD kMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND

// Whether the text holds an insert sequence (%1 to %99) that needs an argument.
bool HasInserts(const char* text) {
  for (; *text; ++text)
    if (text[0] == '%' && text[1] >= '1' && text[1] <= '9') return true;
  return false;
}

}  // namespace

DWORD WINAPI GetLastError() { return M().lastError; }
void WINAPI SetLastError(DWORD code) { M().lastError = code; }

// Only the form the product uses: FROM_SYSTEM, with ALLOCATE_BUFFER (the result freed with
// LocalFree) or a buffer of the caller's. Language 0 means the system's own; any other language
// must be the one the system's texts are in, else 15100. Without IGNORE_INSERTS a text with
// insert sequences needs arguments: with none, the call fails with 87.
DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                            void* arguments) {
  WINSIM_ENTER("FormatMessageW", 0);
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM)) {
    SetLastError(kMessageNotFound);
    return 0;
  }
  const WORD system = M().messageLanguage;
  if (languageId != 0 && languageId != system) {
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return 0;
  }
  const char* text = nullptr;
  if (system == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) {
    for (const SystemText& entry : kSystemTexts)
      if (entry.code == messageId) text = entry.text;
  } else if (system == MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)) {
    for (const SystemText& entry : kGermanTexts)
      if (entry.code == messageId) text = entry.text;
  }
  if (!text) {
    SetLastError(kMessageNotFound);
    return 0;
  }
  if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && !arguments && HasInserts(text)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t length = std::strlen(text);
  WCHAR* out;
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    out = static_cast<WCHAR*>(std::calloc(length + 1, sizeof(WCHAR)));
    M().localBlocks++;
    *reinterpret_cast<WCHAR**>(buffer) = out;
  } else {
    if (size < length + 1) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    out = buffer;
  }
  for (size_t i = 0; i <= length; ++i) out[i] = static_cast<unsigned char>(text[i]);
  return static_cast<DWORD>(length);
}

// Freeing fails on Windows only for a handle that is not a block: a bug, not a condition of the
// machine, so the frees are counted but never made to fail.
HLOCAL WINAPI LocalFree(HLOCAL mem) {
  M().calls["LocalFree"]++;
  if (mem) {
    M().localBlocks--;
    std::free(mem);
  }
  return nullptr;
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  WINSIM_ENTER("GlobalAlloc", nullptr);
  void* block = (flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  if (!block) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  M().globalBlocks++;
  return block;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL mem) {
  M().calls["GlobalFree"]++;
  if (mem) {
    M().globalBlocks--;
    std::free(mem);
  }
  return nullptr;
}

int WINAPI lstrlenW(LPCWSTR text) {
  if (!text) return 0;
  int n = 0;
  while (text[n]) ++n;
  return n;
}

int WINAPI lstrlenA(LPCSTR text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

LPWSTR WINAPI lstrcpyW(LPWSTR dest, LPCWSTR src) {
  int i = 0;
  for (; src[i]; ++i) dest[i] = src[i];
  dest[i] = 0;
  return dest;
}

LPWSTR WINAPI lstrcpynW(LPWSTR dest, LPCWSTR src, int max) {
  if (max <= 0) return dest;
  int i = 0;
  for (; i < max - 1 && src[i]; ++i) dest[i] = src[i];
  dest[i] = 0;
  return dest;
}

LPWSTR WINAPI lstrcatW(LPWSTR dest, LPCWSTR src) {
  lstrcpyW(dest + lstrlenW(dest), src);
  return dest;
}

int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b) {
  if (!a) a = u"";
  if (!b) b = u"";
  while (*a && *a == *b) ++a, ++b;
  return (*a > *b) - (*a < *b);
}

int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b) {
  auto lower = [](WCHAR c) -> WCHAR { return (c >= u'A' && c <= u'Z') ? static_cast<WCHAR>(c + 32) : c; };
  if (!a) a = u"";
  if (!b) b = u"";
  while (*a && lower(*a) == lower(*b)) ++a, ++b;
  return (lower(*a) > lower(*b)) - (lower(*a) < lower(*b));
}

DWORD WINAPI GetModuleFileNameW(HMODULE, LPWSTR filename, DWORD size) {
  WINSIM_ENTER("GetModuleFileNameW", 0);
  const std::u16string& path = M().modulePath;
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // Windows truncates to size - 1 characters, terminates, and reports ERROR_INSUFFICIENT_BUFFER.
  if (path.size() >= size) {
    std::copy(path.begin(), path.begin() + (size - 1), filename);
    filename[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::copy(path.begin(), path.end(), filename);
  filename[path.size()] = 0;
  return static_cast<DWORD>(path.size());
}

UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size) {
  WINSIM_ENTER("GetSystemDirectoryW", 0);
  const std::u16string& path = M().systemDir;
  if (path.size() + 1 > size) return static_cast<UINT>(path.size() + 1);  // the size needed
  std::copy(path.begin(), path.end(), buffer);
  buffer[path.size()] = 0;
  return static_cast<UINT>(path.size());
}

namespace {
// MB_COMPOSITE: the accented letters of code page 1252 as base letter and combining mark.
char16_t CombiningMark(char16_t c, char16_t* base) {
  static const struct {
    char16_t letter, base, mark;
  } kDecomposed[] = {
      {0xC0, 'A', 0x300}, {0xC1, 'A', 0x301}, {0xC2, 'A', 0x302}, {0xC3, 'A', 0x303}, {0xC4, 'A', 0x308},
      {0xC5, 'A', 0x30A}, {0xC7, 'C', 0x327}, {0xC8, 'E', 0x300}, {0xC9, 'E', 0x301}, {0xCA, 'E', 0x302},
      {0xCB, 'E', 0x308}, {0xCC, 'I', 0x300}, {0xCD, 'I', 0x301}, {0xCE, 'I', 0x302}, {0xCF, 'I', 0x308},
      {0xD1, 'N', 0x303}, {0xD2, 'O', 0x300}, {0xD3, 'O', 0x301}, {0xD4, 'O', 0x302}, {0xD5, 'O', 0x303},
      {0xD6, 'O', 0x308}, {0xD9, 'U', 0x300}, {0xDA, 'U', 0x301}, {0xDB, 'U', 0x302}, {0xDC, 'U', 0x308},
      {0xDD, 'Y', 0x301}, {0xE0, 'a', 0x300}, {0xE1, 'a', 0x301}, {0xE2, 'a', 0x302}, {0xE3, 'a', 0x303},
      {0xE4, 'a', 0x308}, {0xE5, 'a', 0x30A}, {0xE7, 'c', 0x327}, {0xE8, 'e', 0x300}, {0xE9, 'e', 0x301},
      {0xEA, 'e', 0x302}, {0xEB, 'e', 0x308}, {0xEC, 'i', 0x300}, {0xED, 'i', 0x301}, {0xEE, 'i', 0x302},
      {0xEF, 'i', 0x308}, {0xF1, 'n', 0x303}, {0xF2, 'o', 0x300}, {0xF3, 'o', 0x301}, {0xF4, 'o', 0x302},
      {0xF5, 'o', 0x303}, {0xF6, 'o', 0x308}, {0xF9, 'u', 0x300}, {0xFA, 'u', 0x301}, {0xFB, 'u', 0x302},
      {0xFC, 'u', 0x308}, {0xFD, 'y', 0x301}, {0xFF, 'y', 0x308}, {0x160, 'S', 0x30C}, {0x161, 's', 0x30C},
      {0x178, 'Y', 0x308}, {0x17D, 'Z', 0x30C}, {0x17E, 'z', 0x30C},
  };
  for (const auto& entry : kDecomposed)
    if (entry.letter == c) {
      *base = entry.base;
      return entry.mark;
    }
  return 0;
}
}  // namespace

// Code page 1252 as the system ANSI code page: bytes 0x80-0x9F map through its table, the rest are
// Latin-1 (the five bytes 1252 leaves undefined give the C1 control of that number, also with
// MB_ERR_INVALID_CHARS). Flags: MB_PRECOMPOSED (the default), MB_COMPOSITE (accented letters as
// letter and combining mark), MB_USEGLYPHCHARS, MB_ERR_INVALID_CHARS; PRECOMPOSED with COMPOSITE,
// or any other bit, is refused with 1004.
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength, LPWSTR out, int outLength) {
  WINSIM_ENTER("MultiByteToWideChar", 0);
  static const char16_t k1252[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                     0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  if (codePage != CP_ACP || !text || textLength == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((flags & ~DWORD(MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS)) ||
      ((flags & MB_PRECOMPOSED) && (flags & MB_COMPOSITE))) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const int length = textLength < 0 ? static_cast<int>(std::strlen(text)) + 1 : textLength;
  std::u16string converted;
  for (int i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const char16_t unit = (c >= 0x80 && c < 0xA0) ? k1252[c - 0x80] : c;
    char16_t base = 0;
    const char16_t mark = (flags & MB_COMPOSITE) ? CombiningMark(unit, &base) : 0;
    if (mark) {
      converted += base;
      converted += mark;
    } else {
      converted += unit;
    }
  }
  const int units = static_cast<int>(converted.size());
  if (outLength == 0) return units;
  if (outLength < units) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(converted.begin(), converted.end(), out);
  return units;
}

void WINAPI Sleep(DWORD milliseconds) {
  if (M().cut) return;  // a killed process sleeps no more: time stands still
  M().calls["Sleep"]++;
  M().clock.slept += milliseconds;
  winsim::Advance(milliseconds);
}

DWORD WINAPI GetTickCount() {
  M().calls["GetTickCount"]++;
  return static_cast<DWORD>(M().clock.tickBase + M().clock.now);
}
