#include "platform/wayland/FakeInputKeyboard.h"

#include <linux/input-event-codes.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QWindow>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <map>

#include "core/Utf8.h"
#include "fake-input-client.h"
#include "platform/posix/InputMethodSwitch.h"
#include "platform/wayland/DataControlClipboard.h"
#if __has_include("keystate-client.h")
#include "keystate-client.h"
#define PENRIKA_KEYSTATE 1
#endif

namespace platform {
namespace {
// The key state protocol's numbering of its keys and their states.
constexpr std::uint32_t kKeyCapsLock = 0;
constexpr std::uint32_t kKeyAlt = 3, kKeyMeta = 6, kKeyAltGr = 7;
constexpr std::uint32_t kStateLocked = 2, kStatePressed = 3;
// Its modifiers (Alt to AltGr) came with version 5.
constexpr std::uint32_t kKeyStateModifiersSince = 5;
constexpr std::uint32_t kKeyStateHandledVersion = 5;
constexpr std::uint32_t kFakeKeysSince = 4;  // keyboard_key
constexpr std::uint32_t kFakeDestroySince = 5;

// XKB keycodes are evdev codes offset by 8.
constexpr std::uint32_t kEvdevOffset = 8;
// Keycodes below this are the keyboard's own keys; above lie extra keys that some maps give
// characters too, which pages report as other keys than the ones a user presses.
constexpr xkb_keycode_t kFirstExtraKeycode = 136;

// After the input method is switched off or on: the field's toolkit hears of it on its own
// connection to the input method, in its own time.
constexpr int kInputMethodBackMs = 50;

struct NamedCode {
    NamedKey key;
    std::uint32_t evdev;
    bool ctrl;  // the key's level with Control (Break is Control+Pause)
};
constexpr std::array<NamedCode, 40> kNamedCodes{{
    {NamedKey::Backspace, KEY_BACKSPACE, false},
    {NamedKey::Break, KEY_PAUSE, true},
    {NamedKey::CapsLock, KEY_CAPSLOCK, false},
    {NamedKey::Delete, KEY_DELETE, false},
    {NamedKey::Down, KEY_DOWN, false},
    {NamedKey::End, KEY_END, false},
    {NamedKey::Enter, KEY_ENTER, false},
    {NamedKey::Escape, KEY_ESC, false},
    {NamedKey::Help, KEY_HELP, false},
    {NamedKey::Home, KEY_HOME, false},
    {NamedKey::Insert, KEY_INSERT, false},
    {NamedKey::Left, KEY_LEFT, false},
    {NamedKey::NumLock, KEY_NUMLOCK, false},
    {NamedKey::PageDown, KEY_PAGEDOWN, false},
    {NamedKey::PageUp, KEY_PAGEUP, false},
    {NamedKey::PrintScreen, KEY_SYSRQ, false},
    {NamedKey::Right, KEY_RIGHT, false},
    {NamedKey::ScrollLock, KEY_SCROLLLOCK, false},
    {NamedKey::Tab, KEY_TAB, false},
    {NamedKey::Up, KEY_UP, false},
    {NamedKey::F1, KEY_F1, false},
    {NamedKey::F2, KEY_F2, false},
    {NamedKey::F3, KEY_F3, false},
    {NamedKey::F4, KEY_F4, false},
    {NamedKey::F5, KEY_F5, false},
    {NamedKey::F6, KEY_F6, false},
    {NamedKey::F7, KEY_F7, false},
    {NamedKey::F8, KEY_F8, false},
    {NamedKey::F9, KEY_F9, false},
    {NamedKey::F10, KEY_F10, false},
    {NamedKey::F11, KEY_F11, false},
    {NamedKey::F12, KEY_F12, false},
    {NamedKey::F13, KEY_F13, false},
    {NamedKey::F14, KEY_F14, false},
    {NamedKey::F15, KEY_F15, false},
    {NamedKey::F16, KEY_F16, false},
    {NamedKey::KeypadAdd, KEY_KPPLUS, false},
    {NamedKey::KeypadSubtract, KEY_KPMINUS, false},
    {NamedKey::KeypadMultiply, KEY_KPASTERISK, false},
    {NamedKey::KeypadDivide, KEY_KPSLASH, false},
}};

// Every named key has its row: a key added to the notation cannot be forgotten here.
constexpr bool EveryNamedKeyHasACode() {
    for (int k = static_cast<int>(NamedKey::Backspace);
         k <= static_cast<int>(NamedKey::KeypadDivide); ++k) {
        bool found = false;
        for (const NamedCode& n : kNamedCodes) found = found || n.key == static_cast<NamedKey>(k);
        if (!found) return false;
    }
    return true;
}
static_assert(EveryNamedKeyHasACode());

// Counts the key releases Qt hands this program's windows: keys for a window of ours have been
// read once as many have come as were sent.
class ReleaseCounter : public QObject {
  public:
    ReleaseCounter() { QCoreApplication::instance()->installEventFilter(this); }
    ~ReleaseCounter() override { QCoreApplication::instance()->removeEventFilter(this); }
    int count = 0;
    bool eventFilter(QObject* o, QEvent* e) override {
        // Qt gives each key to the window first, then to its widget: one per key.
        if (e->type() == QEvent::KeyRelease && qobject_cast<QWindow*>(o) &&
            !static_cast<QKeyEvent*>(e)->isAutoRepeat())
            ++count;
        return false;
    }
};

const NamedCode* NamedCodeOf(NamedKey k) {
    for (const NamedCode& n : kNamedCodes)
        if (n.key == k) return &n;
    return nullptr;
}

// Whether fcitx5 runs on the session bus the environment names now. Asking it anything else
// would start it: the bus knows how to.
bool InputMethodRunning() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !*address) return false;
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("penrika-input-method-probe-%1").arg(++serial);
    bool running = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QString::fromUtf8(address), name);
        if (bus.isConnected() && bus.interface())
            running = bus.interface()->isServiceRegistered(QStringLiteral("org.fcitx.Fcitx5"));
    }
    QDBusConnection::disconnectFromBus(name);
    return running;
}
}  // namespace

