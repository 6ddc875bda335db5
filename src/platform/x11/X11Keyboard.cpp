#include "platform/x11/X11Keyboard.h"

#include <xcb/xtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <memory>
#include <thread>

#include "core/Utf8.h"
#include "platform/posix/InputMethodSwitch.h"

namespace platform {
namespace {
constexpr xcb_keysym_t kNoSymbol = 0;
constexpr xcb_keysym_t kUnicodeBase = 0x1000000;
constexpr xcb_keysym_t kShiftL = 0xffe1, kControlL = 0xffe3, kAltL = 0xffe9, kMetaL = 0xffe7;

struct NamedSym {
    NamedKey key;
    xcb_keysym_t sym;
};
constexpr std::array<NamedSym, 40> kNamedSyms{{
    {NamedKey::Backspace, 0xff08},
    {NamedKey::Break, 0xff6b},
    {NamedKey::CapsLock, 0xffe5},
    {NamedKey::Delete, 0xffff},
    {NamedKey::Down, 0xff54},
    {NamedKey::End, 0xff57},
    {NamedKey::Enter, 0xff0d},
    {NamedKey::Escape, 0xff1b},
    {NamedKey::Help, 0xff6a},
    {NamedKey::Home, 0xff50},
    {NamedKey::Insert, 0xff63},
    {NamedKey::Left, 0xff51},
    {NamedKey::NumLock, 0xff7f},
    {NamedKey::PageDown, 0xff56},
    {NamedKey::PageUp, 0xff55},
    {NamedKey::PrintScreen, 0xff61},
    {NamedKey::Right, 0xff53},
    {NamedKey::ScrollLock, 0xff14},
    {NamedKey::Tab, 0xff09},
    {NamedKey::Up, 0xff52},
    {NamedKey::F1, 0xffbe},
    {NamedKey::F2, 0xffbf},
    {NamedKey::F3, 0xffc0},
    {NamedKey::F4, 0xffc1},
    {NamedKey::F5, 0xffc2},
    {NamedKey::F6, 0xffc3},
    {NamedKey::F7, 0xffc4},
    {NamedKey::F8, 0xffc5},
    {NamedKey::F9, 0xffc6},
    {NamedKey::F10, 0xffc7},
    {NamedKey::F11, 0xffc8},
    {NamedKey::F12, 0xffc9},
    {NamedKey::F13, 0xffca},
    {NamedKey::F14, 0xffcb},
    {NamedKey::F15, 0xffcc},
    {NamedKey::F16, 0xffcd},
    {NamedKey::KeypadAdd, 0xffab},
    {NamedKey::KeypadSubtract, 0xffad},
    {NamedKey::KeypadMultiply, 0xffaa},
    {NamedKey::KeypadDivide, 0xffaf},
}};

// Every named key has its row: a key added to the notation cannot be forgotten here.
constexpr bool EveryNamedKeyHasASym() {
    for (int k = static_cast<int>(NamedKey::Backspace);
         k <= static_cast<int>(NamedKey::KeypadDivide); ++k) {
        bool found = false;
        for (const NamedSym& n : kNamedSyms) found = found || n.key == static_cast<NamedKey>(k);
        if (!found) return false;
    }
    return true;
}
static_assert(EveryNamedKeyHasASym());

xcb_keysym_t NamedKeySym(NamedKey k) {
    for (const NamedSym& n : kNamedSyms)
        if (n.key == k) return n.sym;
    return kNoSymbol;
}

// The keysym the keyboard's own map would carry for a character.
xcb_keysym_t LegacySym(char32_t c) {
    if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff)) return c;
    return kUnicodeBase + c;
}

// A letter the Caps Lock turns into its capital (and back, with Shift).
bool HasCase(xcb_keysym_t lower, xcb_keysym_t upper) {
    const bool ascii = lower >= 'a' && lower <= 'z' && upper == lower - 0x20;
    const bool latin1 = lower >= 0xe0 && lower <= 0xfe && lower != 0xf7 && upper == lower - 0x20;
    return ascii || latin1;
}

// The clipboard takes a paste of at most this many bytes in one answer.
constexpr std::size_t kMaxPasteBytes = 1 << 15;
// How long the target must have asked nothing of the clipboard before the next key.
constexpr auto kPasteQuiet = std::chrono::milliseconds(40);
// The same before the first paste into a window, whose reads per paste are not known yet.
constexpr auto kFirstPasteQuiet = std::chrono::milliseconds(200);
// How long a compositor may take to hand a Wayland program the clipboard we have just offered,
// once it has asked what it holds: no event says when it has.
constexpr int kCompositorTakesOverMs = 60;

