#include <gtest/gtest.h>

#include "system/file_copy.h"
#include "system_fixture.h"

using Lines = std::vector<std::string>;
using winsim::M;
using winsim::PutFile;

namespace {
std::string Content(const char16_t* path) {
  const winsim::FileEntry* entry = winsim::FindFile(path);
  return entry ? std::string(entry->content.begin(), entry->content.end()) : "(missing)";
}
}  // namespace

class FileCopyTest : public SystemStateTest {
 protected:
  void SetUp() override {
    SystemStateTest::SetUp();
    Assign(state.installerDir, u"C:\\Setup\\");
    winsim::PutFolder(u"C:\\Dest");
    PutFile(u"C:\\Setup\\m.dll", "module");
  }
  void TearDown() override {
    EXPECT_TRUE(M().files.handles.empty()) << "file handles left open";
    SystemStateTest::TearDown();
  }
  HRESULT Copy(const char16_t* targetDir, bool reportErrors) {
    return CopyProductFile(&state, targetDir, u"m.dll", target, reportErrors);
  }
  WCHAR target[MAX_PATH] = {};
};

TEST_F(FileCopyTest, TargetPathGetsOneBackslashBeforeTheName) {
  EXPECT_EQ(S_OK, Copy(u"C:\\Dest\\", false));
  EXPECT_EQ("C:\\Dest\\m.dll", Narrow(target));
  EXPECT_EQ(Lines({">CopyFile m.dll to C:\\Dest\\ [0])", "  Copy Succeeded :)"}), LogLines());
  EXPECT_EQ("module", Content(u"C:\\Dest\\m.dll"));

  EXPECT_EQ(S_OK, Copy(u"C:\\Dest/", true));
  EXPECT_EQ("C:\\Dest/\\m.dll", Narrow(target));  // only a backslash counts as the folder's end

  EXPECT_EQ(S_OK, Copy(u"", true));
  EXPECT_EQ("m.dll", Narrow(target));
  EXPECT_EQ("module", Content(u"m.dll"));

  // The installer's folder without its final backslash.
  Assign(state.installerDir, u"C:\\Setup");
  EXPECT_EQ(S_OK, CopyProductFile(&state, u"C:\\Dest", u"m.dll", nullptr, true));
  EXPECT_EQ(0, state.errorCount);
  EXPECT_EQ(0, state.depth);
}

TEST_F(FileCopyTest, TargetPathThatDoesNotFitIsHandedBackEmpty) {
  const std::u16string deep = u"C:\\" + std::u16string(300, u'd');
  target[0] = u'x';
  Copy(deep.c_str(), false);
  EXPECT_EQ(u'\0', target[0]);
}

TEST_F(FileCopyTest, EmptyAndWholeBufferSourcesAreCopiedExactly) {
  PutFile(u"C:\\Setup\\m.dll", "");
  PutFile(u"C:\\Dest\\m.dll", "old");
  EXPECT_EQ(S_OK, Copy(u"C:\\Dest", true));
  EXPECT_EQ("", Content(u"C:\\Dest\\m.dll"));
  EXPECT_EQ(1, winsim::CallCount("ReadFile"));
  EXPECT_EQ(0, winsim::CallCount("WriteFile"));

  std::string data(8192, 'a');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
  PutFile(u"C:\\Setup\\m.dll", data);
  EXPECT_EQ(S_OK, Copy(u"C:\\Dest", true));
  EXPECT_EQ(data, Content(u"C:\\Dest\\m.dll"));
  EXPECT_EQ(1 + 2, winsim::CallCount("ReadFile"));  // the second read returns 0 bytes

  data += "tail";
  PutFile(u"C:\\Setup\\m.dll", data);
  EXPECT_EQ(S_OK, Copy(u"C:\\Dest", true));
  EXPECT_EQ(data, Content(u"C:\\Dest\\m.dll"));
  EXPECT_EQ(0, state.errorCount);
}

TEST_F(FileCopyTest, MissingSourceIsReportedOnlyWhenAsked) {
  winsim::RemoveFile(u"C:\\Setup\\m.dll");
  EXPECT_EQ(E_FAIL, Copy(u"C:\\Dest", false));
  EXPECT_EQ(0, state.errorCount);
  EXPECT_EQ(E_FAIL, Copy(u"C:\\Dest", true));
  EXPECT_EQ(Lines({">CopyFile m.dll to C:\\Dest [0])", "  Copy Failed :(", ">CopyFile m.dll to C:\\Dest [1])",
                   "  Error(10): Cant't open source file: m.dll - (The system cannot find the file specified.)",
                   "  Copy Failed :("}),
            LogLines());
  EXPECT_EQ(1, state.errorCount);
  EXPECT_EQ("C:\\Dest\\m.dll", Narrow(target));  // handed back before anything is opened
  EXPECT_FALSE(winsim::FileExists(u"C:\\Dest\\m.dll"));
}

