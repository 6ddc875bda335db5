#include "platform/wayland/KeyLayout.h"

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

namespace {
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

EvdevKey EvdevOf(NamedKey k) {
    for (const NamedCode& n : kNamedCodes)
        if (n.key == k) return {n.evdev, n.ctrl};
    return {};
}

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
    const std::uint32_t lock = mask(XKB_MOD_NAME_CAPS);

    // The main keys, then the keypad's (which tell pages they are the keypad's).
    std::vector<xkb_keycode_t> main, keypad;
    for (xkb_keycode_t kc = xkb_keymap_min_keycode(map_); kc <= xkb_keymap_max_keycode(map_);
         ++kc) {
        const char* name = xkb_keymap_key_get_name(map_, kc);
        const std::string_view n = name ? name : "";
        if (IsMainKey(n)) main.push_back(kc);
        if (n.starts_with("KP")) keypad.push_back(kc);
    }
    xkb_state* state = xkb_state_new(map_);
    if (!state) return;
    for (int caps = 0; caps < 2; ++caps) {
        for (const std::vector<xkb_keycode_t>* keys : {&main, &keypad}) {
            // Alone before Shift, as a user reaches for them.
            for (int shift = 0; shift < 2; ++shift) {
                xkb_state_update_mask(state, shift ? shift_ : 0, 0, caps ? lock : 0, 0, 0, 0);
                for (xkb_keycode_t kc : *keys) {
                    // The first layout: the compositor tells no other that may be active.
                    if (xkb_state_key_get_layout(state, kc) != 0) continue;
                    const xkb_keysym_t sym = xkb_state_key_get_one_sym(state, kc);
                    if (sym == XKB_KEY_NoSymbol) continue;
                    places_[caps].emplace(sym, Key{kc, shift != 0});
                    if (!caps) plain_[kc][shift] = sym;
                }
            }
        }
    }
    xkb_state_unref(state);
}

KeyLayout::~KeyLayout() {
    if (map_) xkb_keymap_unref(map_);
    if (ctx_) xkb_context_unref(ctx_);
}

KeyLayout::Key KeyLayout::Find(char32_t c, bool capsLock) const {
    const xkb_keysym_t sym = SymOf(c);
    const auto& places = places_[capsLock ? 1 : 0];
    auto it = places.find(sym);
    return sym == XKB_KEY_NoSymbol || it == places.end() ? Key{} : it->second;
}

char32_t KeyLayout::Shifted(char32_t c) const {
    const Key k = Find(c);
    if (!k.keycode || k.shift) return 0;
    auto it = plain_.find(k.keycode);
    const std::uint32_t u = it == plain_.end() ? 0 : xkb_keysym_to_utf32(it->second[1]);
    return u >= 0x20 && u != 0x7f ? u : 0;
}

}  // namespace platform
