#include "e2e/support/XDisplay.h"

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xtest.h>

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "e2e/support/Process.h"
#include "e2e/support/Util.h"
#include "e2e/support/Xdotool.h"

namespace e2e {

struct XDisplay::Impl {
    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhOk = false;

    // A round trip: everything sent before has been handled by the server.
    void Sync() { free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
};

XDisplay::XDisplay() : d_(std::make_unique<Impl>()) {
    int screenNo = 0;
    d_->c = xcb_connect(nullptr, &screenNo);
    if (!d_->c || xcb_connection_has_error(d_->c)) throw Error("cannot connect to $DISPLAY");
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(d_->c));
    for (int i = 0; i < screenNo; ++i) xcb_screen_next(&it);
    d_->screen = it.data;
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(d_->c, &d_->ewmh);
    d_->ewmhOk = xcb_ewmh_init_atoms_replies(&d_->ewmh, cookies, nullptr);
    if (!d_->ewmhOk) throw Error("cannot read the EWMH atoms");
}

XDisplay::~XDisplay() {
    if (d_->ewmhOk) xcb_ewmh_connection_wipe(&d_->ewmh);
    if (d_->c) xcb_disconnect(d_->c);
}

std::vector<std::uint32_t> XDisplay::ClientWindows() {
    xcb_ewmh_get_windows_reply_t list;
    std::vector<std::uint32_t> out;
    if (xcb_ewmh_get_client_list_reply(&d_->ewmh, xcb_ewmh_get_client_list(&d_->ewmh, 0), &list,
                                       nullptr)) {
        out.assign(list.windows, list.windows + list.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&list);
    }
    return out;
}

std::string XDisplay::Title(std::uint32_t w) {
    xcb_ewmh_get_utf8_strings_reply_t name;
    if (xcb_ewmh_get_wm_name_reply(&d_->ewmh, xcb_ewmh_get_wm_name(&d_->ewmh, w), &name, nullptr)) {
        std::string s(name.strings, name.strings_len);
        xcb_ewmh_get_utf8_strings_reply_wipe(&name);
        return s;
    }
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        d_->c, xcb_get_property(d_->c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
        nullptr);
    std::string s;
    if (r) {
        s.assign(static_cast<const char*>(xcb_get_property_value(r)),
                 static_cast<std::size_t>(xcb_get_property_value_length(r)));
        free(r);
    }
    return s;
}

bool XDisplay::Viewable(std::uint32_t w) {
    xcb_get_window_attributes_reply_t* r =
        xcb_get_window_attributes_reply(d_->c, xcb_get_window_attributes(d_->c, w), nullptr);
    bool v = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    free(r);
    return v;
}

std::uint32_t XDisplay::ActiveWindow() {
    xcb_window_t w = 0;
    if (!xcb_ewmh_get_active_window_reply(&d_->ewmh, xcb_ewmh_get_active_window(&d_->ewmh, 0), &w,
                                          nullptr))
        return 0;
    return w;
}

void XDisplay::RequestActivate(std::uint32_t w) {
    // Source "pager": the window manager honours it without focus-stealing checks.
    xcb_ewmh_request_change_active_window(&d_->ewmh, 0, w, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                          XCB_CURRENT_TIME, XCB_NONE);
    d_->Sync();
}

std::vector<int> XDisplay::Frame(std::uint32_t w) {
    xcb_get_geometry_reply_t* g =
        xcb_get_geometry_reply(d_->c, xcb_get_geometry(d_->c, w), nullptr);
    xcb_translate_coordinates_reply_t* t = xcb_translate_coordinates_reply(
        d_->c, xcb_translate_coordinates(d_->c, w, d_->screen->root, 0, 0), nullptr);
    std::vector<int> out;
    if (g && t) out = {t->dst_x, t->dst_y, g->width, g->height};
    free(g);
    free(t);
    return out;
}

std::vector<int> XDisplay::WorkArea() {
    xcb_ewmh_get_workarea_reply_t area;
    std::vector<int> out;
    if (xcb_ewmh_get_workarea_reply(&d_->ewmh, xcb_ewmh_get_workarea(&d_->ewmh, 0), &area,
                                    nullptr)) {
        if (area.workarea_len > 0)
            out = {static_cast<int>(area.workarea[0].x), static_cast<int>(area.workarea[0].y),
                   static_cast<int>(area.workarea[0].width),
                   static_cast<int>(area.workarea[0].height)};
        xcb_ewmh_get_workarea_reply_wipe(&area);
    }
    return out;
}

void XDisplay::MoveMouse(int x, int y) {
    xcb_test_fake_input(d_->c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, d_->screen->root,
                        static_cast<int16_t>(x), static_cast<int16_t>(y), 0);
    d_->Sync();
}

void XDisplay::Click(int x, int y, int count) {
    MoveMouse(x, y);
    for (int i = 0; i < count; ++i) {
        xcb_test_fake_input(d_->c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(d_->c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        d_->Sync();
        // A person's clicks are some tens of milliseconds apart; browsers count a multiple
        // click by the time between them, so keep well inside their double-click interval.
        if (i + 1 < count) std::this_thread::sleep_for(40ms);
    }
}

bool XDisplay::Move(std::uint32_t w, int x, int y) {
    Process p({"xdotool", "windowmove", "--sync", std::to_string(w), std::to_string(x),
               std::to_string(y)},
              {});
    return WaitUntil([&] { return !p.Running(); }, 10s);
}

void XDisplay::Key(const std::string& keys) {
    XdoKey(keys);
}

void XDisplay::Type(const std::string& text) {
    XdoType(text);
}

void XDisplay::WatchMaps() {
    // Frames mapped on the root, and each change of the client list.
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(d_->c, d_->screen->root, XCB_CW_EVENT_MASK, &mask);
    d_->Sync();
}

std::uint32_t XDisplay::WaitMapped(const std::string& title, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + timeout;
    std::vector<std::uint32_t> watched;
    // Each new client is watched for its own map (the window manager may map it after its
    // frame); it is looked at only after that, so that no map falls in between.
    auto find = [&]() -> std::uint32_t {
        for (std::uint32_t w : ClientWindows()) {
            if (std::find(watched.begin(), watched.end(), w) == watched.end()) {
                const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
                xcb_change_window_attributes(d_->c, w, XCB_CW_EVENT_MASK, &mask);
                watched.push_back(w);
            }
        }
        d_->Sync();
        for (std::uint32_t w : watched)
            if (Viewable(w) && Title(w) == title) return w;
        return 0;
    };
    if (std::uint32_t w = find()) return w;
    for (;;) {
        bool changed = false;
        while (xcb_generic_event_t* e = xcb_poll_for_event(d_->c)) {
            const auto type = e->response_type & 0x7F;
            changed |= type == XCB_MAP_NOTIFY || type == XCB_PROPERTY_NOTIFY;
            free(e);
        }
        if (changed) {
            if (std::uint32_t w = find()) return w;
            continue;  // the replies may have brought more events
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) return 0;
        pollfd pfd{xcb_get_file_descriptor(d_->c), POLLIN, 0};
        ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (xcb_connection_has_error(d_->c)) return 0;
    }
}

}  // namespace e2e
