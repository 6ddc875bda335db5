// The user's keyboard layout as both Wayland keyboards read it from the seat's keymap: which key
// and level type each character, with Caps Lock off or on, on the main keys first and the
// keypad's second. Other keys (media and extra keys) are never used: browsers make no
// characters of the symbols some layouts put there. And the evdev codes of the named keys.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "platform/KeyStroke.h"

struct xkb_context;
struct xkb_keymap;

namespace platform {

class KeyLayout {
  public:
    // Compiles `keymapText` (XKB text); an empty or unreadable one gives a US layout.
    explicit KeyLayout(const std::string& keymapText);
    ~KeyLayout();
    KeyLayout(const KeyLayout&) = delete;
    KeyLayout& operator=(const KeyLayout&) = delete;

    bool Valid() const { return map_ != nullptr; }
    struct Key {
        std::uint32_t keycode = 0;  // XKB keycode (evdev + 8); 0 when no key types it
        bool shift = false;
    };
    // The key and level that type `c` with Caps Lock as given. Line ends are Return and tabs
    // Tab, as on a keyboard.
    Key Find(char32_t c, bool capsLock = false) const;
    // What the key that types `c` alone types with Shift; 0 when none.
    char32_t Shifted(char32_t c) const;
    const std::string& text() const { return text_; }
    // The modifier masks for the keymap's Shift, Control and Alt.
    std::uint32_t shiftMask() const { return shift_; }
    std::uint32_t ctrlMask() const { return ctrl_; }
    std::uint32_t altMask() const { return alt_; }

  private:
    xkb_context* ctx_ = nullptr;
    xkb_keymap* map_ = nullptr;
    std::string text_;
    std::uint32_t shift_ = 0, ctrl_ = 0, alt_ = 0;
    // [Caps Lock on]: symbol -> the key that types it.
    std::map<std::uint32_t, Key> places_[2];
    // What each key types alone and with Shift, no lock on.
    std::map<std::uint32_t, std::array<std::uint32_t, 2>> plain_;
};

// A named key as an evdev code, and whether it is that key's level with Control (Break is
// Control+Pause).
struct EvdevKey {
    std::uint32_t evdev = 0;
    bool ctrl = false;
};
EvdevKey EvdevOf(NamedKey k);

// XKB keycodes are evdev codes offset by 8.
inline constexpr std::uint32_t kEvdevOffset = 8;

}  // namespace platform
