#include "e2e/support/Screen.h"

#include <cstdlib>

#include "e2e/support/GnomeScreen.h"
#include "e2e/support/KWinScreen.h"
#include "e2e/support/SwayScreen.h"
#include "e2e/support/Util.h"
#include "e2e/support/XDisplay.h"

namespace e2e {

std::unique_ptr<Screen> Screen::Open() {
    const char* session = std::getenv("PENRIKA_WAYLAND_SESSION");
    const std::string name = session ? session : "";
    if (name.empty()) return std::make_unique<XDisplay>();
    if (name == "sway") return std::make_unique<SwayScreen>();
    if (name == "kwin") return std::make_unique<KWinScreen>();
    if (name == "gnome") return std::make_unique<GnomeScreen>();
    throw Error("no screen for the Wayland session \"" + name + "\"");
}

}  // namespace e2e