char32_t SymToChar(xcb_keysym_t s) {
    if ((s >= 0x20 && s <= 0x7e) || (s >= 0xa0 && s <= 0xff)) return s;
    if (s >= kUnicodeBase + 0x20 && s <= kUnicodeBase + 0x10ffff) return s - kUnicodeBase;
    return 0;
}
}  // namespace

xcb_keysym_t X11KeyMap::At(xcb_keycode_t kc, int col) const {
    if (kc < minKc || kc > maxKc || col >= perKc) return kNoSymbol;
    std::size_t i = static_cast<std::size_t>(kc - minKc) * perKc + col;
    return i < syms.size() ? syms[i] : kNoSymbol;
}

std::vector<xcb_keycode_t> SpareKeycodes(const X11KeyMap& map, xcb_keycode_t lowest,
                                         const std::set<xcb_keycode_t>& ours) {
    std::vector<xcb_keycode_t> out;
    for (int k = map.maxKc; k >= std::max<int>(map.minKc, lowest); --k) {
        auto kc = static_cast<xcb_keycode_t>(k);
        bool spare = ours.count(kc) > 0;
        if (!spare) {
            spare = true;
            for (int col = 0; col < map.perKc && spare; ++col) spare = map.At(kc, col) == kNoSymbol;
        }
        if (spare) out.push_back(kc);
    }
    return out;
}

X11Keyboard::X11Keyboard(X11Connection& x, X11WindowStack& windows, Clipboard& clipboard)
    : x_(x), windows_(windows), clipboard_(clipboard) {
    restoreTimer_.setSingleShot(true);
    restoreTimer_.callOnTimeout([this] { RestoreNow(); });
}

X11Keyboard::~X11Keyboard() {
    restoreTimer_.stop();
    if (owned_.empty() || !x_.Valid()) return;
    // Leaving now must not turn the last keys into other characters: let the browser read them
    // first. No event loop is needed for that, only time.
    auto ready = lastKey_ + std::chrono::milliseconds(timing_.restoreAfterMs);
    if (Clock::now() < ready) std::this_thread::sleep_until(ready);
    RestoreNow();
}

bool X11Keyboard::LoadMap() {
    xcb_connection_t* c = x_.conn();
    const xcb_setup_t* setup = xcb_get_setup(c);
    map_.minKc = setup->min_keycode;
    map_.maxKc = setup->max_keycode;
    auto* r = xcb_get_keyboard_mapping_reply(
        c,
        xcb_get_keyboard_mapping(c, map_.minKc,
                                 static_cast<std::uint8_t>(map_.maxKc - map_.minKc + 1)),
        nullptr);
    if (!r) return false;
    map_.perKc = r->keysyms_per_keycode;
    const xcb_keysym_t* s = xcb_get_keyboard_mapping_keysyms(r);
    map_.syms.assign(s, s + xcb_get_keyboard_mapping_keysyms_length(r));
    std::free(r);
    // A spare that no longer carries our symbol was reset by someone else (a layout switch).
    for (auto it = owned_.begin(); it != owned_.end();) {
        if (map_.At(it->first, 0) != it->second.sym)
            it = owned_.erase(it);
        else
            ++it;
    }
    bool shiftNeeded = false;
    FindKey(kShiftL, &shiftKc_, &shiftNeeded);
    FindKey(kControlL, &ctrlKc_, &shiftNeeded);
    if (!FindKey(kAltL, &altKc_, &shiftNeeded)) FindKey(kMetaL, &altKc_, &shiftNeeded);
    return map_.perKc > 0;
}

bool X11Keyboard::FindKey(xcb_keysym_t sym, xcb_keycode_t* kc, bool* shift) const {
    if (sym == kNoSymbol) return false;
    // The main keys first: some maps also carry ( ) on extra keys at the top of the range,
    // which pages report as other keys than the ones a user presses.
    const std::pair<int, int> ranges[] = {{map_.minKc, kLowestSpareKeycode - 1},
                                          {kLowestSpareKeycode, map_.maxKc}};
    for (auto [lo, hi] : ranges) {
        for (int col = 0; col < std::min(map_.perKc, 2); ++col) {
            for (int k = lo; k <= hi; ++k) {
                auto code = static_cast<xcb_keycode_t>(k);
                if (owned_.count(code)) continue;
                if (map_.At(code, col) == sym) {
                    *kc = code;
                    *shift = col == 1;
                    return true;
                }
            }
        }
    }
    return false;
}

