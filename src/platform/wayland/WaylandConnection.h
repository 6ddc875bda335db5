// The desktop layer's own connection to the Wayland compositor, apart from the one Qt keeps for
// the program's windows: the globals the compositor offers (what they are decides which window
// stack and keyboard the program uses), the seat, the keymap of the user's keyboard, and waits
// that run the Qt event loop while they handle this connection's events.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_keyboard;
struct wl_interface;
class QSocketNotifier;

namespace platform {

class WaylandConnection {
  public:
    // Connects to $WAYLAND_DISPLAY; Valid() tells whether it worked.
    WaylandConnection();
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    bool Valid() const { return display_ != nullptr; }
    wl_display* display() const { return display_; }
    wl_seat* seat() const { return seat_; }

    // Whether the compositor offers a global of that interface (by its protocol name).
    bool Offers(const std::string& interface) const { return globals_.count(interface) != 0; }
    // Binds the compositor's global of that interface at its version or `maxVersion`, whichever
    // is lower; nullptr when it offers none. The caller owns the proxy.
    void* Bind(const wl_interface* interface, std::uint32_t maxVersion);
    // The version at which the compositor offers it, 0 when not at all.
    std::uint32_t VersionOf(const std::string& interface) const;

    // The keymap of the seat's keyboard as the compositor sends it to its clients (XKB text,
    // the user's layout); "" when the seat has no keyboard.
    const std::string& keymap() const { return keymap_; }

    // Sends what is queued and waits until the compositor has handled it and every event it
    // sent back has been handled here. False when the connection is broken.
    bool RoundTrip();
    // Sends what is queued, reads what has arrived without blocking and handles it; true when
    // any event was handled.
    bool Dispatch();
    // Runs the Qt event loop until `done` holds or the time is up, handling this connection's
    // events meanwhile; `done` is asked after each of them and at least every `pollMs`. Without
    // `userInput`, mouse and key events for this program wait until later.
    bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 20,
                   bool userInput = true);
    // Runs the event loop for `ms` (pacing, not synchronisation), this connection included.
    void Pause(int ms, bool userInput = true);
    // Milliseconds on one clock for the timestamps of input requests.
    static std::uint32_t NowMs();

    // The interfaces a compositor at $WAYLAND_DISPLAY offers, read on a short connection of
    // its own (before the program's windows exist); empty when none answers.
    static std::set<std::string> GlobalsOffered();

  private:
    static void OnGlobal(void* data, wl_registry* r, std::uint32_t name, const char* interface,
                         std::uint32_t version);
    static void OnGlobalRemove(void* data, wl_registry* r, std::uint32_t name);
    static void OnSeatCapabilities(void* data, wl_seat* s, std::uint32_t caps);
    static void OnSeatName(void* data, wl_seat* s, const char* name);
    static void OnKeymap(void* data, wl_keyboard* k, std::uint32_t format, int fd,
                         std::uint32_t size);

    struct Global {
        std::uint32_t name, version;
    };
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_keyboard* keyboard_ = nullptr;
    std::map<std::string, Global> globals_;
    std::string keymap_;
    // Handles the compositor's events whenever they arrive, also while no wait runs (a browser
    // reading our clipboard, the window list changing).
    std::unique_ptr<QSocketNotifier> notifier_;
    int waiting_ = 0;
};

}  // namespace platform
