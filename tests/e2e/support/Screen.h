// What the tests see and do as the user, whatever the session: the windows on the screen (by
// id, title, state and place) and a real pointer. X11 (tests/support/with-x.sh) is XDisplay;
// a Wayland session (tests/support/sway-session.sh, kwin-session.sh, gnome-session.sh) is asked
// through its compositor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

class Screen {
  public:
    virtual ~Screen() = default;
    // The session this test runs in: the compositor PENRIKA_WAYLAND_SESSION names, else X11
    // at $DISPLAY. Throws when it cannot be reached.
    static std::unique_ptr<Screen> Open();

    virtual std::vector<std::uint32_t> ClientWindows() = 0;  // the programs' top windows
    virtual std::string Title(std::uint32_t w) = 0;
    // Whether the window bears the title its program gave it, as the window manager shows it.
    virtual bool Titled(std::uint32_t w, const std::string& title) { return Title(w) == title; }
    virtual bool Viewable(std::uint32_t w) = 0;
    virtual std::uint32_t ActiveWindow() = 0;  // 0 when none has the keyboard
    virtual void RequestActivate(std::uint32_t w) = 0;
    // The window's rectangle on the screen (x, y, width, height); empty when unknown.
    virtual std::vector<int> Frame(std::uint32_t w) = 0;
    // Moves the window's top-left corner there, as the window manager's user would; false when
    // it cannot be moved.
    virtual bool Move(std::uint32_t w, int x, int y) = 0;

    // Real pointer input; each returns once the server has taken the events.
    virtual void MoveMouse(int x, int y) = 0;
    virtual void Click(int x, int y, int count = 1) = 0;
    // Real keys for the active window, test-only (never the program's way): key names
    // separated by spaces ("Tab", "ctrl+c", "a i u"), and printable ASCII key by key.
    virtual void Key(const std::string& keys) = 0;
    virtual void Type(const std::string& text) = 0;

    // Whether a page's own screen coordinates are places on this screen. On X11 they are; a
    // Wayland client knows no place of its own, and the page is found from where the pointer is.
    virtual bool PagesKnowTheirPlace() const { return true; }
};

}  // namespace e2e
