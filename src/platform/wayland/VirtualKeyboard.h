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
#include "platform/wayland/KeyLayout.h"
#include "platform/wayland/WaylandConnection.h"

struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

namespace platform {

class DataControlClipboard;
class InputMethodSwitch;

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
    // The key that types the stroke (0 when none does), and the modifiers it needs besides.
    struct Key {
        std::uint32_t keycode = 0;
        bool shift = false, ctrl = false;
    };
    Key KeyOf(const KeyStroke& s) const;
    // Presses the stroke's key with its modifiers; false when no key types it.
    bool TypeOne(const KeyStroke& s);
    // Pastes `text`; false when the target did not read it in time.
    bool Paste(const std::string& text, bool own);

    WaylandConnection& w_;
    WindowStack& windows_;
    DataControlClipboard& clipboard_;
    KeyLayout layout_;
    zwp_virtual_keyboard_manager_v1* manager_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    std::uint32_t lastKeycode_ = 0;
    InputMethodSwitch* imOff_ = nullptr;  // while a fill types with the input method off
    std::uint32_t lastKeyAt_ = 0;
};

}  // namespace platform
