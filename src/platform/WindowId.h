#pragma once
#include <cstdint>

namespace platform {
// A top-level window of the desktop. Pointer-sized, so that every system's window handle fits
// (an X11 window id is 32 bits; a Windows HWND is a pointer). 0 means none.
using WindowId = std::uintptr_t;
}  // namespace platform
