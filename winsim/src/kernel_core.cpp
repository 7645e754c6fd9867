// kernel32: thread last-error, system message texts, the global and local heaps, string helpers,
// the module and system folders, code-page conversion and time.
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
    {183, "Cannot create a file when that file already exists.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
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
    {0x80004005, "Unspecified error\r\n"},
    {0x8007000E, "Not enough memory resources are available to complete this operation.\r\n"},
};

const DWORD kMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND

}  // namespace

DWORD WINAPI GetLastError() { return M().lastError; }
void WINAPI SetLastError(DWORD code) { M().lastError = code; }

// Only the form the product uses: FROM_SYSTEM with ALLOCATE_BUFFER, the result freed with LocalFree.
DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                            void*) {
  WINSIM_ENTER("FormatMessageW", 0);
  const DWORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (languageId != 0 && languageId != english)) {
    SetLastError(kMessageNotFound);
    return 0;
  }
  const char* text = nullptr;
  for (const SystemText& entry : kSystemTexts)
    if (entry.code == messageId) text = entry.text;
  if (!text) {
    SetLastError(kMessageNotFound);
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

// Code page 1252 as the system ANSI code page: bytes 0x80-0x9F map through its table, the rest are Latin-1.
int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int textLength, LPWSTR out, int outLength) {
  WINSIM_ENTER("MultiByteToWideChar", 0);
  static const char16_t k1252[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                     0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  if (codePage != CP_ACP || !text || textLength == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int length = textLength < 0 ? static_cast<int>(std::strlen(text)) + 1 : textLength;
  if (outLength == 0) return length;
  if (outLength < length) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    out[i] = (c >= 0x80 && c < 0xA0) ? k1252[c - 0x80] : c;
  }
  return length;
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
