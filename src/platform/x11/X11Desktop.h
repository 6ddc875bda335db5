// The desktop on X11: the window stack, the keyboard and the clipboard over one connection to
// the display of its own, and the fill shortcut over another. Needs a running QApplication on
// the xcb platform.
#pragma once

#include "platform/Desktop.h"
#include "platform/qt/QtClipboard.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11Shortcut.h"
#include "platform/x11/X11WindowStack.h"

namespace platform {

class X11Desktop {
  public:
    X11Desktop() : windows_(x_), keyboard_(x_, windows_, clipboard_) {}
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    Desktop Parts() { return {windows_, keyboard_, clipboard_}; }
    X11WindowStack& windows() { return windows_; }
    X11Keyboard& keyboard() { return keyboard_; }
    QtClipboard& clipboard() { return clipboard_; }
    X11Shortcut& shortcut() { return shortcut_; }

  private:
    X11Connection x_;
    X11WindowStack windows_;
    QtClipboard clipboard_;
    X11Keyboard keyboard_;
    X11Shortcut shortcut_;
};

}  // namespace platform