// The seat's keymap, and for each state of Caps Lock which key and level gives each symbol.
struct FakeInputKeyboard::Layout {
    struct Place {
        xkb_keycode_t keycode = 0;
        bool shift = false;
    };
    xkb_context* context = nullptr;
    xkb_keymap* keymap = nullptr;
    // [Caps Lock on]: symbol -> the key that types it.
    std::map<xkb_keysym_t, Place> places[2];
    // What each key types alone and with Shift, no lock on.
    std::map<xkb_keycode_t, std::array<xkb_keysym_t, 2>> plain;

    ~Layout() {
        if (keymap) xkb_keymap_unref(keymap);
        if (context) xkb_context_unref(context);
    }
    bool Load(const std::string& text) {
        context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        if (!context) return false;
        keymap = xkb_keymap_new_from_string(context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                            XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!keymap) return false;
        const xkb_mod_index_t shiftIndex = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
        const xkb_mod_index_t lockIndex = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CAPS);
        const xkb_mod_mask_t shiftMask =
            shiftIndex == XKB_MOD_INVALID ? 0 : xkb_mod_mask_t{1} << shiftIndex;
        const xkb_mod_mask_t lockMask =
            lockIndex == XKB_MOD_INVALID ? 0 : xkb_mod_mask_t{1} << lockIndex;
        const xkb_keycode_t lo = xkb_keymap_min_keycode(keymap);
        const xkb_keycode_t hi = xkb_keymap_max_keycode(keymap);
        xkb_state* state = xkb_state_new(keymap);
        if (!state) return false;
        for (int caps = 0; caps < 2; ++caps) {
            // The main keys first, alone before Shift, as a user reaches for them.
            const std::pair<xkb_keycode_t, xkb_keycode_t> ranges[] = {
                {lo, std::min<xkb_keycode_t>(hi, kFirstExtraKeycode - 1)},
                {std::max(lo, kFirstExtraKeycode), hi}};
            for (auto [from, to] : ranges) {
                for (int shift = 0; shift < 2; ++shift) {
                    xkb_state_update_mask(state, shift ? shiftMask : 0, 0, caps ? lockMask : 0,
                                          0, 0, 0);
                    for (xkb_keycode_t kc = from; kc <= to && kc >= from; ++kc) {
                        // The first layout: KWin tells no other that may be active.
                        if (xkb_state_key_get_layout(state, kc) != 0) continue;
                        const xkb_keysym_t sym = xkb_state_key_get_one_sym(state, kc);
                        if (sym == XKB_KEY_NoSymbol) continue;
                        places[caps].emplace(sym, Place{kc, shift != 0});
                        if (!caps) plain[kc][shift] = sym;
                    }
                }
            }
        }
        xkb_state_unref(state);
        return true;
    }
};

