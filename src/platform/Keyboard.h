// Keystrokes into the focused window, as the user's keyboard would type them.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/KeyStroke.h"
#include "platform/WindowId.h"

namespace platform {

class Keyboard {
  public:
    virtual ~Keyboard() = default;

    // Waits until the user has let go of Shift, Ctrl, Alt and Super; false on timeout.
    virtual bool WaitModifiersReleased(int timeoutMs) = 0;
    // Whether keys may go to `target` now: asked once as a fill begins, before its first key. A
    // desktop that lets a program type only with the user's consent asks for it here, and tells
    // the user itself when it is not given.
    virtual bool Ready(WindowId target) { return true; }
    // What this keyboard types with Shift on the key that types `c` alone, 0 when it has no
    // such key: what StrokesToSend makes of Shift with a character.
    virtual char32_t ShiftedChar(char32_t c) = 0;
    // Types the strokes and returns once the target has had them. They come as the key notation
    // leaves them for this keyboard (StrokesToSend): named keys with their modifiers, characters
    // on their own, and shortcuts, pressed on the keyboard's key for the character; what each
    // means as a key is decided before. Before each stroke it checks that `target` is still the
    // active window and stops if not. Returns how many strokes went out. Never leaves a key or
    // modifier pressed.
    virtual std::size_t Type(const std::vector<KeyStroke>& strokes, WindowId target) = 0;
};

}  // namespace platform
