// The end of a run: which runs show the dialog, which write the event log, and how a long log is
// written over several events.
#include <gtest/gtest.h>

#include "app/log.h"
#include "log/event_log.h"
#include "log/log_dialog.h"
#include "log/log_presentation.h"
#include "system_fixture.h"

namespace {
const char* const kSourceKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Marbleleaf Install";

const std::vector<winsim::EventRecord>& Events() { return winsim::M().eventLog.application; }

std::u16string AllEventText() {
  std::u16string text;
  for (const winsim::EventRecord& event : Events()) {
    EXPECT_EQ(1u, event.strings.size());
    for (const std::u16string& s : event.strings) text += s;
  }
  return text;
}
}  // namespace

class EventLogTest : public SystemStateTest {
 protected:
  // Appends lines of varied lengths until the log holds at least `length` characters.
  void GrowLog(size_t length) {
    WCHAR filler[901];
    for (WCHAR& c : filler) c = TEXT('x');
    for (int i = 0; Length(state.logText) < length; ++i) {
      filler[(i * 37) % 900] = 0;
      LogLine(&state, TEXT("line %d %s"), i, filler);
      filler[(i * 37) % 900] = TEXT('x');
    }
  }
};

TEST_F(EventLogTest, OnlyARunWhoseLogNobodyCouldSeeWritesAnEvent) {
  struct Case {
    const char* what;
    bool visibleStation;
    DWORD session;
    int errors;
    DWORD rebootDeletes;
    bool shift;
    bool dialogFails;
    int dialogs;   // expected
    int events;    // expected
    WORD type;     // of the event
  };
  const Case cases[] = {
      {"interactive, errors", true, 1, 1, 0, false, false, 1, 0, 0},
      {"interactive, files for the reboot", true, 1, 0, 1, false, false, 0, 0, 0},
      {"interactive, Shift, files for the reboot", true, 1, 0, 2, true, false, 1, 0, 0},
      {"interactive, nothing to tell", true, 1, 0, 0, false, false, 0, 0, 0},
      {"session 0, errors and files for the reboot", true, 0, 2, 1, false, false, 0, 1, EVENTLOG_ERROR_TYPE},
      {"session 0, files for the reboot", true, 0, 0, 3, true, false, 0, 1, EVENTLOG_INFORMATION_TYPE},
      {"session 0, Shift only", true, 0, 0, 0, true, false, 0, 0, 0},
      {"service window station, errors", false, 1, 1, 0, false, false, 0, 1, EVENTLOG_ERROR_TYPE},
      {"dialog can't be created, errors", true, 1, 1, 0, false, true, 0, 1, EVENTLOG_ERROR_TYPE},
      {"dialog can't be created, Shift, reboot", true, 1, 0, 1, true, true, 0, 1, EVENTLOG_INFORMATION_TYPE},
  };
  LogLine(&state, TEXT("Marbleleaf %d"), 2093);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Session 0 is a service's: SYSTEM runs there. A visible station there is an interactive
    // service's; session 1's invisible one a service account's.
    winsim::RunInstallerAs(c.session == 0 ? winsim::kSystemSid : winsim::kFirstAdminSid, c.session, true);
    winsim::M().desktop.interactiveStation = c.visibleStation;
    winsim::M().desktop.shiftDown = c.shift;
    winsim::M().desktop.dialog.shown = 0;
    winsim::M().eventLog.application.clear();
    if (c.dialogFails) winsim::FailNext("DialogBoxParamW", ERROR_RESOURCE_TYPE_NOT_FOUND);
    state.errorCount = c.errors;
    PresentRunLog(&state, nullptr, c.rebootDeletes);
    EXPECT_EQ(c.dialogs, winsim::M().desktop.dialog.shown);
    ASSERT_EQ(static_cast<size_t>(c.events), Events().size());
    if (c.events) {
      EXPECT_EQ(c.type, Events()[0].type);
      EXPECT_EQ(c.errors ? 100u : 101u, Events()[0].id);
      EXPECT_EQ(u"Marbleleaf 2093\r\n", Events()[0].strings[0]);
    }
  }
  EXPECT_TRUE(winsim::M().eventLog.handles.empty());
}

