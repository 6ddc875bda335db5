// The desktop layer's own X connection: atoms, small property helpers, the server time, and
// waits that run the Qt event loop while they watch this connection's events.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/WindowId.h"

namespace platform {

class X11Connection {
  public:
    // Opens a connection to $DISPLAY; Valid() tells whether it worked.
    X11Connection();
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    bool Valid() const { return conn_ != nullptr; }
    xcb_connection_t* conn() const { return conn_; }
    xcb_window_t root() const { return root_; }

    struct Atoms {
        xcb_atom_t netClientListStacking, netActiveWindow, netWmState, netWmStateHidden,
            netWmStateAbove, netWmName, utf8String, wmState, netWmPid, wmClientMachine, wmProtocols,
            netWmPing, netWmUserTime, penrikaTime, ximServers, fcitxServer, clipboard, targets,
            textPlainUtf8, text, textPlain, timestamp;
    };
    const Atoms& atoms() const { return atoms_; }

    // Property values; empty when absent or of another format.
    std::vector<std::uint32_t> Property32(xcb_window_t w, xcb_atom_t prop, xcb_atom_t type);
    std::string PropertyBytes(xcb_window_t w, xcb_atom_t prop, xcb_atom_t type,
                              xcb_atom_t* actualType = nullptr);

    // Sends a 32-bit client message to the root window, as EWMH requests are sent.
    void SendToRoot(xcb_window_t w, xcb_atom_t type, std::uint32_t d0, std::uint32_t d1,
                    std::uint32_t d2 = 0, std::uint32_t d3 = 0, std::uint32_t d4 = 0);

    // Waits until the server has handled every request sent before (one round trip).
    void RoundTrip();

    // A fresh server timestamp (one round trip on a private window).
    xcb_timestamp_t ServerTime();

    // Asks `w` for a _NET_WM_PING reply. A client answers only after it has read every event
    // queued before the ping, so the answer tells that earlier key events have been taken.
    // False when the window does not take pings or did not answer in time.
    bool Ping(xcb_window_t w, int timeoutMs, bool userInput = true);

    // Runs the Qt event loop until `done` holds or the time is up; `done` is checked whenever
    // an event arrives on this connection or in Qt, and at least every `pollMs`.
    // Without `userInput`, mouse and key events for this program wait until later, so that a
    // click on one of its windows cannot start a second action in the middle of typing.
    bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 20,
                   bool userInput = true);
    // Runs the Qt event loop for `ms` (pacing between keys, not synchronisation), handling this
    // connection's events meanwhile (a client waiting for our clipboard waits for nothing else).
    void Pause(int ms, bool userInput = true);

    // Offers `text` (UTF-8) as the clipboard's content from this connection, until another
    // client takes the clipboard or WithdrawClipboard. False when the server would not give it.
    bool OfferClipboard(const std::string& text);
    void WithdrawClipboard();
    // How many requests for the offered text's content (not its list of formats) were answered
    // to the client that owns window `w` (others, such as a clipboard manager, read it too).
    // XCB_NONE: to any client (the compositor, which passes it on to a Wayland program).
    std::uint64_t clipboardServedTo(xcb_window_t w) const;
    // When the client that owns `w` (XCB_NONE: any client) last asked for the offered clipboard
    // (for any format).
    std::chrono::steady_clock::time_point lastClipboardRequestFrom(xcb_window_t w) const;

    // Counts of events seen on this connection, for waits that look for "one more".
    std::uint64_t keyboardMappingNotifies() const { return mappingNotifies_; }
    // Reads every queued event; true when something arrived.
    bool Drain();

  private:
    void Handle(xcb_generic_event_t* ev);
    void AnswerSelectionRequest(const xcb_selection_request_event_t& req);

    xcb_connection_t* conn_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_window_t timeWindow_ = 0;
    Atoms atoms_{};
    std::uint64_t mappingNotifies_ = 0;
    xcb_timestamp_t lastTime_ = 0;
    bool timeSeen_ = false;
    std::uint32_t pingSerial_ = 0;
    xcb_window_t pongWindow_ = 0;
    bool pongSeen_ = false;
    std::string offered_;
    bool offering_ = false;
    xcb_timestamp_t offeredAt_ = 0;
    // Per client (the common part of its resource ids): data requests answered, last request.
    struct ClipboardReader {
        std::uint64_t served = 0;
        std::chrono::steady_clock::time_point lastRequest{};
    };
    std::map<std::uint32_t, ClipboardReader> readers_;
    std::uint32_t clientMask_ = 0;  // the bits of a resource id that name its client
};

}  // namespace platform
