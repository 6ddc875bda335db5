// The desktop on Wayland, natively: the window stack, keyboard and clipboard chosen by what the
// compositor offers (wlroots' window list and virtual keyboard, KWin's window management and
// fake input, the data-control clipboard both have), not by the desktop's name. Needs a running
// QApplication on Qt's wayland platform.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "platform/Desktop.h"
#include "platform/GlobalShortcut.h"
#include "platform/wayland/PortalShortcut.h"
#include "platform/wayland/WaylandConnection.h"

namespace platform {

class DataControlClipboard;

class WaylandDesktop {
  public:
    // `appId`: what the program's own windows are called to the compositor (its desktop file's
    // name).
    explicit WaylandDesktop(const std::string& appId);
    ~WaylandDesktop();
    WaylandDesktop(const WaylandDesktop&) = delete;
    WaylandDesktop& operator=(const WaylandDesktop&) = delete;

    // Whether a compositor offering these globals gives the program all it needs.
    static bool Suits(const std::set<std::string>& globals);

    Desktop Parts();
    // Wayland has no protocol for taking a combination: the desktop portal binds it where the
    // session has GlobalShortcuts, and elsewhere the user binds `penrika --fill` in the
    // desktop's own keyboard settings.
    GlobalShortcut& shortcut() { return shortcut_; }

  private:
    WaylandConnection w_;
    std::unique_ptr<WindowStack> windows_;
    std::unique_ptr<DataControlClipboard> clipboard_;
    std::unique_ptr<Keyboard> keyboard_;
    PortalShortcut shortcut_;
};

// Chooses the platform for the program's windows before Qt starts: Wayland natively when the
// session is Wayland's and its compositor suits, else X11 (through XWayland in a Wayland
// session). QT_QPA_PLATFORM, when set, decides. True for Wayland.
bool ChooseWayland();

}  // namespace platform