char32_t X11Keyboard::ShiftedChar(char32_t c) {
    if (!x_.Valid() || !LoadMap()) return 0;
    xcb_keycode_t kc = 0;
    bool onShift = false;
    if (!FindKey(LegacySym(c), &kc, &onShift) || onShift) return 0;
    return SymToChar(map_.At(kc, 1));
}

X11Keyboard::Plan X11Keyboard::PlanStroke(const KeyStroke& s, const Route& route) const {
    Plan p;
    p.shift = s.shift;
    p.ctrl = s.ctrl;
    p.alt = s.alt;
    xcb_keysym_t sym = kNoSymbol;
    if (s.key != NamedKey::None) {
        sym = NamedKeySym(s.key);
    } else if (!s.ctrl && !s.alt) {
        bool needShift = false;
        if (route.ownKeys && FindKey(LegacySym(s.ch), &p.keycode, &needShift)) {
            p.shift = needShift;
            if (capsLock_ && HasCase(map_.At(p.keycode, 0), map_.At(p.keycode, 1)))
                p.shift = !p.shift;
            return p;
        }
        p.keycode = 0;
        if (route.paste)
            p.pasted = s.ch;
        else
            p.spareSym = kUnicodeBase + s.ch;
        return p;
    } else {
        // Shortcuts (Ctrl+C) must come from the keyboard's own key for the character.
        sym = LegacySym(s.ch);
    }
    bool needShift = false;
    if (FindKey(sym, &p.keycode, &needShift)) {
        p.shift = p.shift || needShift;
    } else {
        p.keycode = 0;
        p.spareSym = sym;
    }
    return p;
}

bool X11Keyboard::WouldPaste(const std::vector<KeyStroke>& strokes, const Route& route) {
    if (!route.paste || !x_.Valid() || !LoadMap()) return false;
    for (const KeyStroke& s : strokes)
        if (PlanStroke(s, route).pasted) return true;
    return false;
}

bool X11Keyboard::Paste(const std::string& text, xcb_window_t target,
                        const std::function<bool()>& stillTarget) {
    xcb_keycode_t v = 0;
    bool vShift = false;
    const Clock::time_point offered = Clock::now();
    if (!FindKey('v', &v, &vShift) || vShift || !x_.OfferClipboard(text)) return false;
    if (unseen_) {
        // A compositor's window reads it through the compositor, which asks in its stead. It
        // hands a Wayland program the new clipboard only once it has asked what it holds:
        // Ctrl+V before then pasted nothing (Chromium on GNOME).
        target = XCB_NONE;
        x_.WaitUntil([&] { return x_.lastClipboardRequestFrom(XCB_NONE) >= offered; }, 1000, 2,
                     userInput_);
        // It reads the answer in its own time, and a Ctrl+V it takes before then pastes what
        // the clipboard held before (the copied label, in Chromium and Firefox alike).
        x_.Pause(kCompositorTakesOverMs, userInput_);
    }
    const std::uint64_t served = x_.clipboardServedTo(target);
    if (!PressReleaseOn(stillTarget, v, false, true, false)) return false;
    // The target asks for the text while it handles Ctrl+V (an input method's clipboard
    // history may read it first: only the target's own request counts), and for the list of formats again
    // before it inserts it (Chromium drops both the paste and the keys that come meanwhile if
    // that goes unanswered): what follows goes out once it has stopped asking.
    if (!x_.WaitUntil([&] { return x_.clipboardServedTo(target) > served; }, 2000, 5, userInput_))
        return false;
    // Chromium and Firefox read the text twice for one paste, the second time only once the page
    // takes it, and on a busy machine well after the first: a key sent in between was lost, or
    // the paste was (Chromium, one fill in three). A target is done once it has read the text as
    // often as for its last paste; the first time, once it has asked nothing for longer.
    std::uint64_t& reads = readsPerPaste_[target];
    if (reads > 1)
        x_.WaitUntil([&] { return x_.clipboardServedTo(target) - served >= reads; }, 1000, 5,
                     userInput_);
    const auto quiet = reads ? kPasteQuiet : kFirstPasteQuiet;
    x_.WaitUntil([&] { return Clock::now() - x_.lastClipboardRequestFrom(target) > quiet; },
                 1000, 5, userInput_);
    reads = x_.clipboardServedTo(target) - served;
    PingTarget(target, 500);
    return true;
}

