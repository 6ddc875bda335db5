#include "platform/Session.h"

#include <cstdlib>
#include <cstring>

namespace platform {

bool RunsUnderWayland() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    if (type && std::strcmp(type, "wayland") == 0) return true;
    const char* display = std::getenv("WAYLAND_DISPLAY");
    return display && *display;
}

bool RunsThroughXWayland() {
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    return RunsUnderWayland() && !(qpa && std::strncmp(qpa, "wayland", 7) == 0);
}

}  // namespace platform
