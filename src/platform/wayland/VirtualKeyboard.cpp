#include "platform/wayland/VirtualKeyboard.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include <QString>

#include "platform/posix/InputMethodSwitch.h"
#include "platform/wayland/DataControlClipboard.h"
#include "virtual-keyboard-unstable-v1-client.h"

namespace platform {

namespace {
// Pacing between two keys, as on X11, and how long the target may take to read a paste.
constexpr int kKeyGapMs = 4;
constexpr int kRepeatGapMs = 25;
constexpr int kPasteReadTimeoutMs = 2000;
// The compositor hands a keyboard's keymap to the focused program when that keyboard becomes
// the seat's, and a browser takes it in its own time: a key that comes with it is lost. So
// ours is made the seat's, and given this long, before the first key after the user may have
// typed on another keyboard (after this long without keys of ours).
constexpr int kKeymapTakeInMs = 50;
constexpr std::uint32_t kIdleMs = 500;
// The field may still be reading the last key when the input method is switched on again.
constexpr int kInputMethodBackMs = 60;
// The evdev codes of the named keys, as XKB keycodes (+ 8).
constexpr std::uint32_t Evdev(int code) { return static_cast<std::uint32_t>(code + 8); }

std::uint32_t NamedKeycode(NamedKey k) {
    switch (k) {
        case NamedKey::Backspace: return Evdev(14);
        case NamedKey::Break: return Evdev(119);
        case NamedKey::CapsLock: return Evdev(58);
        case NamedKey::Delete: return Evdev(111);
        case NamedKey::Down: return Evdev(108);
        case NamedKey::End: return Evdev(107);
        case NamedKey::Enter: return Evdev(28);
        case NamedKey::Escape: return Evdev(1);
        case NamedKey::Help: return Evdev(138);
        case NamedKey::Home: return Evdev(102);
        case NamedKey::Insert: return Evdev(110);
        case NamedKey::Left: return Evdev(105);
        case NamedKey::NumLock: return Evdev(69);
        case NamedKey::PageDown: return Evdev(109);
        case NamedKey::PageUp: return Evdev(104);
        case NamedKey::PrintScreen: return Evdev(99);
        case NamedKey::Right: return Evdev(106);
        case NamedKey::ScrollLock: return Evdev(70);
        case NamedKey::Tab: return Evdev(15);
        case NamedKey::Up: return Evdev(103);
        case NamedKey::F1: case NamedKey::F2: case NamedKey::F3: case NamedKey::F4:
        case NamedKey::F5: case NamedKey::F6: case NamedKey::F7: case NamedKey::F8:
        case NamedKey::F9: case NamedKey::F10:
            return Evdev(59 + (static_cast<int>(k) - static_cast<int>(NamedKey::F1)));
        case NamedKey::F11: return Evdev(87);
        case NamedKey::F12: return Evdev(88);
        case NamedKey::F13: case NamedKey::F14: case NamedKey::F15: case NamedKey::F16:
            return Evdev(183 + (static_cast<int>(k) - static_cast<int>(NamedKey::F13)));
        case NamedKey::KeypadAdd: return Evdev(78);
        case NamedKey::KeypadSubtract: return Evdev(74);
        case NamedKey::KeypadMultiply: return Evdev(55);
        case NamedKey::KeypadDivide: return Evdev(98);
        case NamedKey::None: break;
    }
    return 0;
}
constexpr std::uint32_t kShiftKey = Evdev(42), kCtrlKey = Evdev(29), kAltKey = Evdev(56);

// The keys of the main block: the rows of digits and letters with their neighbours, the space
// bar, and the Return and Tab keys (for line ends and tabs in a text).
bool IsMainKey(std::string_view n) {
    const bool row = n.size() == 4 && n[0] == 'A' && n[1] >= 'B' && n[1] <= 'E' &&
                     n[2] >= '0' && n[2] <= '9' && n[3] >= '0' && n[3] <= '9';
    return row || n == "TLDE" || n == "BKSL" || n == "LSGT" || n == "SPCE" || n == "RTRN" ||
           n == "TAB";
}

xkb_keysym_t SymOf(char32_t c) {
    // Line ends type as Return (and tabs as Tab), as on a keyboard.
    if (c == U'\n' || c == U'\r') return XKB_KEY_Return;
    if (c == U'\t') return XKB_KEY_Tab;
    return xkb_utf32_to_keysym(c);
}
}  // namespace

KeyLayout::KeyLayout(const std::string& keymapText) {
    ctx_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!keymapText.empty())
        map_ = xkb_keymap_new_from_string(ctx_, keymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                          XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!map_) {
        const xkb_rule_names us{"evdev", "pc105", "us", "", ""};
        map_ = xkb_keymap_new_from_names(ctx_, &us, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    if (!map_) return;
    char* text = xkb_keymap_get_as_string(map_, XKB_KEYMAP_FORMAT_TEXT_V1);
    text_ = text ? text : "";
    std::free(text);
    auto mask = [this](const char* name) -> std::uint32_t {
        const xkb_mod_index_t i = xkb_keymap_mod_get_index(map_, name);
        return i == XKB_MOD_INVALID ? 0 : 1u << i;
    };
    shift_ = mask(XKB_MOD_NAME_SHIFT);
    ctrl_ = mask(XKB_MOD_NAME_CTRL);
    alt_ = mask(XKB_MOD_NAME_ALT);
}

KeyLayout::~KeyLayout() {
    if (map_) xkb_keymap_unref(map_);
    if (ctx_) xkb_context_unref(ctx_);
}

KeyLayout::Key KeyLayout::Find(char32_t c) const {
    const xkb_keysym_t sym = SymOf(c);
    if (!map_ || sym == XKB_KEY_NoSymbol) return {};
    Key keypad;
    for (int level = 0; level < 2; ++level) {
        for (xkb_keycode_t kc = xkb_keymap_min_keycode(map_); kc <= xkb_keymap_max_keycode(map_);
             ++kc) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(map_, kc, 0, level, &syms) != 1 ||
                syms[0] != sym)
                continue;
            const char* name = xkb_keymap_key_get_name(map_, kc);
            const std::string_view n = name ? name : "";
            // The keypad's keys tell pages they are the keypad's: the main keys come first. Other
            // keys (media and extra keys) carry symbols browsers make no characters of.
            if (n.starts_with("KP")) {
                if (!keypad.keycode) keypad = {kc, level == 1};
                continue;
            }
            if (!IsMainKey(n)) continue;
            return {kc, level == 1};
        }
    }
    return keypad;
}