FakeInputKeyboard::FakeInputKeyboard(WaylandConnection& w, WindowStack& windows,
                                     DataControlClipboard* paste)
    : w_(w), windows_(windows), paste_(paste) {
    if (!w_.Valid()) return;
    const std::uint32_t offered = w_.VersionOf(org_kde_kwin_fake_input_interface.name);
    if (offered < kFakeKeysSince) return;
    input_ = static_cast<org_kde_kwin_fake_input*>(w_.Bind(
        &org_kde_kwin_fake_input_interface,
        static_cast<std::uint32_t>(org_kde_kwin_fake_input_interface.version)));
    if (!input_) return;
    // KWin takes no fake keys from a client before it has said who it is.
    org_kde_kwin_fake_input_authenticate(input_, "Penrika",
                                         "types the entry's text into the form");
#ifdef PENRIKA_KEYSTATE
    const std::uint32_t keystate = w_.VersionOf(org_kde_kwin_keystate_interface.name);
    if (keystate > 0) {
        keystateVersion_ = std::min(
            {keystate, static_cast<std::uint32_t>(org_kde_kwin_keystate_interface.version),
             kKeyStateHandledVersion});
        keystate_ = static_cast<org_kde_kwin_keystate*>(
            w_.Bind(&org_kde_kwin_keystate_interface, keystateVersion_));
        static const org_kde_kwin_keystate_listener listener = {.stateChanged = OnKeyState};
        if (keystate_) {
            org_kde_kwin_keystate_add_listener(keystate_, &listener, this);
            org_kde_kwin_keystate_fetchStates(keystate_);
        }
    }
#endif
    w_.RoundTrip();
    LoadLayout();
}

FakeInputKeyboard::~FakeInputKeyboard() {
#ifdef PENRIKA_KEYSTATE
    if (keystate_) {
        if (keystateVersion_ >= 4)
            org_kde_kwin_keystate_destroy(keystate_);
        else
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(keystate_));
    }
#endif
    if (input_) {
        if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(input_)) >= kFakeDestroySince)
            org_kde_kwin_fake_input_destroy(input_);
        else
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(input_));
    }
    if (w_.Valid()) w_.RoundTrip();
}

void FakeInputKeyboard::OnKeyState(void* d, org_kde_kwin_keystate*, std::uint32_t key,
                                   std::uint32_t state) {
    auto* self = static_cast<FakeInputKeyboard*>(d);
    if (key == kKeyCapsLock) self->capsLock_ = state == kStateLocked;
    if (key >= kKeyAlt && key <= kKeyAltGr) {
        const std::uint32_t bit = 1u << key;
        if (state == kStatePressed)
            self->heldModifiers_ |= bit;
        else
            self->heldModifiers_ &= ~bit;
    }
}

bool FakeInputKeyboard::LoadLayout() {
    if (layout_) return true;
    if (w_.keymap().empty()) return false;
    auto layout = std::make_unique<Layout>();
    if (!layout->Load(w_.keymap())) return false;
    layout_ = std::move(layout);
    return true;
}

bool FakeInputKeyboard::KnowsHeldModifiers() const {
    return keystate_ && keystateVersion_ >= kKeyStateModifiersSince;
}

