#include "platform/Session.h"

namespace platform {

// Wayland is a Linux session; Windows has none.
bool RunsUnderWayland() {
    return false;
}

bool RunsThroughXWayland() {
    return false;
}

}  // namespace platform
