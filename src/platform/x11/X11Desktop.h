// The desktop on X11: EWMH window manager, XTest keystrokes, the X clipboard.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/Desktop.h"

#include "platform/x11/X11Keyboard.h"

namespace platform {
// Needs a running QApplication on the xcb platform. Without `help` the help commands do nothing.
std::unique_ptr<Desktop> CreateX11Desktop(HelpHooks help = {});

// The typing pace of an X11 desktop with or without an input method (for measuring); nullptr
// for any other desktop.
X11Keyboard::Timing* X11TypingTiming(Desktop& desktop, bool inputMethod);
// Whether the X11 desktop's spare keycodes currently carry symbols of its own.
bool X11KeymapChanged(Desktop& desktop);
// How many times the X11 desktop has changed the keyboard map so far.
std::uint64_t X11KeymapChanges(Desktop& desktop);
// Whether the X11 desktop sees an input method server running (it types at that pace then).
bool X11InputMethodPresent(Desktop& desktop);
}  // namespace platform
