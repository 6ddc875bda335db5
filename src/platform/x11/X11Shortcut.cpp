#include "platform/x11/X11Shortcut.h"

#include <X11/keysym.h>
#include <xcb/xcb_keysyms.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cstdlib>

#include "platform/qt/QtSupport.h"

namespace platform {
namespace {

constexpr std::uint16_t kCtrl = XCB_MOD_MASK_CONTROL, kShift = XCB_MOD_MASK_SHIFT,
                        kAlt = XCB_MOD_MASK_1, kSuper = XCB_MOD_MASK_4;

}  // namespace

X11Shortcut::X11Shortcut() {
    int screen = 0;
    conn_ = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(conn_)) {
        xcb_disconnect(conn_);
        conn_ = nullptr;
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_));
    for (int i = 0; i < screen && it.rem; ++i) xcb_screen_next(&it);
    root_ = it.data->root;
    notifier_ =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(conn_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { ReadEvents(); });
}

X11Shortcut::~X11Shortcut() {
    notifier_.reset();
    if (!conn_) return;
    if (taken_) Ungrab(current_);
    xcb_flush(conn_);
    xcb_disconnect(conn_);
}

std::vector<std::uint16_t> X11Shortcut::LockStates() {
    // Num Lock is whichever modifier the Num_Lock key sets on this server.
    std::uint16_t numLock = 0;
    xcb_key_symbols_t* syms = xcb_key_symbols_alloc(conn_);
    xcb_keycode_t* numCodes = syms ? xcb_key_symbols_get_keycode(syms, XK_Num_Lock) : nullptr;
    xcb_get_modifier_mapping_reply_t* map =
        xcb_get_modifier_mapping_reply(conn_, xcb_get_modifier_mapping(conn_), nullptr);
    if (map && numCodes) {
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(map);
        for (int m = 0; m < 8; ++m)
            for (int k = 0; k < map->keycodes_per_modifier; ++k)
                for (const xcb_keycode_t* n = numCodes; *n; ++n)
                    if (codes[m * map->keycodes_per_modifier + k] == *n)
                        numLock = static_cast<std::uint16_t>(1u << m);
    }
    std::free(map);
    std::free(numCodes);
    if (syms) xcb_key_symbols_free(syms);
    std::vector<std::uint16_t> states = {0, XCB_MOD_MASK_LOCK};
    if (numLock && numLock != XCB_MOD_MASK_LOCK) {
        states.push_back(numLock);
        states.push_back(static_cast<std::uint16_t>(numLock | XCB_MOD_MASK_LOCK));
    }
    return states;
}

bool X11Shortcut::GrabAll(const Grab& g) {
    std::vector<std::uint16_t> done;
    for (std::uint16_t lock : LockStates()) {
        const std::uint16_t mods = g.modifiers | lock;
        xcb_generic_error_t* err = xcb_request_check(
            conn_, xcb_grab_key_checked(conn_, 1, root_, mods, g.key, XCB_GRAB_MODE_ASYNC,
                                        XCB_GRAB_MODE_ASYNC));
        if (err) {
            std::free(err);
            for (std::uint16_t m : done) xcb_ungrab_key(conn_, g.key, root_, m);
            xcb_flush(conn_);
            return false;
        }
        done.push_back(mods);
    }
    return true;
}

void X11Shortcut::Ungrab(const Grab& g) {
    for (std::uint16_t lock : LockStates())
        xcb_ungrab_key(conn_, g.key, root_, static_cast<std::uint16_t>(g.modifiers | lock));
    xcb_flush(conn_);
}

GlobalShortcut::Outcome X11Shortcut::Take(const std::string& sequence) {
    if (!conn_) return sequence.empty() ? Outcome::Released : Outcome::Unsupported;
    if (sequence.empty()) {
        if (taken_) Ungrab(current_);
        taken_ = false;
        return Outcome::Released;
    }
    const std::optional<QKeyCombination> parsed = ShortcutCombination(sequence);
    if (!parsed) return Outcome::Invalid;
    const QKeyCombination combo = *parsed;
    const xcb_keysym_t sym = QtKeyToKeysym(combo.key());
    if (!sym) return Outcome::Invalid;
    Grab g;
    xcb_key_symbols_t* syms = xcb_key_symbols_alloc(conn_);
    if (xcb_keycode_t* codes = syms ? xcb_key_symbols_get_keycode(syms, sym) : nullptr) {
        g.key = codes[0];
        std::free(codes);
    }
    if (syms) xcb_key_symbols_free(syms);
    if (!g.key) return Outcome::Invalid;
    const Qt::KeyboardModifiers m = combo.keyboardModifiers();
    if (m & Qt::ControlModifier) g.modifiers |= kCtrl;
    if (m & Qt::ShiftModifier) g.modifiers |= kShift;
    if (m & Qt::AltModifier) g.modifiers |= kAlt;
    if (m & Qt::MetaModifier) g.modifiers |= kSuper;
    if (taken_ && g.key == current_.key && g.modifiers == current_.modifiers) return Outcome::Taken;
    if (!GrabAll(g)) return Outcome::Held;
    if (taken_) Ungrab(current_);
    current_ = g;
    taken_ = true;
    return Outcome::Taken;
}

void X11Shortcut::ReadEvents() {
    constexpr std::uint16_t kPlain = kCtrl | kShift | kAlt | kSuper;
    xcb_generic_event_t* e = xcb_poll_for_event(conn_);
    while (e) {
        xcb_generic_event_t* next = xcb_poll_for_queued_event(conn_);
        if ((e->response_type & 0x7f) == XCB_KEY_RELEASE && taken_) {
            const auto* k = reinterpret_cast<xcb_key_release_event_t*>(e);
            const bool ours =
                k->detail == current_.key && (k->state & kPlain) == current_.modifiers;
            // A held key repeats as a release and a press at the same instant: only the last
            // release, when the user lets go, is a press of the shortcut.
            const auto* p = reinterpret_cast<xcb_key_press_event_t*>(next);
            const bool repeat = next && (next->response_type & 0x7f) == XCB_KEY_PRESS &&
                                p->detail == k->detail && p->time == k->time;
            // After this read: the fill runs event loops of its own.
            if (ours && !repeat) QTimer::singleShot(0, notifier_.get(), [this] { Pressed(); });
        }
        std::free(e);
        e = next ? next : xcb_poll_for_event(conn_);
    }
}

}  // namespace platform
