// Windows, the dialog, the keyboard and other processes' objects as the installer sees them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "winsim/types.h"

namespace winsim {

struct Window {
  HWND handle = nullptr;
  std::u16string className;
  std::u16string title;
  bool alive = true;
};

// What DialogBoxParamW showed, and how the scripted user ends the dialog.
struct DialogState {
  INT_PTR scriptedCommand = IDOK;  // the button the user presses after WM_INITDIALOG
  int shown = 0;
  int templateId = 0;
  HWND parent = nullptr;
  std::u16string title;
  std::u16string text;
  INT_PTR result = -1;
  uint64_t shownAt = 0;            // virtual time when it was shown
};

struct DesktopState {
  std::vector<Window> windows;
  uintptr_t nextHandle = 0x10000;
  bool shiftDown = false;
  bool interactiveStation = true;  // the window station is visible (not a service session)
  DialogState dialog;
};

// Closes a kernel object that is not a file (mutex, process, thread); false when the handle is unknown.
bool CloseDesktopObject(HANDLE handle);

// Adds a window that belongs to another process; returns its handle.
HWND AddWindow(const std::u16string& className, const std::u16string& title);

}  // namespace winsim
