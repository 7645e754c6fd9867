#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/installer_state.h"
#include "app/log.h"
#include "log/log_dialog.h"
#include "system_fixture.h"

using LogDialogTest = SystemStateTest;

TEST_F(LogDialogTest, TitleTellsWhetherErrorsWereCounted) {
  LogLine(&state, TEXT("line"));
  EXPECT_TRUE(ShowLogDialog(&state, nullptr));
  const winsim::DialogState& dialog = winsim::M().desktop.dialog;
  EXPECT_EQ(1, dialog.shown);
  EXPECT_EQ(101, dialog.templateId);
  EXPECT_EQ("Marbleleaf build 2093- Install log.", Narrow(dialog.title));
  EXPECT_EQ("line\r\n", Narrow(dialog.text));
  EXPECT_EQ(1, dialog.result);

  state.errorCount = 1;
  winsim::M().desktop.dialog.scriptedCommand = IDCANCEL;
  HWND parent = winsim::AddWindow(u"SetupFrame", u"Setup");
  ShowLogDialog(&state, parent);
  EXPECT_EQ("Marbleleaf build 2093- Install error log!", Narrow(dialog.title));
  EXPECT_EQ(0, dialog.result);
  EXPECT_EQ(parent, dialog.parent);
}

TEST_F(LogDialogTest, EmptyLogAndOtherCommands) {
  ShowLogDialog(&state, nullptr);
  EXPECT_EQ("", Narrow(winsim::M().desktop.dialog.text));
  winsim::M().desktop.dialog.scriptedCommand = 1001;  // not a button that ends the dialog
  ShowLogDialog(&state, nullptr);
  EXPECT_EQ(-1, winsim::M().desktop.dialog.result);
}

// Nobody can close a dialog in a service's window station, nor in session 0.
TEST_F(LogDialogTest, SeenOnlyInAVisibleWindowStationOutsideSessionZero) {
  EXPECT_TRUE(LogDialogCanBeSeen(&state));
  winsim::M().desktop.interactiveStation = false;
  EXPECT_FALSE(LogDialogCanBeSeen(&state));
  winsim::FailNext("GetUserObjectInformationW", 6);
  EXPECT_TRUE(LogDialogCanBeSeen(&state));  // Windows can't tell the station: as on a desktop
  // A service allowed to interact with the desktop: SYSTEM in session 0 with a visible station.
  winsim::RunInstallerAs(winsim::kSystemSid, 0, true);
  winsim::M().desktop.interactiveStation = true;
  EXPECT_FALSE(LogDialogCanBeSeen(&state));
  winsim::SignIn(winsim::kFirstAdminSid, 2);  // a Remote Desktop session of theirs
  winsim::RunInstallerAs(winsim::kFirstAdminSid, 2, true);
  EXPECT_TRUE(LogDialogCanBeSeen(&state));
  EXPECT_TRUE(LogLines().empty());
  // Nor when it can't tell the session: a dialog there might never be closed.
  winsim::FailNext("ProcessIdToSessionId", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(LogDialogCanBeSeen(&state));
  EXPECT_EQ(std::vector<std::string>{"ProcessIdToSessionId failed with code 5: no log dialog"}, LogLines());
  EXPECT_EQ(0, state.errorCount);
}

TEST_F(LogDialogTest, FailuresOfTheDialogCallsOnlyLeaveItUnfinished) {
  state.errorCount = 1;
  winsim::FailCall("SetDlgItemTextW", 1400);
  winsim::FailCall("SetWindowTextW", 1400);
  ShowLogDialog(&state, nullptr);
  EXPECT_EQ("", Narrow(winsim::M().desktop.dialog.title));
  EXPECT_EQ(1, winsim::M().desktop.dialog.result);

  winsim::FailNext("EndDialog", 1400, 2);
  ShowLogDialog(&state, nullptr);
  winsim::M().desktop.dialog.scriptedCommand = IDCANCEL;
  ShowLogDialog(&state, nullptr);
  EXPECT_EQ(-1, winsim::M().desktop.dialog.result);

  winsim::FailNext("GetProcessWindowStation", 5);  // unknown station: shown as on a desktop
  EXPECT_TRUE(LogDialogCanBeSeen(&state));
  winsim::FailNext("DialogBoxParamW", 1813);  // no template: returns at once
  EXPECT_FALSE(ShowLogDialog(&state, nullptr));
  EXPECT_EQ(4, winsim::CallCount("DialogBoxParamW"));
}

#if defined(INSTALL_RES_FILE)
namespace {
// The resources as the resource compiler builds them for install.exe: a stream of entries, each
// a header (sizes, type, name, language) and its data, both DWORD-aligned.
struct Reader {
  const std::vector<uint8_t>& bytes;
  size_t at;
  uint16_t Word() const { return at + 2 <= bytes.size() ? static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8) : 0; }
  uint16_t Next() {
    const uint16_t w = Word();
    at += 2;
    return w;
  }
  uint32_t Dword() {
    const uint32_t low = Next();
    return low | static_cast<uint32_t>(Next()) << 16;
  }
  void Align() { at = (at + 3) & ~size_t(3); }
  // A name or an ordinal: an ordinal comes back as "#<number>".
  std::string NameOrOrdinal() {
    if (Word() == 0xFFFF) {
      Next();
      return "#" + std::to_string(Next());
    }
    std::string text;
    for (uint16_t c; (c = Next()) != 0;) text += c < 128 ? static_cast<char>(c) : '?';
    return text;
  }
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}
}  // namespace

