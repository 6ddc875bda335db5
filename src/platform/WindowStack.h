// The stack of top-level windows as the window manager keeps it, and what the program asks of
// it: what lies below the toolbar and which window that is, the topmost band, and bringing a
// window to the front. A desktop that shows its programs no stack (GNOME under Wayland) answers
// with empty lists and 0: the fill road then finds no browser and says so.
#pragma once

#include <string>
#include <vector>

#include "platform/WindowId.h"

namespace platform {

class WindowStack {
  public:
    virtual ~WindowStack() = default;

    // Managed top-level windows below `w`, nearest first; empty when `w` is not in the stack.
    virtual std::vector<WindowId> WindowsBelow(WindowId w) = 0;
    // All managed top-level windows, topmost first.
    virtual std::vector<WindowId> TopLevelWindows() = 0;
    // Mapped and not hidden (minimised) by the window manager.
    virtual bool IsVisible(WindowId w) = 0;
    // The window's title (UTF-8), "" when it has none.
    virtual std::string Caption(WindowId w) = 0;
    // The window that owns it (a dialog's parent), 0 when none.
    virtual WindowId Owner(WindowId w) = 0;
    // One of this program's own windows.
    virtual bool IsOwnWindow(WindowId w) = 0;

    // --- The topmost band. Never activates, moves or resizes the window. With `show`, a
    // hidden window is also made visible (without being activated).
    virtual void SetTopmost(WindowId w, bool above, bool show) = 0;

    // --- Activation.
    virtual void RequestActivate(WindowId w) = 0;
    virtual WindowId ActiveWindow() = 0;
    // Waits (running the event loop) until `w` is the active window; false on timeout.
    virtual bool WaitActive(WindowId w, int timeoutMs) = 0;
    // After a window of ours had the keyboard (the candidate list, a question), gives the
    // desktop the time it takes to hand it back to the active `w`, where nothing says when it
    // has (where WaitActive sees it, there is nothing to wait for).
    virtual void WaitHandedBack(WindowId w) {}
    // Lets the window manager's and the program's events run for `ms` milliseconds (a pause
    // while the focus settles that keeps the program answering).
    virtual void RunEventsFor(int ms) = 0;
    virtual bool IsMinimized(WindowId w) = 0;
    virtual void Restore(WindowId w) = 0;

    // Where the window lies on the screen, its inside without the frame, in the screen's
    // pixels; false where the desktop does not tell (then the outputs stay as they were).
    virtual bool Place(WindowId w, int& x, int& y, int& width, int& height) { return false; }
};

}  // namespace platform
