// The fill shortcut on X11: a passive key grab on the root window over a connection of its
// own, for the combination with every state of Num Lock and Caps Lock (which otherwise make it
// another combination).
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/GlobalShortcut.h"

class QSocketNotifier;

namespace platform {

class X11Shortcut : public GlobalShortcut {
  public:
    X11Shortcut();
    ~X11Shortcut() override;
    X11Shortcut(const X11Shortcut&) = delete;
    X11Shortcut& operator=(const X11Shortcut&) = delete;

    Outcome Take(const std::string& sequence) override;

  private:
    struct Grab {
        xcb_keycode_t key = 0;
        std::uint16_t modifiers = 0;  // without the lock modifiers
    };
    // Grabs the key with the modifiers under every lock state; on any refusal, gives back what
    // it took and returns false.
    bool GrabAll(const Grab& g);
    void Ungrab(const Grab& g);
    std::vector<std::uint16_t> LockStates();
    void ReadEvents();

    xcb_connection_t* conn_ = nullptr;
    xcb_window_t root_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool taken_ = false;
    Grab current_;
};

}  // namespace platform
