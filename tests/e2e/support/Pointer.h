// A real pointer on a Wayland compositor, moved and clicked as a user's mouse is: the compositor
// takes it for a device of its own and sends the windows ordinary pointer events.
#pragma once

#include <memory>

namespace e2e {

class Pointer {
  public:
    virtual ~Pointer() = default;

    // Connects to $WAYLAND_DISPLAY and makes a pointer there: wlroots' virtual pointer, whose
    // absolute places are fractions of the layout (`layoutWidth` x `layoutHeight` from 0,0),
    // else KWin's fake input (for a program KWin trusts). Throws when the compositor offers no
    // way to.
    static std::unique_ptr<Pointer> Connect(int layoutWidth, int layoutHeight);

    // Each returns once the compositor has handled the events.
    virtual void MoveTo(int x, int y) = 0;
    virtual void Button(bool pressed) = 0;  // the left button
    // Moves there and clicks `count` times (3: a triple-click).
    void Click(int x, int y, int count = 1);
};

}  // namespace e2e