TEST_F(FileCopyTest, DestinationLockedLongerThanTheRetriesFailsAfterHundredQuickAttempts) {
  PutFile(u"C:\\Dest\\m.dll", "old");
  winsim::LockFile(u"C:\\Dest\\m.dll");
  EXPECT_EQ(E_FAIL, Copy(u"C:\\Dest", false));
  EXPECT_EQ(Lines({">CopyFile m.dll to C:\\Dest [0])", "  Copy Failed :("}), LogLines());
  EXPECT_EQ(1 + 100, winsim::CallCount("CreateFileW"));
  EXPECT_EQ(100 * 50u, M().clock.slept);

  Release(state.logText);
  EXPECT_EQ(E_FAIL, Copy(u"C:\\Dest", true));
  EXPECT_EQ(Lines({">CopyFile m.dll to C:\\Dest [1])",
                   "  Error(9): Cant't open destination file: C:\\Dest\\m.dll - (The process cannot access the file "
                   "because it is being used by another process.)",
                   "  Copy Failed :("}),
            LogLines());
  EXPECT_EQ("old", Content(u"C:\\Dest\\m.dll"));
}

// Windows refuses CREATE_ALWAYS over a read-only, hidden or system file at once: the old product
// file is made plain and overwritten, its other attributes kept.
TEST_F(FileCopyTest, ReadOnlyHiddenOrSystemDestinationIsMadePlainAndOverwritten) {
  PutFile(u"C:\\Dest\\m.dll", "old").attributes =
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
  EXPECT_EQ(S_OK, Copy(u"C:\\Dest", true));
  EXPECT_EQ("module", Content(u"C:\\Dest\\m.dll"));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), winsim::FindFile(u"C:\\Dest\\m.dll")->attributes);
  EXPECT_EQ(Lines({">CopyFile m.dll to C:\\Dest [1])", "  Cleared attributes 0x7 of C:\\Dest\\m.dll",
                   "  Copy Succeeded :)"}),
            LogLines());
  EXPECT_EQ(2, winsim::CallCount("CreateFileW"));

  // Hidden alone, nothing else left: "normal".
  Release(state.logText);
  winsim::FindFile(u"C:\\Dest\\m.dll")->attributes = FILE_ATTRIBUTE_HIDDEN;
  EXPECT_EQ(S_OK, Copy(u"C:\\Dest", false));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), winsim::FindFile(u"C:\\Dest\\m.dll")->attributes);

  // The attributes can't be read or changed: the copy fails as it would have.
  for (const char* call : {"GetFileAttributesW", "SetFileAttributesW"}) {
    Release(state.logText);
    PutFile(u"C:\\Dest\\m.dll", "old").attributes = FILE_ATTRIBUTE_SYSTEM;
    winsim::FailNext(call, ERROR_ACCESS_DENIED);
    EXPECT_EQ(E_FAIL, Copy(u"C:\\Dest", true)) << call;
    EXPECT_EQ("old", Content(u"C:\\Dest\\m.dll"));
    EXPECT_EQ("  Error(9): Cant't open destination file: C:\\Dest\\m.dll - (Access is denied.)", LogLines().at(LogLines().size() - 2));
  }
  EXPECT_EQ("  SetFileAttributes(C:\\Dest\\m.dll) - failed", LogLines().at(1));
}

TEST_F(FileCopyTest, DestinationReleasedDuringTheRetriesIsCopied) {
  PutFile(u"C:\\Dest\\m.dll", "old");
  winsim::LockFile(u"C:\\Dest\\m.dll", 1000);
  EXPECT_EQ(S_OK, Copy(u"C:\\Dest", true));
  EXPECT_EQ("module", Content(u"C:\\Dest\\m.dll"));
  EXPECT_EQ(1 + 21, winsim::CallCount("CreateFileW"));
  EXPECT_EQ(Lines({">CopyFile m.dll to C:\\Dest [1])", "  Copy Succeeded :)"}), LogLines());
}

TEST_F(FileCopyTest, SlowFailingAttemptsStopAtTenSecondsWithTimeoutLine) {
  winsim::FailCall("CreateFileW", ERROR_SHARING_VIOLATION, -1, 2, 150);  // the source opens; every destination attempt takes 150 ms
  EXPECT_EQ(E_FAIL, Copy(u"C:\\Dest", true));
  EXPECT_EQ(Lines({">CopyFile m.dll to C:\\Dest [1])", "  CreateFile - timeout",
                   "  Error(9): Cant't open destination file: C:\\Dest\\m.dll - (The process cannot access the file "
                   "because it is being used by another process.)",
                   "  Copy Failed :("}),
            LogLines());
  // Attempt 51 ends at 51 x 150 + 50 x 50 = 10150 ms, the first past the limit.
  EXPECT_EQ(1 + 51, winsim::CallCount("CreateFileW"));
  EXPECT_EQ(50 * 50u, M().clock.slept);
  EXPECT_EQ(1, state.errorCount);
}