void X11Keyboard::WriteSyms(const std::map<xcb_keycode_t, xcb_keysym_t>& changes) {
    if (changes.empty()) return;
    // One request for the whole span, the keys between ours sent back as they are: every
    // request makes each client (window manager, input method, every toolkit) reload its
    // keyboard, and a reload per key can keep a window manager busy for seconds.
    const xcb_keycode_t lo = changes.begin()->first, hi = changes.rbegin()->first;
    const std::size_t per = static_cast<std::size_t>(map_.perKc);
    const std::size_t base = static_cast<std::size_t>(lo - map_.minKc) * per;
    std::vector<xcb_keysym_t> rows(
        map_.syms.begin() + static_cast<std::ptrdiff_t>(base),
        map_.syms.begin() + static_cast<std::ptrdiff_t>(base + (hi - lo + 1) * per));
    for (auto [kc, sym] : changes) {
        xcb_keysym_t* row = rows.data() + static_cast<std::size_t>(kc - lo) * per;
        std::fill(row, row + per, kNoSymbol);
        // Both levels, so that a Shift the user holds by accident changes nothing.
        if (sym != kNoSymbol) {
            row[0] = sym;
            if (per > 1) row[1] = sym;
        }
    }
    xcb_change_keyboard_mapping(x_.conn(), static_cast<std::uint8_t>(hi - lo + 1), lo,
                                static_cast<std::uint8_t>(map_.perKc), rows.data());
    ++mapChanges_;
    std::copy(rows.begin(), rows.end(), map_.syms.begin() + static_cast<std::ptrdiff_t>(base));
}

void X11Keyboard::WaitForMapping(std::uint64_t notifiesBefore, xcb_window_t target, int settleMs) {
    // Our own MappingNotify arrives when the server has told every client; the target's answer
    // to a ping says it has read its notification; then a short moment to fetch the new map.
    x_.WaitUntil([&] { return x_.keyboardMappingNotifies() > notifiesBefore; }, 500, 5, userInput_);
    PingTarget(target, 300);
    x_.Pause(settleMs, userInput_);
}

bool X11Keyboard::MapAhead(const std::vector<Plan>& plans, std::size_t from, xcb_window_t target) {
    // The symbols still to be typed, in order of first use, and where each is next needed.
    std::vector<xcb_keysym_t> order;
    std::map<xcb_keysym_t, std::size_t> firstUse;
    for (std::size_t i = from; i < plans.size(); ++i) {
        xcb_keysym_t s = plans[i].spareSym;
        if (plans[i].keycode || s == kNoSymbol) continue;
        if (firstUse.emplace(s, i).second) order.push_back(s);
    }
    std::map<xcb_keysym_t, xcb_keycode_t> held;
    for (auto& [kc, o] : owned_) held[o.sym] = kc;

    std::set<xcb_keycode_t> ours;
    for (auto& [kc, o] : owned_) ours.insert(kc);
    std::vector<xcb_keycode_t> spares = SpareKeycodes(map_, kLowestSpareKeycode, ours);
    if (spares.empty()) return false;
    const std::size_t never = std::numeric_limits<std::size_t>::max();
    auto nextUse = [&](xcb_keycode_t kc) -> std::size_t {
        auto o = owned_.find(kc);
        if (o == owned_.end()) return never;
        auto f = firstUse.find(o->second.sym);
        return f == firstUse.end() ? never : f->second;
    };
    std::map<xcb_keycode_t, xcb_keysym_t> changes;
    for (xcb_keysym_t s : order) {
        if (held.count(s)) continue;
        std::size_t need = firstUse[s];
        // Free keycodes first, then those whose symbol is needed latest, then the longest idle.
        xcb_keycode_t best = 0;
        std::size_t bestNext = 0;
        Clock::time_point bestUse{};
        for (xcb_keycode_t kc : spares) {
            if (changes.count(kc)) continue;
            std::size_t n = nextUse(kc);
            if (n != never && n <= need) continue;
            auto o = owned_.find(kc);
            Clock::time_point used = o == owned_.end() ? Clock::time_point{} : o->second.lastUse;
            if (!best || n > bestNext || (n == bestNext && used < bestUse)) {
                best = kc;
                bestNext = n;
                bestUse = used;
            }
        }
        if (!best) break;
        auto evicted = owned_.find(best);
        if (evicted != owned_.end()) held.erase(evicted->second.sym);
        changes[best] = s;
        held[s] = best;
    }
    if (changes.empty()) return false;

    // A keycode that changes from one of our symbols to another is the slow case: an input
    // method that still holds the old symbol would type it. Keys given back their empty
    // symbols only a moment ago count as well.
    bool replacing = lastRestore_ != Clock::time_point{} &&
                     Clock::now() - lastRestore_ < std::chrono::milliseconds(timing_.staleMapMs);
    for (auto& [kc, s] : changes) replacing = replacing || owned_.count(kc) > 0;
    if (replacing && lastKey_ != Clock::time_point{}) {
        // No such change while keys may still be on their way: the target has read them before
        // it answers a ping sent after them, an input method only some time later.
        Sync();
        PingTarget(target, 300);
        auto ready = lastKey_ + std::chrono::milliseconds(timing_.remapAfterMs);
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(ready - Clock::now());
        if (wait.count() > 0) x_.Pause(static_cast<int>(wait.count()) + 1, userInput_);
    }
    x_.Drain();
    // The keys between ours go back as the server has them now, not as they were when typing
    // began.
    if (!LoadMap()) return false;
    std::uint64_t before = x_.keyboardMappingNotifies();
    WriteSyms(changes);
    for (auto& [kc, s] : changes) owned_[kc] = Owned{s, Clock::now(), false};
    xcb_flush(x_.conn());
    WaitForMapping(before, target, replacing ? timing_.remapSettleMs : timing_.mapSettleMs);
    return true;
}