char32_t KeyLayout::Shifted(char32_t c) const {
    const Key k = Find(c);
    if (!k.keycode || k.shift) return 0;
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(map_, k.keycode, 0, 1, &syms) != 1) return 0;
    return xkb_keysym_to_utf32(syms[0]);
}

VirtualKeyboard::VirtualKeyboard(WaylandConnection& w, WindowStack& windows,
                                 DataControlClipboard& clipboard)
    : w_(w), windows_(windows), clipboard_(clipboard), layout_(w.keymap()) {
    manager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
        w_.Bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
    if (!manager_ || !w_.seat()) return;
    keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_, w_.seat());
    SendKeymap(layout_.text());
    // A compositor that refuses the keyboard ends the connection's use of it here.
    if (!w_.RoundTrip()) keyboard_ = nullptr;
}

VirtualKeyboard::~VirtualKeyboard() {
    if (keyboard_) zwp_virtual_keyboard_v1_destroy(keyboard_);
    if (manager_) zwp_virtual_keyboard_manager_v1_destroy(manager_);
    w_.RoundTrip();
}

void VirtualKeyboard::SendKeymap(const std::string& text) {
    const int fd = memfd_create("penrika-keymap", MFD_CLOEXEC);
    if (fd < 0) return;
    const std::size_t size = text.size() + 1;  // with its terminating NUL, as clients expect
    if (write(fd, text.c_str(), size) == static_cast<ssize_t>(size)) {
        zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(size));
    }
    close(fd);  // the request carries a copy
    wl_display_flush(w_.display());
}

bool VirtualKeyboard::WaitModifiersReleased(int) {
    // A compositor tells an unfocused program nothing of the user's keys; the toolbar's click
    // holds none.
    return true;
}

char32_t VirtualKeyboard::ShiftedChar(char32_t c) {
    return layout_.Shifted(c);
}

