// Typing through SendInput. Characters go as Unicode packets (KEYEVENTF_UNICODE: the text
// arrives as itself whatever the keyboard layout, and an input method lets it through); named
// keys and shortcuts with Ctrl or Alt press the keyboard's own virtual keys. The strokes
// arrive as StrokesToSend makes them: what each means as a key is not decided here.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <vector>

#include "platform/KeyStroke.h"
#include "platform/Keyboard.h"
#include "platform/WindowStack.h"

namespace platform {

// The virtual key of a named key, and whether it is one of the extended keys (arrows, the
// editing block, the keypad's divide) that must say so to reach the application as themselves.
struct VirtualKey {
    WORD vk = 0;
    bool extended = false;
};
VirtualKey VirtualKeyOf(NamedKey key);

// The input events of one stroke: its modifiers down, the key or character down and up, the
// modifiers up in reverse order. Every key pressed here is released here. `keyOf(c)` gives
// VkKeyScan's answer for a shortcut's character (virtual key in the low byte, the shift
// states it needs in the high byte; -1 when the layout has no key for it).
std::vector<INPUT> InputsOf(const KeyStroke& stroke, const std::function<SHORT(char32_t)>& keyOf);

class Win32Keyboard : public Keyboard {
  public:
    // Tells the program's own windows, which take keys from its event loop, by `windows`.
    explicit Win32Keyboard(WindowStack& windows) : windows_(windows) {}

    bool WaitModifiersReleased(int timeoutMs) override;
    char32_t ShiftedChar(char32_t c) override;
    // A window that Windows would not let our keys reach (one of a process run as
    // administrator) gets none. A stroke refused by the system stops typing and has its keys
    // released.
    std::size_t Type(const std::vector<KeyStroke>& strokes, WindowId target) override;

    // Shift, Ctrl, Alt or a Windows key held down by the user.
    bool ModifiersHeld() const;

  private:
    // Types the strokes one by one while `target` stays in front; returns how many went out.
    std::size_t TypeWhileInFront(const std::vector<KeyStroke>& strokes, HWND target);
    SHORT KeyOf(char32_t c) const;
    HKL Layout() const;

    WindowStack& windows_;
};

}  // namespace platform