bool X11Keyboard::PingTarget(xcb_window_t target, int timeoutMs) {
    // Our own windows read their keys in our own event loop, which the waits run anyway; a
    // compositor's window is no X11 window to ping.
    if (userInput_ || unseen_) return false;
    return x_.Ping(target, timeoutMs, false);
}

void X11Keyboard::Fake(std::uint8_t type, xcb_keycode_t kc) {
    if (unseen_) {
        // X keycodes are evdev codes offset by 8, XWayland's as any other server's.
        if (!refused_ && !channel_->Key(kc - 8u, type == XCB_KEY_PRESS)) refused_ = true;
        return;
    }
    xcb_test_fake_input(x_.conn(), type, kc, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    if (imOff_ && type == XCB_KEY_PRESS) imOff_->Pressed(kc);
}

void X11Keyboard::PressRelease(xcb_keycode_t kc, bool shift, bool ctrl, bool alt) {
    // Press and release go out together so that no path leaves a key down.
    if (shift && shiftKc_) Fake(XCB_KEY_PRESS, shiftKc_);
    if (ctrl && ctrlKc_) Fake(XCB_KEY_PRESS, ctrlKc_);
    if (alt && altKc_) Fake(XCB_KEY_PRESS, altKc_);
    Fake(XCB_KEY_PRESS, kc);
    Fake(XCB_KEY_RELEASE, kc);
    if (alt && altKc_) Fake(XCB_KEY_RELEASE, altKc_);
    if (ctrl && ctrlKc_) Fake(XCB_KEY_RELEASE, ctrlKc_);
    if (shift && shiftKc_) Fake(XCB_KEY_RELEASE, shiftKc_);
    xcb_flush(x_.conn());
}

bool X11Keyboard::PressReleaseOn(const std::function<bool()>& stillTarget, xcb_keycode_t kc,
                                 bool shift, bool ctrl, bool alt) {
    // The compositor, not the X server, moves a compositor's window's focus: a grab holds
    // nothing there (and would stall the compositor's own X11 side).
    if (unseen_) {
        if (!stillTarget()) return false;
        PressRelease(kc, shift, ctrl, alt);
        return !refused_;
    }
    // The server handles a fake key within its request, before it reads our next one, so the
    // round trip ends the grab only after the key has gone to the focus the check saw.
    xcb_grab_server(x_.conn());
    const bool on = stillTarget();
    if (on) PressRelease(kc, shift, ctrl, alt);
    Sync();
    xcb_ungrab_server(x_.conn());
    xcb_flush(x_.conn());
    return on;
}

void X11Keyboard::Sync() {
    x_.RoundTrip();
}

bool X11Keyboard::InputMethodPresent() {
    xcb_connection_t* c = x_.conn();
    auto owned = [&](xcb_atom_t selection) {
        auto* r = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
        bool has = r && r->owner != XCB_NONE;
        std::free(r);
        return has;
    };
    // XIM servers (fcitx5, ibus-x11, uim) list their selections on the root window; the list
    // outlives a server that has ended, so only a selection someone still owns counts. fcitx5
    // also owns a selection of its own.
    for (std::uint32_t server : x_.Property32(x_.root(), x_.atoms().ximServers, XCB_ATOM_ATOM)) {
        if (owned(server)) return true;
    }
    return owned(x_.atoms().fcitxServer);
}

bool X11Keyboard::ModifiersHeld() {
    if (!x_.Valid()) return false;
    xcb_connection_t* c = x_.conn();
    auto* mm = xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr);
    auto* km = xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr);
    bool held = false;
    if (mm && km) {
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mm);
        int per = mm->keycodes_per_modifier;
        // Shift, Control, Mod1 (Alt) and Mod4 (Super); the lock modifiers do not count.
        for (int mod : {0, 2, 3, 6}) {
            for (int i = 0; i < per; ++i) {
                xcb_keycode_t kc = codes[mod * per + i];
                if (kc && (km->keys[kc / 8] & (1 << (kc % 8)))) held = true;
            }
        }
    }
    std::free(mm);
    std::free(km);
    return held;
}

