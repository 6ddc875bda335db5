// The window stack on X11 with an EWMH window manager (openbox and the like): the stack and the
// windows' states from the manager's root properties, requests to it as client messages.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <QObject>

#include "platform/WindowStack.h"
#include "platform/x11/X11Connection.h"

namespace platform {

class X11WindowStack : public WindowStack {
  public:
    explicit X11WindowStack(X11Connection& x);

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

    // Whether the window manager keeps `w` in the topmost band.
    bool IsTopmost(WindowId w);
    // The keyboard focus is on `w` or inside it. The manager moves the focus before it updates
    // _NET_ACTIVE_WINDOW, so this catches a switch that the property does not show yet.
    bool HasFocus(WindowId w);

  private:
    std::vector<WindowId> Stacking();
    bool HasState(WindowId w, xcb_atom_t state);
    // Taken on by the window manager (it lists the windows it manages).
    bool IsManaged(WindowId w);
    void KeepBand(QWidget* widget, WindowId w, bool above);
    void ReapplyWhenManaged(WindowId w, int triesLeft);
    void ShowWithoutActivating(WindowId w);

    X11Connection& x_;
    std::string host_;
    std::map<WindowId, bool> wantAbove_;  // own windows and whether they belong in the band
    QObject guard_;                       // ends the connections and timers above with the stack
};

}  // namespace platform
