// The desktop on Windows: the window stack, keys through SendInput, and the clipboard. Needs a
// running QApplication.
#pragma once

#include "platform/Desktop.h"
#include "platform/qt/QtClipboard.h"
#include "platform/win32/Win32Keyboard.h"
#include "platform/win32/Win32WindowStack.h"

namespace platform {

class Win32Desktop {
  public:
    Win32Desktop() : keyboard_(windows_) {}
    Win32Desktop(const Win32Desktop&) = delete;
    Win32Desktop& operator=(const Win32Desktop&) = delete;

    Desktop Parts() { return {windows_, keyboard_, clipboard_}; }
    Win32WindowStack& windows() { return windows_; }
    Win32Keyboard& keyboard() { return keyboard_; }
    QtClipboard& clipboard() { return clipboard_; }

  private:
    Win32WindowStack windows_;
    QtClipboard clipboard_;
    Win32Keyboard keyboard_;
};

}  // namespace platform