bool FakeInputKeyboard::WaitModifiersReleased(int timeoutMs) {
    if (!KnowsHeldModifiers()) return true;
    return w_.WaitUntil([&] { return heldModifiers_ == 0; }, timeoutMs);
}

bool FakeInputKeyboard::KeyFor(char32_t c, std::uint32_t* evdev, bool* shift) const {
    if (!layout_) return false;
    const xkb_keysym_t sym = xkb_utf32_to_keysym(c);
    const auto& places = layout_->places[capsLock_ ? 1 : 0];
    auto it = places.find(sym);
    if (sym == XKB_KEY_NoSymbol || it == places.end()) return false;
    *evdev = it->second.keycode - kEvdevOffset;
    *shift = it->second.shift;
    return true;
}

char32_t FakeInputKeyboard::ShiftedChar(char32_t c) {
    if (!LoadLayout()) return 0;
    auto it = layout_->places[0].find(xkb_utf32_to_keysym(c));
    if (it == layout_->places[0].end() || it->second.shift) return 0;
    const xkb_keysym_t shifted = layout_->plain[it->second.keycode][1];
    const std::uint32_t u = xkb_keysym_to_utf32(shifted);
    return u >= 0x20 && u != 0x7f ? u : 0;
}

FakeInputKeyboard::Plan FakeInputKeyboard::PlanStroke(const KeyStroke& s, bool ownKeys,
                                                      bool paste) const {
    Plan p;
    p.shift = s.shift;
    p.ctrl = s.ctrl;
    p.alt = s.alt;
    if (s.key != NamedKey::None) {
        if (const NamedCode* n = NamedCodeOf(s.key)) {
            p.evdev = n->evdev;
            p.ctrl = p.ctrl || n->ctrl;
        }
        return p;
    }
    // A line break is the Enter key, a tab the Tab key, whatever the layout calls them.
    if (s.ch == U'\n' || s.ch == U'\r' || s.ch == U'\t') {
        p.evdev = s.ch == U'\t' ? KEY_TAB : KEY_ENTER;
        return p;
    }
    bool needShift = false;
    if (!s.ctrl && !s.alt) {
        if (ownKeys && KeyFor(s.ch, &p.evdev, &needShift)) {
            p.shift = needShift;
            return p;
        }
        p.evdev = 0;
        if (paste) p.pasted = s.ch;
        return p;
    }
    // Shortcuts (Ctrl+C) go on the key for the character as the layout has it, whatever the
    // locks: applications match them by that key's plain symbol.
    auto it = layout_->places[0].find(xkb_utf32_to_keysym(s.ch));
    if (it != layout_->places[0].end()) {
        p.evdev = it->second.keycode - kEvdevOffset;
        p.shift = p.shift || it->second.shift;
    }
    return p;
}