// The dialog the program shows, read from its compiled resources: the template the code asks
// for, its look, and the two controls the code drives.
TEST(LogDialogResourceTest, TheBuiltDialogHasItsLookAndTheControlsTheCodeUses) {
  std::ifstream in(INSTALL_RES_FILE, std::ios::binary);
  ASSERT_TRUE(in.good()) << INSTALL_RES_FILE;
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Reader r{bytes, 0};
  size_t dialog = 0, dialogSize = 0;
  uint16_t language = 0;
  while (r.at + 8 <= bytes.size() && !dialog) {
    const size_t start = r.at;
    const uint32_t dataSize = r.Dword(), headerSize = r.Dword();
    const std::string type = r.NameOrOrdinal(), name = r.NameOrOrdinal();
    r.Align();
    r.Dword();  // data version
    r.Next();   // memory flags
    const uint16_t lang = r.Next();
    if (type == "#5" && name == "#" + std::to_string(kLogDialogId)) {
      dialog = start + headerSize;
      dialogSize = dataSize;
      language = lang;
    }
    r.at = start + headerSize + dataSize;
    r.Align();
  }
  ASSERT_NE(0u, dialog) << "no dialog " << kLogDialogId;
  EXPECT_EQ(0x409, language);

  Reader d{bytes, dialog};
  EXPECT_EQ(1, d.Next());       // DLGTEMPLATEEX
  EXPECT_EQ(0xFFFF, d.Next());
  d.Dword();                    // help id
  EXPECT_EQ(0u, d.Dword());     // extended style
  EXPECT_EQ(0x80C808C8u, d.Dword());  // popup, caption, system menu, modal frame, 3D look, shell font
  const uint16_t items = d.Next();
  const int16_t x = d.Next(), y = d.Next(), cx = d.Next(), cy = d.Next();
  EXPECT_EQ((std::vector<int>{0, 0, 451, 228}), (std::vector<int>{x, y, cx, cy}));
  EXPECT_EQ("", d.NameOrOrdinal());  // no menu
  EXPECT_EQ("", d.NameOrOrdinal());  // the dialog class
  EXPECT_EQ("", d.NameOrOrdinal());  // the caption is set by the code
  EXPECT_EQ(8, d.Next());            // points
  EXPECT_EQ(400, d.Next());          // weight
  const uint16_t italicAndCharset = d.Next();
  EXPECT_EQ(0x0100, italicAndCharset);  // not italic, DEFAULT_CHARSET
  EXPECT_EQ("MS Shell Dlg", d.NameOrOrdinal());

  ASSERT_EQ(2, items);
  struct Control {
    uint32_t style;
    std::vector<int> box;
    uint32_t id;
    std::string className, text;
  };
  std::vector<Control> controls;
  for (int i = 0; i < items; ++i) {
    d.Align();
    Control c;
    d.Dword();  // help id
    d.Dword();  // extended style
    c.style = d.Dword();
    for (int k = 0; k < 4; ++k) c.box.push_back(static_cast<int16_t>(d.Next()));
    c.id = d.Dword();
    c.className = Upper(d.NameOrOrdinal());
    if (c.className == "#128") c.className = "BUTTON";
    if (c.className == "#129") c.className = "EDIT";
    c.text = d.NameOrOrdinal();
    d.at += d.Next();  // creation data
    controls.push_back(c);
  }
  EXPECT_LE(d.at, dialog + dialogSize);
  EXPECT_EQ(1u, controls[0].id);  // IDOK: the code ends the dialog with it
  EXPECT_EQ("BUTTON", controls[0].className);
  EXPECT_EQ("Close", controls[0].text);
  EXPECT_EQ(0x50010001u, controls[0].style);  // child, visible, tab stop, default push button
  EXPECT_EQ((std::vector<int>{394, 207, 50, 14}), controls[0].box);
  EXPECT_EQ(static_cast<uint32_t>(kLogTextId), controls[1].id);  // the code writes the log here
  EXPECT_EQ("EDIT", controls[1].className);
  EXPECT_EQ(0x50A108C4u, controls[1].style);  // child, visible, vertical scroll, multi-line, read-only
  EXPECT_EQ((std::vector<int>{7, 7, 437, 194}), controls[1].box);
}
#endif
