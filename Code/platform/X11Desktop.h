// The desktop on X11: EWMH window manager, XTest keystrokes, the X clipboard.
#pragma once

#include <memory>

#include "platform/Desktop.h"

namespace platform {
// Needs a running QApplication on the xcb platform.
std::unique_ptr<Desktop> CreateX11Desktop();
}  // namespace platform
