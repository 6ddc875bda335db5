#include "e2e/support/Pointer.h"

#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "e2e/support/Util.h"
#include "fake-input-client.h"
#include "wlr-virtual-pointer-unstable-v1-client.h"

namespace e2e {

namespace {

std::uint32_t NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// A connection of the pointer's own with the globals it needs.
struct Globals {
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* wlr = nullptr;
    org_kde_kwin_fake_input* kde = nullptr;

    static void OnGlobal(void* data, wl_registry* r, std::uint32_t name, const char* interface,
                         std::uint32_t version) {
        auto* g = static_cast<Globals*>(data);
        if (!g->seat && std::strcmp(interface, wl_seat_interface.name) == 0)
            g->seat = static_cast<wl_seat*>(wl_registry_bind(r, name, &wl_seat_interface, 1));
        else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
            g->wlr = static_cast<zwlr_virtual_pointer_manager_v1*>(
                wl_registry_bind(r, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
        // Absolute moves from version 3 on.
        else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 &&
                 version >= 3)
            g->kde = static_cast<org_kde_kwin_fake_input*>(
                wl_registry_bind(r, name, &org_kde_kwin_fake_input_interface, 3));
    }
};

// What both kinds of pointer share: the connection with its globals and the layout's size.
class WaylandPointer : public Pointer {
  protected:
    WaylandPointer(wl_display* d, Globals g, int width, int height)
        : d_(d), g_(g), width_(width), height_(height) {}
    ~WaylandPointer() override {
        if (g_.seat) wl_seat_destroy(g_.seat);
        wl_display_disconnect(d_);
    }
    void CheckPlace(int x, int y) const {
        if (x < 0 || y < 0 || x > width_ || y > height_)
            throw Error("the pointer cannot go to " + std::to_string(x) + "," + std::to_string(y));
    }
    void Sync() {
        if (wl_display_roundtrip(d_) < 0) throw Error("the compositor closed the connection");
    }

    wl_display* d_;
    Globals g_;
    int width_, height_;
};

class WlrPointer : public WaylandPointer {
  public:
    WlrPointer(wl_display* d, Globals g, int width, int height)
        : WaylandPointer(d, g, width, height) {
        p_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g_.wlr, g_.seat);
        Sync();
    }
    ~WlrPointer() override {
        zwlr_virtual_pointer_v1_destroy(p_);
        zwlr_virtual_pointer_manager_v1_destroy(g_.wlr);
    }

    void MoveTo(int x, int y) override {
        CheckPlace(x, y);
        zwlr_virtual_pointer_v1_motion_absolute(p_, NowMs(), static_cast<std::uint32_t>(x),
                                                static_cast<std::uint32_t>(y),
                                                static_cast<std::uint32_t>(width_),
                                                static_cast<std::uint32_t>(height_));
        zwlr_virtual_pointer_v1_frame(p_);
        Sync();
    }
    void Button(bool pressed) override {
        zwlr_virtual_pointer_v1_button(
            p_, NowMs(), BTN_LEFT,
            pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
        zwlr_virtual_pointer_v1_frame(p_);
        Sync();
    }

  private:
    zwlr_virtual_pointer_v1* p_ = nullptr;
};

// KWin's fake input, which takes places on the screen as they are.
class KdePointer : public WaylandPointer {
  public:
    KdePointer(wl_display* d, Globals g, int width, int height)
        : WaylandPointer(d, g, width, height) {
        org_kde_kwin_fake_input_authenticate(g_.kde, "penrika tests", "the user's pointer");
        Sync();
    }
    ~KdePointer() override {
        // Bound below version 5, which brought its destructor request.
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(g_.kde));
    }

    void MoveTo(int x, int y) override {
        CheckPlace(x, y);
        // KWin drops a move to where the pointer is, and a window that has come up under the
        // pointer since hears of it only once it moves: it moves there through a pixel beside.
        if (x == x_ && y == y_)
            org_kde_kwin_fake_input_pointer_motion_absolute(
                g_.kde, wl_fixed_from_int(x < width_ ? x + 1 : x - 1), wl_fixed_from_int(y));
        org_kde_kwin_fake_input_pointer_motion_absolute(g_.kde, wl_fixed_from_int(x),
                                                        wl_fixed_from_int(y));
        x_ = x, y_ = y;
        Sync();
    }
    void Button(bool pressed) override {
        org_kde_kwin_fake_input_button(
            g_.kde, BTN_LEFT,
            pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
        Sync();
    }

  private:
    int x_ = -1, y_ = -1;
};

}  // namespace

std::unique_ptr<Pointer> Pointer::Connect(int layoutWidth, int layoutHeight) {
    wl_display* d = wl_display_connect(nullptr);
    if (!d) throw Error("cannot connect to $WAYLAND_DISPLAY");
    Globals g;
    static const wl_registry_listener listener = {Globals::OnGlobal,
                                                  [](void*, wl_registry*, std::uint32_t) {}};
    wl_registry* r = wl_display_get_registry(d);
    wl_registry_add_listener(r, &listener, &g);
    wl_display_roundtrip(d);
    wl_registry_destroy(r);
    if (g.wlr) {
        if (g.kde) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(g.kde));
        return std::make_unique<WlrPointer>(d, g, layoutWidth, layoutHeight);
    }
    if (g.kde) return std::make_unique<KdePointer>(d, g, layoutWidth, layoutHeight);
    if (g.seat) wl_seat_destroy(g.seat);
    wl_display_disconnect(d);
    throw Error("the compositor offers no virtual pointer");
}

void Pointer::Click(int x, int y, int count) {
    MoveTo(x, y);
    for (int i = 0; i < count; ++i) {
        Button(true);
        Button(false);
        // As XDisplay::Click: a person's clicks are some tens of milliseconds apart.
        if (i + 1 < count) std::this_thread::sleep_for(40ms);
    }
}

}  // namespace e2e