void VirtualKeyboard::Press(std::uint32_t keycode, bool down) {
    zwp_virtual_keyboard_v1_key(keyboard_, WaylandConnection::NowMs(), keycode - 8,
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                     : WL_KEYBOARD_KEY_STATE_RELEASED);
}

bool VirtualKeyboard::TypeOne(const KeyStroke& s, bool own) {
    std::uint32_t kc = 0;
    bool shift = s.shift;
    if (s.key != NamedKey::None) {
        kc = NamedKeycode(s.key);
    } else if (KeyLayout::Key k = layout_.Find(s.ch); k.keycode) {
        kc = k.keycode;
        shift = shift || k.shift;
    }
    if (!kc) return false;
    if (kc == lastKeycode_) w_.Pause(kRepeatGapMs - kKeyGapMs, own);
    std::uint32_t mods = 0;
    std::vector<std::uint32_t> held;
    auto hold = [&](bool on, std::uint32_t key, std::uint32_t mask) {
        if (!on) return;
        held.push_back(key);
        mods |= mask;
        Press(key, true);
        zwp_virtual_keyboard_v1_modifiers(keyboard_, mods, 0, 0, 0);
    };
    hold(s.ctrl, kCtrlKey, layout_.ctrlMask());
    hold(s.alt, kAltKey, layout_.altMask());
    hold(shift, kShiftKey, layout_.shiftMask());
    Press(kc, true);
    Press(kc, false);
    for (auto it = held.rbegin(); it != held.rend(); ++it) Press(*it, false);
    if (mods) zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
    wl_display_flush(w_.display());
    lastKeycode_ = kc;
    return true;
}

bool VirtualKeyboard::Paste(const std::string& text, bool own) {
    clipboard_.OfferText(text);
    const int reads = clipboard_.offeredReads();
    KeyStroke paste;
    paste.ch = U'v';
    paste.ctrl = true;
    return TypeOne(paste, own) && clipboard_.WaitRead(reads, kPasteReadTimeoutMs);
}

std::size_t VirtualKeyboard::Type(const std::vector<KeyStroke>& strokes, WindowId target) {
    if (!keyboard_ || strokes.empty()) return 0;
    // Qt reads keys for a window of ours only while its events run.
    const bool own = windows_.IsOwnWindow(target);
    std::unique_ptr<InputMethodSwitch> imOff;
    const bool characters = std::any_of(strokes.begin(), strokes.end(), [](const KeyStroke& k) {
        return k.ch && !k.ctrl && !k.alt;
    });
    if (characters && !own) {
        imOff = std::make_unique<InputMethodSwitch>();
        if (imOff->found() == InputMethodSwitch::Found::SwitchedOff)
            w_.Pause(kInputMethodBackMs, own);
    }
    auto byPaste = [this](const KeyStroke& k) {
        return k.key == NamedKey::None && k.ch && !k.ctrl && !k.alt &&
               !layout_.Find(k.ch).keycode;
    };
    if (WaylandConnection::NowMs() - lastKeyAt_ > kIdleMs) {
        zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
        w_.RoundTrip();
        w_.Pause(kKeymapTakeInMs, own);
    }
    std::unique_ptr<ClipboardContents> saved;
    std::size_t sent = 0;
    lastKeycode_ = 0;
    while (sent < strokes.size()) {
        // Whatever changed the active window before the compositor takes our next key is known
        // here once it has answered.
        w_.RoundTrip();
        if (windows_.ActiveWindow() != target) break;
        if (byPaste(strokes[sent])) {
            // The characters no key carries, as many as come in a row.
            std::size_t end = sent;
            std::u32string run;
            while (end < strokes.size() && byPaste(strokes[end])) run += strokes[end++].ch;
            if (!saved) saved = clipboard_.Take();
            if (!Paste(QString::fromStdU32String(run).toStdString(), own)) break;
            sent = end;
            lastKeycode_ = 0;
        } else {
            if (!TypeOne(strokes[sent], own)) break;
            ++sent;
        }
        lastKeyAt_ = WaylandConnection::NowMs();
        w_.Pause(kKeyGapMs, own);
    }
    w_.RoundTrip();
    if (saved) clipboard_.PutBack(std::move(saved));
    if (imOff && imOff->found() == InputMethodSwitch::Found::SwitchedOff)
        w_.Pause(kInputMethodBackMs, own);
    return sent;
}

}  // namespace platform
