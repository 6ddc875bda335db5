// The window stack on Windows: the window manager's z-order, the topmost band with
// SetWindowPos, activation under the foreground lock.
#pragma once

#include "platform/WindowStack.h"

namespace platform {

class Win32WindowStack : public WindowStack {
  public:
    std::vector<WindowId> WindowsBelow(WindowId w) override;
    std::vector<WindowId> TopLevelWindows() override;
    bool IsVisible(WindowId w) override;
    std::string Caption(WindowId w) override;
    WindowId Owner(WindowId w) override;
    bool IsOwnWindow(WindowId w) override;
    void SetTopmost(WindowId w, bool above, bool show) override;
    void RequestActivate(WindowId w) override;
    WindowId ActiveWindow() override;
    bool WaitActive(WindowId w, int timeoutMs) override;
    void RunEventsFor(int ms) override;
    bool IsMinimized(WindowId w) override;
    void Restore(WindowId w) override;
    bool Place(WindowId w, int& x, int& y, int& width, int& height) override;

    // Whether the window is in the topmost band.
    bool IsTopmost(WindowId w);
};

}  // namespace platform