TEST_F(EventLogTest, ALongLogIsSplitBetweenLinesWithoutLosingOne) {
  winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
  state.errorCount = 1;
  GrowLog(2 * kEventTextLimit + 5000);
  PresentRunLog(&state, nullptr, 0);
  ASSERT_EQ(3u, Events().size());
  EXPECT_EQ(std::u16string(Text(state.logText)), AllEventText());
  for (const winsim::EventRecord& event : Events()) {
    const std::u16string& part = event.strings[0];
    EXPECT_LE(part.size(), kEventTextLimit);
    EXPECT_EQ(u"\r\n", part.substr(part.size() - 2));
    EXPECT_EQ(u'l', part[0]);
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, event.type);
  }
  EXPECT_GT(Events()[0].strings[0].size(), kEventTextLimit - 1000);  // parts are filled, not line by line

  // A log exactly as long as one event holds is one event; one character more makes two.
  FreeInstallerState(&state);
  std::memset(&state, 0, sizeof(state));
  state.errorCount = 1;
  GrowLog(kEventTextLimit - 1100);
  WCHAR rest[1100];
  const size_t restLength = kEventTextLimit - static_cast<size_t>(Length(state.logText)) - 2;
  for (size_t i = 0; i < restLength; ++i) rest[i] = TEXT('y');
  rest[restLength] = 0;
  LogLine(&state, TEXT("%s"), rest);
  ASSERT_EQ(kEventTextLimit, Length(state.logText));
  winsim::M().eventLog.application.clear();
  PresentRunLog(&state, nullptr, 0);
  EXPECT_EQ(1u, Events().size());
  LogLine(&state, TEXT(""));
  winsim::M().eventLog.application.clear();
  PresentRunLog(&state, nullptr, 0);
  ASSERT_EQ(2u, Events().size());
  EXPECT_EQ(u"\r\n", Events()[1].strings[0]);
  EXPECT_EQ(std::u16string(Text(state.logText)), AllEventText());
}

std::u16string MessageFileValue() {
  const winsim::RegValue* file = winsim::GetRegValue(HKEY_LOCAL_MACHINE, kSourceKey, u"EventMessageFile");
  if (!file) return u"(none)";
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), file->type);
  return std::u16string(reinterpret_cast<const char16_t*>(file->data.data()));
}

// The message DLL goes into the system folder, where it outlives the installer's folder; where
// it can't be put there, the installer's own message table is named instead.
TEST_F(EventLogTest, TheMessageFileOutlivesTheInstallersFolder) {
  const std::u16string dll = u"C:\\Windows\\system32\\mlxevent.dll";
  winsim::M().modulePath = u"C:\\Users\\Admin\\AppData\\Local\\Temp\\nsa1.tmp\\install.exe";
  Assign(state.systemDir, TEXT("C:\\Windows\\system32\\"));
  state.errorCount = 1;
  LogLine(&state, TEXT("Marbleleaf %d"), 2093);
  ReportLogToEventLog(&state);
  EXPECT_EQ(dll, MessageFileValue());
  ASSERT_NE(nullptr, winsim::FindFile(dll));
  EXPECT_EQ(winsim::M().moduleResources[std::make_pair(WORD{10}, WORD{2})], winsim::FindFile(dll)->content);
  // A later run keeps the file it finds.
  winsim::FindFile(dll)->content = {'o', 'l', 'd'};
  ReportLogToEventLog(&state);
  EXPECT_EQ((std::vector<uint8_t>{'o', 'l', 'd'}), winsim::FindFile(dll)->content);
  EXPECT_EQ(2u, Events().size());

  for (const char* call : {"FindResourceW", "SizeofResource", "LoadResource", "LockResource", "CreateFileW",
                           "WriteFile"}) {
    SCOPED_TRACE(call);
    winsim::RemoveFile(dll);
    winsim::M().eventLog.application.clear();
    winsim::FailNext(call, ERROR_ACCESS_DENIED);
    ReportLogToEventLog(&state);
    EXPECT_EQ(winsim::M().modulePath, MessageFileValue());
    EXPECT_FALSE(winsim::FileExists(dll));  // nothing torn left behind
    EXPECT_EQ(1u, Events().size());
  }
  // A short write is a failed write; a failed close after a complete one still leaves the file.
  winsim::M().files.shortWrites = 1;
  winsim::FailNext("DeleteFileW", ERROR_ACCESS_DENIED);
  ReportLogToEventLog(&state);
  EXPECT_EQ(winsim::M().modulePath, MessageFileValue());
  winsim::RemoveFile(dll);
  winsim::M().files.shortWrites = 1;
  ReportLogToEventLog(&state);
  EXPECT_FALSE(winsim::FileExists(dll));
  winsim::FailNext("CloseHandle", ERROR_INVALID_HANDLE);
  ReportLogToEventLog(&state);
  EXPECT_EQ(dll, MessageFileValue());
  EXPECT_TRUE(winsim::FileExists(dll));
  handlesLeftOpen = 1;  // the file whose close was refused
}