bool X11Keyboard::WaitModifiersReleased(int timeoutMs) {
    return x_.WaitUntil([&] { return !ModifiersHeld(); }, timeoutMs);
}

bool X11Keyboard::Ready(WindowId target) {
    return target != kUnseenFocus || (channel_ && channel_->Ready());
}

std::size_t X11Keyboard::Type(const std::vector<KeyStroke>& strokes, WindowId target) {
    if (target == kUnseenFocus) {
        if (!channel_ || !channel_->Open()) return 0;
        // Every window of the compositor is one to us: the keys go on while none of ours (nor
        // any X11 window) has taken the keyboard. Characters no key carries go by paste.
        unseen_ = true;
        refused_ = false;
        Route route;
        route.paste = true;
        std::unique_ptr<ClipboardContents> saved;
        route.beforePaste = [&] { saved = clipboard_.Take(); };
        const std::size_t sent = TypeRouted(
            strokes, XCB_NONE, [&] { return !refused_ && channel_->FocusHeld(); }, false,
            route);
        if (saved) clipboard_.PutBack(std::move(saved));
        unseen_ = false;
        return sent;
    }
    // Qt hands keys to whichever of its windows has the focus when it reads them, so keys for a
    // window of ours must be read while they are typed, not after.
    const bool own = windows_.IsOwnWindow(target);
    Route route;
    route.paste = !own;
    std::unique_ptr<InputMethodSwitch> imOff;
    const bool characters = std::any_of(strokes.begin(), strokes.end(), [](const KeyStroke& k) {
        return k.ch && !k.ctrl && !k.alt;
    });
    if (characters && InputMethodPresent()) {
        imOff = std::make_unique<InputMethodSwitch>();
        route.ownKeys = imOff->KeysPassThrough();
        // An input method that stays on gets every character on spare keys, which it passes
        // through as they are: exact everywhere, even where a page refuses a paste.
        route.paste = route.paste && route.ownKeys;
        imOff_ = imOff.get();
        // A key that arrives before the field has heard of the switch may still go the old way
        // (and be lost).
        if (imOff->found() == InputMethodSwitch::Found::SwitchedOff)
            x_.Pause(kInputMethodBackMs, own);
    }
    std::unique_ptr<ClipboardContents> saved;
    route.beforePaste = [&] { saved = clipboard_.Take(); };
    const std::size_t sent = TypeRouted(
        strokes, static_cast<xcb_window_t>(target),
        [&] { return target && windows_.ActiveWindow() == target && windows_.HasFocus(target); },
        own, route);
    // What the clipboard held goes back once the target has read the pasted text.
    if (saved) clipboard_.PutBack(std::move(saved));
    if (imOff) imOff->WaitKeysHandedOn(kInputMethodBackMs, [&](int ms) { x_.Pause(ms, own); });
    imOff_ = nullptr;
    return sent;
}

