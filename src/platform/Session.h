// What kind of desktop session the program runs in.
#pragma once

namespace platform {

// A Wayland session (XDG_SESSION_TYPE is "wayland", or WAYLAND_DISPLAY is set): the program
// runs through XWayland there and sees only the windows of programs that run under X11 too.
bool RunsUnderWayland();

}  // namespace platform