// The source is registered when it writes, so the events read as text; whatever of that
// fails, the log is still written where Windows takes it.
TEST_F(EventLogTest, TheSourceIsRegisteredAndFailuresLoseOnlyWhatFailed) {
  winsim::M().modulePath = u"C:\\Program Files\\Marbleleaf\\app\\install.exe";
  state.errorCount = 1;
  GrowLog(2 * kEventTextLimit + 5000);
  ReportLogToEventLog(&state);
  EXPECT_EQ(u"C:\\Program Files\\Marbleleaf\\app\\install.exe", MessageFileValue());  // no system folder
  const winsim::RegValue* types = winsim::GetRegValue(HKEY_LOCAL_MACHINE, kSourceKey, u"TypesSupported");
  ASSERT_NE(nullptr, types);
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), types->type);
  EXPECT_EQ((std::vector<uint8_t>{5, 0, 0, 0}), types->data);
  EXPECT_TRUE(winsim::M().registry.handles.empty());

  // A part that Windows refuses is the only one missing.
  winsim::M().eventLog.application.clear();
  winsim::FailNext("ReportEventW", RPC_S_INVALID_BOUND);
  ReportLogToEventLog(&state);
  EXPECT_EQ(2u, Events().size());

  // No registration at all, or an unfinished one: the events are still written.
  winsim::Reset();
  for (const char* call : {"GetModuleFileNameW", "RegCreateKeyExA", "RegSetValueExW", "RegCloseKey",
                           "DeregisterEventSource"}) {
    SCOPED_TRACE(call);
    winsim::M().eventLog.application.clear();
    winsim::FailNext(call, ERROR_ACCESS_DENIED, 2);
    ReportLogToEventLog(&state);
    EXPECT_EQ(3u, Events().size());
    EXPECT_EQ(std::u16string(Text(state.logText)), AllEventText());
    if (std::string(call) == "RegSetValueExW") {
      EXPECT_EQ(nullptr, winsim::GetRegValue(HKEY_LOCAL_MACHINE, kSourceKey, u"EventMessageFile"));
    }
  }
  winsim::M().registry.handles.clear();  // the handle whose RegCloseKey failed
  winsim::M().eventLog.handles.clear();  // and the one whose DeregisterEventSource failed

  // No event source: nothing to write to, and nothing else happens.
  winsim::M().eventLog.application.clear();
  winsim::FailNext("RegisterEventSourceW", ERROR_ACCESS_DENIED);
  ReportLogToEventLog(&state);
  EXPECT_TRUE(Events().empty());
  handlesLeftOpen = 1;  // the source key: the second refused RegCloseKey falls in this run
}