void FakeInputKeyboard::Key(std::uint32_t evdev, bool down) {
    org_kde_kwin_fake_input_keyboard_key(
        input_, evdev, down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void FakeInputKeyboard::PressRelease(const Plan& p) {
    // Press and release go out in one batch, so that no path leaves a key down.
    if (p.shift) Key(KEY_LEFTSHIFT, true);
    if (p.ctrl) Key(KEY_LEFTCTRL, true);
    if (p.alt) Key(KEY_LEFTALT, true);
    Key(p.evdev, true);
    Key(p.evdev, false);
    if (p.alt) Key(KEY_LEFTALT, false);
    if (p.ctrl) Key(KEY_LEFTCTRL, false);
    if (p.shift) Key(KEY_LEFTSHIFT, false);
    wl_display_flush(w_.display());
}

bool FakeInputKeyboard::Paste(const std::string& text, const std::function<bool()>& stillTarget) {
    auto v = layout_->places[0].find(XKB_KEY_v);
    if (v == layout_->places[0].end()) return false;
    paste_->OfferText(text);
    // KWin names us the clipboard's owner before the keys ask for it.
    w_.RoundTrip();
    const int reads = paste_->offeredReads();
    if (!stillTarget()) return false;
    Plan ctrlV;
    ctrlV.evdev = v->second.keycode - kEvdevOffset;
    ctrlV.shift = v->second.shift;
    ctrlV.ctrl = true;
    PressRelease(ctrlV);
    return paste_->WaitRead(reads, timing_.pasteReadMs);
}

std::size_t FakeInputKeyboard::Type(const std::vector<KeyStroke>& strokes, WindowId target) {
    if (!Available() || strokes.empty() || !target) return 0;
    // Qt hands keys to whichever of its windows has the focus when it reads them, so keys for a
    // window of ours must be read while they are typed, not after.
    const bool own = windows_.IsOwnWindow(target);
    readOwnInput_ = own;
    const bool characters = std::any_of(strokes.begin(), strokes.end(), [](const KeyStroke& k) {
        return k.ch && !k.ctrl && !k.alt;
    });
    std::unique_ptr<InputMethodSwitch> imOff;
    bool ownKeys = true;
    const bool inputMethod = characters && InputMethodRunning();
    if (inputMethod) {
        imOff = std::make_unique<InputMethodSwitch>();
        // An input method that stays on would turn letters into kana: every character goes
        // by paste, which it passes through as it is.
        ownKeys = imOff->KeysPassThrough();
        if (imOff->found() == InputMethodSwitch::Found::SwitchedOff)
            w_.Pause(kInputMethodBackMs, own);
    }
    timing_ = inputMethod ? imTiming_ : plainTiming_;
#ifdef PENRIKA_KEYSTATE
    if (keystate_) org_kde_kwin_keystate_fetchStates(keystate_);
#endif
    // The lock state as it is now, and the stack up to date.
    w_.RoundTrip();
    const bool paste = paste_ && paste_->Available() && !own;
    std::vector<Plan> plans;
    plans.reserve(strokes.size());
    for (const KeyStroke& s : strokes) plans.push_back(PlanStroke(s, ownKeys, paste));

    auto stillTarget = [&] { return windows_.ActiveWindow() == target; };
    std::unique_ptr<ReleaseCounter> released;
    if (own) released = std::make_unique<ReleaseCounter>();
    int releasesSent = 0;
    std::unique_ptr<ClipboardContents> saved;
    std::size_t done = 0;
    std::uint32_t lastKey = 0;
    bool typedAny = false;
    while (done < plans.size()) {
        const Plan& p = plans[done];
        if (!stillTarget()) break;
        if (p.pasted) {
            // The characters that follow and go by paste as well go in one paste.
            std::string run;
            std::size_t end = done;
            for (; end < plans.size() && plans[end].pasted; ++end)
                AppendUtf8(run, plans[end].pasted);
            if (!saved) saved = paste_->Take();
            if (typedAny && timing_.keyGapMs > 0) w_.Pause(timing_.keyGapMs, own);
            if (!Paste(run, stillTarget)) break;
            lastKey = 0;
            typedAny = true;
            done = end;
            continue;
        }
        // Neither on the layout nor to be pasted: nothing types it.
        if (!p.evdev) break;
        if (typedAny) {
            const int gap = p.evdev == lastKey ? timing_.repeatGapMs : timing_.keyGapMs;
            if (gap > 0) w_.Pause(gap, own);
            // Checked again after every wait: the focus may have moved meanwhile.
            if (gap > 0 && !stillTarget()) break;
        }
        PressRelease(p);
        releasesSent += 1 + p.shift + p.ctrl + p.alt;
        // KWin has handed the keys on, and told of any change of the active window it made
        // before them, once it answers.
        w_.RoundTrip();
        // Our own window reads them on Qt's connection, in this event loop.
        if (released)
            w_.WaitUntil([&] { return released->count >= releasesSent; }, 1000, 5, true);
        lastKey = p.evdev;
        typedAny = true;
        ++done;
    }
    if (saved) paste_->PutBack(std::move(saved));
    // The input method may still be reading the last key when it is switched on again.
    if (imOff && imOff->found() == InputMethodSwitch::Found::SwitchedOff)
        w_.Pause(kInputMethodBackMs, own);
    return done;
}

}  // namespace platform
