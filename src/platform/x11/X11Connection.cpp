#include "platform/x11/X11Connection.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

#include "platform/qt/QtSupport.h"

namespace platform {
namespace {
template <typename T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

xcb_atom_t Intern(xcb_connection_t* c, const char* name) {
    Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    return r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}
}  // namespace

X11Connection::X11Connection() {
    int screenNo = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNo);
    if (!c || xcb_connection_has_error(c)) {
        if (c) xcb_disconnect(c);
        return;
    }
    conn_ = c;
    // A resource id is the client's base with bits of the mask set.
    clientMask_ = ~xcb_get_setup(c)->resource_id_mask;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNo && it.rem; ++i) xcb_screen_next(&it);
    root_ = it.data->root;

    atoms_.netClientListStacking = Intern(c, "_NET_CLIENT_LIST_STACKING");
    atoms_.netActiveWindow = Intern(c, "_NET_ACTIVE_WINDOW");
    atoms_.netWmState = Intern(c, "_NET_WM_STATE");
    atoms_.netWmStateHidden = Intern(c, "_NET_WM_STATE_HIDDEN");
    atoms_.netWmStateAbove = Intern(c, "_NET_WM_STATE_ABOVE");
    atoms_.netWmName = Intern(c, "_NET_WM_NAME");
    atoms_.utf8String = Intern(c, "UTF8_STRING");
    atoms_.wmState = Intern(c, "WM_STATE");
    atoms_.netWmPid = Intern(c, "_NET_WM_PID");
    atoms_.wmClientMachine = Intern(c, "WM_CLIENT_MACHINE");
    atoms_.wmProtocols = Intern(c, "WM_PROTOCOLS");
    atoms_.netWmPing = Intern(c, "_NET_WM_PING");
    atoms_.netWmUserTime = Intern(c, "_NET_WM_USER_TIME");
    atoms_.penrikaTime = Intern(c, "_PENRIKA_TIME");
    atoms_.ximServers = Intern(c, "XIM_SERVERS");
    atoms_.fcitxServer = Intern(c, "_FCITX_SERVER");
    atoms_.clipboard = Intern(c, "CLIPBOARD");
    atoms_.targets = Intern(c, "TARGETS");
    atoms_.textPlainUtf8 = Intern(c, "text/plain;charset=utf-8");
    atoms_.text = Intern(c, "TEXT");
    atoms_.textPlain = Intern(c, "text/plain");
    atoms_.timestamp = Intern(c, "TIMESTAMP");

    // Changes of the active window and the pong answers to pings arrive on the root.
    std::uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &rootMask);

    // An unmapped input-only window whose property changes yield server timestamps.
    timeWindow_ = xcb_generate_id(c);
    std::uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(c, 0, timeWindow_, root_, -10, -10, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_flush(c);
}

X11Connection::~X11Connection() {
    if (conn_) {
        xcb_destroy_window(conn_, timeWindow_);
        xcb_flush(conn_);
        xcb_disconnect(conn_);
    }
}

std::vector<std::uint32_t> X11Connection::Property32(xcb_window_t w, xcb_atom_t prop,
                                                     xcb_atom_t type) {
    std::vector<std::uint32_t> out;
    if (!conn_ || !w) return out;
    Reply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(conn_, xcb_get_property(conn_, 0, w, prop, type, 0, 4096), nullptr));
    if (!r || r->format != 32 || r->type != type) return out;
    auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(r.get()));
    out.assign(data, data + xcb_get_property_value_length(r.get()) / 4);
    return out;
}

std::string X11Connection::PropertyBytes(xcb_window_t w, xcb_atom_t prop, xcb_atom_t type,
                                         xcb_atom_t* actualType) {
    if (actualType) *actualType = XCB_ATOM_NONE;
    if (!conn_ || !w) return {};
    Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
        conn_, xcb_get_property(conn_, 0, w, prop, type, 0, 1 << 16), nullptr));
    if (!r || r->format != 8) return {};
    if (type != XCB_GET_PROPERTY_TYPE_ANY && r->type != type) return {};
    if (actualType) *actualType = r->type;
    auto* data = static_cast<const char*>(xcb_get_property_value(r.get()));
    return std::string(data, static_cast<std::size_t>(xcb_get_property_value_length(r.get())));
}

