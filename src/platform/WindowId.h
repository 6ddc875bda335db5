#pragma once
#include <cstdint>

namespace platform {
// A top-level window of the desktop. Pointer-sized, so that every system's window handle fits
// (an X11 window id is 32 bits; a Windows HWND is a pointer). 0 means none.
using WindowId = std::uintptr_t;
// The window that holds the keyboard on a desktop that names no other program's windows (GNOME's
// Wayland windows, seen from XWayland): typed into while no window of ours has taken the focus.
inline constexpr WindowId kUnseenFocus = ~WindowId{0};
}  // namespace platform
