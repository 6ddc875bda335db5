// A real keyboard on a Wayland compositor for what the test types as the user (never the
// program's way): a virtual keyboard with a US layout (on KWin its fake input, in the session's
// US layout), whose keys reach the focused window through the compositor, and the input
// method's grab when one runs.
#pragma once

#include <memory>
#include <string>

namespace e2e {

class Keyboard {
  public:
    // The test program's one keyboard at $WAYLAND_DISPLAY (made on first use, kept to the end:
    // see ThePointer in SwayScreen.cpp); the window focused then sees a Shift pressed, which
    // would also switch an input method that grabs the keys. Throws when the compositor offers
    // neither a virtual keyboard nor fake input.
    static Keyboard& Get();
    virtual ~Keyboard() = default;

    // `keys` as XdoKey takes them: key names (X keysym names) separated by spaces, each with
    // modifiers before it ("Tab", "ctrl+c", "a i u"); each returns once the compositor has
    // handled the keys.
    virtual void Keys(const std::string& keys) = 0;
    // Types printable ASCII, key by key.
    virtual void Type(const std::string& text) = 0;
};

}  // namespace e2e
