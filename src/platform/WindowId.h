#pragma once
#include <cstdint>

namespace platform {
// A top-level window of the desktop (an X11 window id on X11). 0 means none.
using WindowId = std::uint32_t;
}  // namespace platform
