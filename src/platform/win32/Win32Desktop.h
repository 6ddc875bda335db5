// The desktop on Windows: the window stack, keys through SendInput, the clipboard and the fill
// shortcut as a hot key. Needs a running QApplication, on whose thread it is made.
#pragma once

#include "platform/Desktop.h"
#include "platform/qt/QtClipboard.h"
#include "platform/win32/Win32Keyboard.h"
#include "platform/win32/Win32Shortcut.h"
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
    GlobalShortcut& shortcut() { return shortcut_; }

  private:
    Win32WindowStack windows_;
    QtClipboard clipboard_;
    Win32Keyboard keyboard_;
    Win32Shortcut shortcut_;
};

}  // namespace platform
