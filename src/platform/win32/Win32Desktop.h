// The desktop on Windows: the window stack from the window manager's z-order, activation
// under the foreground lock, keys through SendInput.
#pragma once

#include <memory>

#include "platform/Desktop.h"

namespace platform {
// Needs a running QApplication. Without `help` the help commands do nothing.
std::unique_ptr<Desktop> CreateWin32Desktop(HelpHooks help = {});
}  // namespace platform
