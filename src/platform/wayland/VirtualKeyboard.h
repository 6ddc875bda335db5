// Typing on wlroots compositors through a virtual keyboard of the program's own that carries the
// user's layout: a character the layout has is typed on its own key at the level that gives it,
// as on X11, so that pages see the key a user would press. A character the layout lacks (kana,
// kanji, emoji) goes by paste: offered on the clipboard, Ctrl+V, and the next key only once the
// target has read it; the user's clipboard is put back afterwards. (Keymaps of our own with such
// characters on spare keys were tried: Chromium drops the characters of some keys, of emoji
// and of some symbols, and a browser reads a new keymap in its own time.) The input method
// (fcitx5) is switched off while the keys go and put back afterwards.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/Keyboard.h"
#include "platform/WindowStack.h"
#include "platform/wayland/WaylandConnection.h"

struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct xkb_context;
struct xkb_keymap;

namespace platform {

// The layout's keys, as the keyboard finds characters on them.
class KeyLayout {
  public:
    // Compiles `keymapText` (XKB text); an empty or unreadable one gives a US layout.
    explicit KeyLayout(const std::string& keymapText);
    ~KeyLayout();
    KeyLayout(const KeyLayout&) = delete;
    KeyLayout& operator=(const KeyLayout&) = delete;

    struct Key {
        std::uint32_t keycode = 0;  // XKB keycode (evdev + 8)
        bool shift = false;
    };
    // The key and level that type `c` (main keys before the keypad's); keycode 0 when none.
    Key Find(char32_t c) const;
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
};

class DataControlClipboard;

class VirtualKeyboard : public Keyboard {
  public:
    // Typing checks the target's activation on `windows`; a paste goes through `clipboard`.
    VirtualKeyboard(WaylandConnection& w, WindowStack& windows, DataControlClipboard& clipboard);
    ~VirtualKeyboard() override;
    VirtualKeyboard(const VirtualKeyboard&) = delete;
    VirtualKeyboard& operator=(const VirtualKeyboard&) = delete;

    // Whether the compositor gave this program a keyboard.
    bool Available() const { return keyboard_ != nullptr; }

    bool WaitModifiersReleased(int timeoutMs) override;
    char32_t ShiftedChar(char32_t c) override;
    std::size_t Type(const std::vector<KeyStroke>& strokes, WindowId target) override;

  private:
    void SendKeymap(const std::string& text);
    void Press(std::uint32_t keycode, bool down);
    // Presses the stroke's key with its modifiers; false when no key types it.
    bool TypeOne(const KeyStroke& s, bool own);
    // Pastes `text`; false when the target did not read it in time.
    bool Paste(const std::string& text, bool own);

    WaylandConnection& w_;
    WindowStack& windows_;
    DataControlClipboard& clipboard_;
    KeyLayout layout_;
    zwp_virtual_keyboard_manager_v1* manager_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    std::uint32_t lastKeycode_ = 0;
    std::uint32_t lastKeyAt_ = 0;
};

}  // namespace platform
