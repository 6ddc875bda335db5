// What kind of desktop session the program runs in.
#pragma once

namespace platform {

// A Wayland session (XDG_SESSION_TYPE is "wayland", or WAYLAND_DISPLAY is set).
bool RunsUnderWayland();
// A Wayland session whose compositor the program cannot speak to natively (QT_QPA_PLATFORM is not
// Wayland's): it runs through XWayland and sees only the windows of programs that run under X11
// too.
bool RunsThroughXWayland();

}  // namespace platform