TEST_F(FileCopyTest, TickCounterThatWrapsDuringTheWaitDoesNoHarm) {
  M().clock.tickBase = 0xFFFFFFFFu - 3000;
  winsim::FailCall("CreateFileW", ERROR_SHARING_VIOLATION, -1, 1, 150);
  EXPECT_EQ(INVALID_HANDLE_VALUE, OpenForWriteWithRetry(&state, u"C:\\Dest\\m.dll"));
  EXPECT_EQ(51, winsim::CallCount("CreateFileW"));
  EXPECT_EQ(Lines({"CreateFile - timeout"}), LogLines());
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());  // still the attempt's failure
}

// A copy that stops early would install a truncated module: it is a failed copy, even a quiet one.
TEST_F(FileCopyTest, ShortWriteOrFailedReadIsAFailedCopy) {
  M().files.shortWrites = 1;
  EXPECT_EQ(E_FAIL, Copy(u"C:\\Dest", false));
  EXPECT_EQ(Lines({">CopyFile m.dll to C:\\Dest [0])", "  Error(8): CopyFile(..,C:\\Dest\\m.dll)", "  Copy Failed :("}),
            LogLines());
  EXPECT_EQ("modul", Content(u"C:\\Dest\\m.dll"));  // keeps what was written

  Release(state.logText);
  winsim::FailNext("ReadFile", ERROR_ACCESS_DENIED);
  EXPECT_EQ(E_FAIL, Copy(u"C:\\Dest", false));
  EXPECT_EQ(Lines({">CopyFile m.dll to C:\\Dest [0])",
                   "  Error(8): CopyFile(..,C:\\Dest\\m.dll) - (Access is denied.)", "  Copy Failed :("}),
            LogLines());

  Release(state.logText);
  winsim::FailNext("WriteFile", ERROR_ACCESS_DENIED);
  EXPECT_EQ(E_FAIL, Copy(u"C:\\Dest", true));
  EXPECT_EQ(Lines({">CopyFile m.dll to C:\\Dest [1])",
                   "  Error(8): CopyFile(..,C:\\Dest\\m.dll) - (Access is denied.)", "  Copy Failed :("}),
            LogLines());
  EXPECT_EQ(3, state.errorCount);
  EXPECT_EQ(0, state.depth);
}

using FileBuildNumberTest = MachineTest;

TEST_F(FileBuildNumberTest, FourthNumberOfTheProductVersion) {
  winsim::PutFile(u"C:\\m.dll", "", winsim::VersionResource{1, 2, 3, 4});
  winsim::PutFile(u"C:\\high.dll", "", winsim::Build(65535));
  winsim::PutFile(u"C:\\plain.dll", "");
  winsim::PutFile(u"C:\\short.dll", "", winsim::Build(2093)).version->fixedInfoLength = sizeof(VS_FIXEDFILEINFO) - 4;
  EXPECT_EQ(4, GetFileBuildNumber(u"C:\\m.dll"));
  EXPECT_EQ(65535, GetFileBuildNumber(u"C:\\high.dll"));
  EXPECT_EQ(-1, GetFileBuildNumber(u"C:\\plain.dll"));
  EXPECT_EQ(-1, GetFileBuildNumber(u"C:\\missing.dll"));
  EXPECT_EQ(-1, GetFileBuildNumber(u"C:\\short.dll"));
  EXPECT_EQ(0, winsim::M().globalBlocks);
}

TEST_F(FileBuildNumberTest, FailedCallsGiveNoBuildAndNoLeak) {
  winsim::PutFile(u"C:\\m.dll", "", winsim::Build(2093));
  for (const char* call : {"GlobalAlloc", "GetFileVersionInfoW", "VerQueryValueW"}) {
    winsim::FailNext(call, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(-1, GetFileBuildNumber(u"C:\\m.dll")) << call;
    EXPECT_EQ(0, winsim::M().globalBlocks) << call;
  }
  EXPECT_EQ(2093, GetFileBuildNumber(u"C:\\m.dll"));
}

TEST_F(FileCopyTest, SourceThatWontOpenAndFailedClosesAfterACopy) {
  winsim::FailCall("CreateFileW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(E_FAIL, Copy(u"C:\\Dest", true));
  EXPECT_EQ(Lines({">CopyFile m.dll to C:\\Dest [1])",
                   "  Error(10): Cant't open source file: m.dll - (Access is denied.)", "  Copy Failed :("}),
            LogLines());

  // The data is written by then: a failed close is no failed copy.
  winsim::FailNext("CloseHandle", ERROR_INVALID_HANDLE, 2);
  EXPECT_EQ(S_OK, Copy(u"C:\\Dest", true));
  EXPECT_EQ("module", Content(u"C:\\Dest\\m.dll"));
  EXPECT_EQ(1, state.errorCount);
  M().files.handles.clear();  // what the failed closes left open
}

TEST_F(FileBuildNumberTest, NoVersionSizeGivesNoBuild) {
  winsim::PutFile(u"C:\\m.dll", "", winsim::Build(2093));
  winsim::FailCall("GetFileVersionInfoSizeW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(-1, GetFileBuildNumber(u"C:\\m.dll"));
  EXPECT_EQ(0, winsim::CallCount("GlobalAlloc"));
}