void X11Connection::SendToRoot(xcb_window_t w, xcb_atom_t type, std::uint32_t d0, std::uint32_t d1,
                               std::uint32_t d2, std::uint32_t d3, std::uint32_t d4) {
    if (!conn_) return;
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = w;
    ev.type = type;
    ev.data.data32[0] = d0;
    ev.data.data32[1] = d1;
    ev.data.data32[2] = d2;
    ev.data.data32[3] = d3;
    ev.data.data32[4] = d4;
    xcb_send_event(conn_, 0, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&ev));
    xcb_flush(conn_);
}

void X11Connection::RoundTrip() {
    if (conn_) free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
}

xcb_timestamp_t X11Connection::ServerTime() {
    if (!conn_) return XCB_CURRENT_TIME;
    timeSeen_ = false;
    xcb_change_property(conn_, XCB_PROP_MODE_APPEND, timeWindow_, atoms_.penrikaTime,
                        XCB_ATOM_STRING, 8, 0, nullptr);
    // The server makes the PropertyNotify before it answers the next request.
    RoundTrip();
    Drain();
    return timeSeen_ ? lastTime_ : XCB_CURRENT_TIME;
}

bool X11Connection::Ping(xcb_window_t w, int timeoutMs, bool userInput) {
    if (!conn_ || !w) return false;
    std::vector<std::uint32_t> protocols = Property32(w, atoms_.wmProtocols, XCB_ATOM_ATOM);
    if (std::find(protocols.begin(), protocols.end(), atoms_.netWmPing) == protocols.end())
        return false;
    // A serial of our own in the timestamp field; clients echo the message unchanged.
    pingSerial_ = 0x50000000u | ((pingSerial_ + 1) & 0x0fffffffu);
    pongWindow_ = w;
    pongSeen_ = false;
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = w;
    ev.type = atoms_.wmProtocols;
    ev.data.data32[0] = atoms_.netWmPing;
    ev.data.data32[1] = pingSerial_;
    ev.data.data32[2] = w;
    xcb_send_event(conn_, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
    xcb_flush(conn_);
    return WaitUntil([this] { return pongSeen_; }, timeoutMs, 5, userInput);
}

void X11Connection::Handle(xcb_generic_event_t* ev) {
    switch (ev->response_type & 0x7f) {
        case XCB_MAPPING_NOTIFY: {
            auto* m = reinterpret_cast<xcb_mapping_notify_event_t*>(ev);
            if (m->request == XCB_MAPPING_KEYBOARD) ++mappingNotifies_;
            break;
        }
        case XCB_PROPERTY_NOTIFY: {
            auto* p = reinterpret_cast<xcb_property_notify_event_t*>(ev);
            if (p->window == timeWindow_ && p->atom == atoms_.penrikaTime) {
                lastTime_ = p->time;
                timeSeen_ = true;
            }
            break;
        }
        case XCB_SELECTION_REQUEST:
            AnswerSelectionRequest(*reinterpret_cast<xcb_selection_request_event_t*>(ev));
            break;
        case XCB_SELECTION_CLEAR: {
            auto* c = reinterpret_cast<xcb_selection_clear_event_t*>(ev);
            if (c->selection == atoms_.clipboard && c->owner == timeWindow_) offering_ = false;
            break;
        }
        case XCB_CLIENT_MESSAGE: {
            auto* m = reinterpret_cast<xcb_client_message_event_t*>(ev);
            if (m->type == atoms_.wmProtocols && m->data.data32[0] == atoms_.netWmPing &&
                m->data.data32[1] == pingSerial_ && m->data.data32[2] == pongWindow_)
                pongSeen_ = true;
            break;
        }
        default:
            break;
    }
}

bool X11Connection::OfferClipboard(const std::string& text) {
    if (!conn_) return false;
    offered_ = text;
    offeredAt_ = ServerTime();
    xcb_set_selection_owner(conn_, timeWindow_, atoms_.clipboard, offeredAt_);
    Reply<xcb_get_selection_owner_reply_t> r(xcb_get_selection_owner_reply(
        conn_, xcb_get_selection_owner(conn_, atoms_.clipboard), nullptr));
    offering_ = r && r->owner == timeWindow_;
    return offering_;
}

std::uint64_t X11Connection::clipboardServedTo(xcb_window_t w) const {
    if (w == XCB_NONE) {
        std::uint64_t all = 0;
        for (const auto& [client, reader] : readers_) all += reader.served;
        return all;
    }
    auto it = readers_.find(w & clientMask_);
    return it == readers_.end() ? 0 : it->second.served;
}

std::chrono::steady_clock::time_point X11Connection::lastClipboardRequestFrom(
    xcb_window_t w) const {
    if (w == XCB_NONE) {
        std::chrono::steady_clock::time_point last{};
        for (const auto& [client, reader] : readers_) last = std::max(last, reader.lastRequest);
        return last;
    }
    auto it = readers_.find(w & clientMask_);
    return it == readers_.end() ? std::chrono::steady_clock::time_point{} : it->second.lastRequest;
}

void X11Connection::WithdrawClipboard() {
    if (!conn_ || !offering_) return;
    offering_ = false;
    offered_.clear();
    xcb_set_selection_owner(conn_, XCB_NONE, atoms_.clipboard, offeredAt_);
    xcb_flush(conn_);
}

void X11Connection::AnswerSelectionRequest(const xcb_selection_request_event_t& req) {
    xcb_selection_notify_event_t answer{};
    answer.response_type = XCB_SELECTION_NOTIFY;
    answer.time = req.time;
    answer.requestor = req.requestor;
    answer.selection = req.selection;
    answer.target = req.target;
    // Clients of old put no property in the request: the target's name stands for it.
    const xcb_atom_t property = req.property != XCB_NONE ? req.property : req.target;
    answer.property = XCB_NONE;
    ClipboardReader& reader = readers_[req.requestor & clientMask_];
    reader.lastRequest = std::chrono::steady_clock::now();
    const bool ours = offering_ && req.selection == atoms_.clipboard && req.owner == timeWindow_ &&
                      (req.time == XCB_CURRENT_TIME || req.time >= offeredAt_);
    if (ours && req.target == atoms_.targets) {
        const xcb_atom_t list[] = {atoms_.targets,  atoms_.timestamp, atoms_.utf8String,
                                   atoms_.textPlainUtf8, atoms_.text, atoms_.textPlain};
        xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, req.requestor, property, XCB_ATOM_ATOM,
                            32, static_cast<std::uint32_t>(std::size(list)), list);
        answer.property = property;
    } else if (ours && req.target == atoms_.timestamp) {
        xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, req.requestor, property,
                            XCB_ATOM_INTEGER, 32, 1, &offeredAt_);
        answer.property = property;
    } else if (ours && (req.target == atoms_.utf8String || req.target == atoms_.textPlainUtf8 ||
                        req.target == atoms_.text || req.target == atoms_.textPlain)) {
        // TEXT and plain text are answered in UTF-8 as well, typed as such.
        const xcb_atom_t type = req.target == atoms_.textPlainUtf8 ? atoms_.textPlainUtf8
                                                                   : atoms_.utf8String;
        xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, req.requestor, property, type, 8,
                            static_cast<std::uint32_t>(offered_.size()), offered_.data());
        answer.property = property;
        ++reader.served;
    }
    xcb_send_event(conn_, 0, req.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&answer));
    xcb_flush(conn_);
}

bool X11Connection::Drain() {
    if (!conn_) return false;
    bool any = false;
    while (xcb_generic_event_t* ev = xcb_poll_for_event(conn_)) {
        any = true;
        Handle(ev);
        free(ev);
    }
    return any;
}

bool X11Connection::WaitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs,
                              bool userInput) {
    return RunEventsUntil(done, timeoutMs, pollMs, userInput,
                          conn_ ? xcb_get_file_descriptor(conn_) : -1, [this] { return Drain(); });
}

void X11Connection::Pause(int ms, bool userInput) {
    if (ms <= 0) return;
    WaitUntil([] { return false; }, ms, ms, userInput);
}

}  // namespace platform
