#include "system/file_copy.h"

#include "app/installer_state.h"
#include "app/log.h"
#include "app/product.h"
#include "support/counted_string.h"

namespace {
const int kOpenAttempts = 100;
const DWORD kOpenRetryMs = 50;
const DWORD kOpenTimeLimitMs = 10000;
const DWORD kCopyBufferBytes = 8192;

// folder + "\" (unless the folder is empty or already ends with a backslash) + name. Only the
// backslash counts as a final separator.
void JoinPath(CountedString& out, LPCWSTR folder, LPCWSTR name) {
  Assign(out, folder);
  const uint64_t length = Length(out);
  if (length > 0 && Text(out)[length - 1] != TEXT('\\')) Append(out, TEXT("\\"));
  Append(out, name);
}

// Copies the path for the caller when it fits its MAX_PATH buffer. A path that does not fit is
// handed back empty rather than cut: a cut path would name another file, and callers skip empty
// paths when they clean up.
void HandBackPath(LPWSTR out, const CountedString& path) {
  if (!out) return;
  if (Length(path) >= MAX_PATH) {
    out[0] = 0;
    return;
  }
  lstrcpyW(out, Text(path));
}
// Windows refuses to overwrite a read-only file at once, and a hidden or system file opened
// without those attributes: an old product file that carries one is made plain first.
void MakeOverwritable(InstallerState* state, LPCWSTR path) {
  const DWORD blocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) || !(attributes & blocking)) return;
  const DWORD plain = attributes & ~blocking;
  if (SetFileAttributesW(path, plain ? plain : FILE_ATTRIBUTE_NORMAL))
    LogLine(state, TEXT("Cleared attributes 0x%x of %s"), attributes & blocking, path);
  else
    LogLine(state, TEXT("SetFileAttributes(%s) - failed"), path);
}
}  // namespace

HANDLE OpenForWriteWithRetry(InstallerState* state, LPCWSTR path) {
  const DWORD start = GetTickCount();
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD code = GetLastError();
    // Unsigned difference: a wrap of the tick counter during the wait does no harm.
    if (static_cast<DWORD>(GetTickCount() - start) > kOpenTimeLimitMs) {
      LogLine(state, TEXT("CreateFile - timeout"));
      SetLastError(code);
      return INVALID_HANDLE_VALUE;
    }
    Sleep(kOpenRetryMs);
    SetLastError(code);  // the caller reports why the last attempt failed
  }
  return INVALID_HANDLE_VALUE;
}

HRESULT CopyProductFile(InstallerState* state, LPCWSTR targetDir, LPCWSTR fileName, LPWSTR outTargetPath,
                        bool reportErrors) {
  LogLine(state, TEXT(">CopyFile %s to %s [%d])"), fileName, targetDir, reportErrors ? 1 : 0);
  LogSection section(state);
  CountedString source = nullptr;
  CountedString target = nullptr;
  JoinPath(source, Text(state->installerDir), fileName);
  JoinPath(target, targetDir, fileName);
  HandBackPath(outTargetPath, target);

  HRESULT result = E_FAIL;
  HANDLE in = CreateFileW(Text(source), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) {
    if (reportErrors) LogError(state, 10, TEXT("Cant't open source file: %s"), fileName);
  } else {
    MakeOverwritable(state, Text(target));
    HANDLE out = OpenForWriteWithRetry(state, Text(target));
    if (out == INVALID_HANDLE_VALUE) {
      if (reportErrors) LogError(state, 9, TEXT("Cant't open destination file: %s"), Text(target));
    } else {
      result = S_OK;
      BYTE buffer[kCopyBufferBytes];
      for (;;) {
        DWORD bytesRead = 0;
        if (!ReadFile(in, buffer, kCopyBufferBytes, &bytesRead, nullptr)) {
          // A copy that stops early leaves a truncated module: that is a failed copy.
          LogError(state, 8, TEXT("CopyFile(..,%s)"), Text(target));
          result = E_FAIL;
          break;
        }
        if (bytesRead > 0) {
          DWORD bytesWritten = 0;
          WriteFile(out, buffer, bytesRead, &bytesWritten, nullptr);
          if (bytesWritten != bytesRead) {
            LogError(state, 8, TEXT("CopyFile(..,%s)"), Text(target));
            result = E_FAIL;
            break;
          }
        }
        if (bytesRead != kCopyBufferBytes) break;
      }
      CloseHandle(out);
    }
    CloseHandle(in);
  }
  LogLine(state, result == E_FAIL ? TEXT("Copy Failed :(") : TEXT("Copy Succeeded :)"));
  Release(target);
  Release(source);
  return result;
}

int GetFileBuildNumber(LPCWSTR path) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &handle);
  if (size == 0) return -1;
  int build = -1;
  LPVOID block = GlobalAlloc(GPTR, size);
  if (block && GetFileVersionInfoW(path, handle, size, block)) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    // A resource that declares less than a whole VS_FIXEDFILEINFO has no product version to read.
    if (VerQueryValueW(block, TEXT("\\"), reinterpret_cast<LPVOID*>(&fixed), &length) && fixed &&
        length >= sizeof(VS_FIXEDFILEINFO))
      build = LOWORD(fixed->dwProductVersionLS);
  }
  if (block) GlobalFree(block);
  return build;
}

bool FindUnusableProductFile(const CountedString& folder, UnusableProductFile* found) {
  for (const ProductModule& module : kProductModules) {
    // An install registers the monitor for x64 only: the x86 monitor module is never copied.
    if (module.role == kMonitorModule && module.platform != kPlatformX64) continue;
    CountedString path = Copy(folder);
    Append(path, module.fileName);
    found->file = module.fileName;
    found->missing = GetFileAttributesW(Text(path)) == INVALID_FILE_ATTRIBUTES;
    found->error = found->missing ? GetLastError() : 0;
    // Every module carries the build it belongs to; the help file has no version resource.
    const bool versioned = module.role != kHelpFile;
    found->build = !found->missing && versioned ? GetFileBuildNumber(Text(path)) : kProductBuild;
    Release(path);
    if (found->missing || found->build != kProductBuild) return true;
  }
  return false;
}