std::size_t X11Keyboard::TypeRouted(const std::vector<KeyStroke>& strokes, xcb_window_t target,
                                    const std::function<bool()>& stillTarget, bool readOwnInput,
                                    const Route& route) {
    if (!x_.Valid() || strokes.empty() || !stillTarget()) return 0;
    x_.Drain();
    if (!LoadMap()) return 0;
    userInput_ = readOwnInput;
    timing_ = InputMethodPresent() ? imTiming_ : plainTiming_;
    restoreTimer_.stop();
    {
        auto* p = xcb_query_pointer_reply(x_.conn(), xcb_query_pointer(x_.conn(), x_.root()),
                                          nullptr);
        capsLock_ = p && (p->mask & XCB_MOD_MASK_LOCK);
        std::free(p);
    }
    std::vector<Plan> plans;
    plans.reserve(strokes.size());
    for (const KeyStroke& s : strokes) plans.push_back(PlanStroke(s, route));

    std::map<xcb_keysym_t, xcb_keycode_t> held;
    auto refreshHeld = [&] {
        held.clear();
        for (auto& [kc, o] : owned_) held[o.sym] = kc;
    };
    refreshHeld();

    std::size_t done = 0;
    bool typedAny = false, pastedAny = false;
    xcb_keycode_t lastKc = 0;
    while (done < plans.size()) {
        const Plan& p = plans[done];
        if (!stillTarget()) break;
        if (p.pasted) {
            // The characters that follow and go by paste as well go in one paste.
            std::string run;
            std::size_t end = done;
            for (; end < plans.size() && plans[end].pasted && run.size() < kMaxPasteBytes; ++end)
                AppendUtf8(run, plans[end].pasted);
            if (!pastedAny && route.beforePaste) route.beforePaste();
            pastedAny = true;
            if (typedAny) x_.Pause(timing_.keyGapMs, userInput_);
            if (!Paste(run, target, stillTarget)) break;
            lastKc = 0;
            typedAny = true;
            lastKey_ = Clock::now();
            done = end;
            continue;
        }
        xcb_keycode_t kc = p.keycode;
        if (!kc) {
            auto h = held.find(p.spareSym);
            if (h == held.end()) {
                if (!MapAhead(plans, done, target)) break;
                refreshHeld();
                h = held.find(p.spareSym);
                if (h == held.end()) break;
            }
            kc = h->second;
        }
        // An input method's module passes keys on in its own time and takes a key pressed
        // again too soon for one it has seen already (Firefox with fcitx5 lost repeated 0s,
        // on cold machines also after the fixed wait): the same key waits for the input
        // method's answer about the last one where that can be watched, then a moment more.
        if (typedAny && kc == lastKc && imOff_)
            imOff_->WaitKeyAnswered(kc, [&](int ms) { x_.Pause(ms, userInput_); });
        if (typedAny)
            x_.Pause(kc == lastKc ? timing_.repeatGapMs : timing_.keyGapMs, userInput_);
        lastKc = kc;
        // Checked again after every wait: the focus may have moved meanwhile.
        if (!PressReleaseOn(stillTarget, kc, p.shift, p.ctrl, p.alt)) break;
        typedAny = true;
        lastKey_ = Clock::now();
        auto o = owned_.find(kc);
        if (o != owned_.end()) {
            o->second.lastUse = Clock::now();
            o->second.used = true;
        }
        ++done;
    }
    if (typedAny) {
        // The server has passed the keys on once it answers; the target has read them once it
        // answers our ping (when it takes pings); then a moment to act on them.
        Sync();
        PingTarget(target, 500);
        x_.Pause(timing_.finishSettleMs, userInput_);
    }
    if (pastedAny) x_.WithdrawClipboard();
    if (!owned_.empty()) restoreTimer_.start(timing_.restoreAfterMs);
    return done;
}

void X11Keyboard::RestoreNow() {
    restoreTimer_.stop();
    if (owned_.empty() || !x_.Valid()) return;
    x_.Drain();
    if (LoadMap()) {
        std::map<xcb_keycode_t, xcb_keysym_t> empty;
        for (auto& [kc, o] : owned_) empty[kc] = kNoSymbol;
        WriteSyms(empty);
    }
    owned_.clear();
    lastRestore_ = Clock::now();
    xcb_flush(x_.conn());
    Sync();
}

}  // namespace platform
