// The screen of a GNOME session (tests/support/gnome-session.sh). GNOME lets no program list or
// move another's windows, nor make a keyboard or pointer of its own: the test's hands and eyes
// are the desktop portal and the shell's own window list, through a driver (gnome-driver.js)
// that the session's stored consent lets in. The program under test runs on X11 there, so its
// windows are Xwayland's as well; a Wayland window is known by title and focus only (its place is
// the work area's middle: GNOME centres a new window there).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "e2e/support/Screen.h"
#include "e2e/support/XDisplay.h"

namespace e2e {

// The one driver of the test process, started on first use.
class GnomeDriver {
  public:
    static GnomeDriver& Get();
    ~GnomeDriver();
    // Sends one command and returns its answer once GNOME has taken it; throws on an error.
    std::string Ask(const std::string& command);

  private:
    GnomeDriver();
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
    std::string buffered_;
};

class GnomeScreen : public Screen {
  public:
    std::vector<std::uint32_t> ClientWindows() override;
    std::string Title(std::uint32_t w) override;
    bool Viewable(std::uint32_t w) override;
    std::uint32_t ActiveWindow() override;
    // A Wayland window is brought forward as the user does: a click on its top edge (GNOME lets
    // no program ask for it).
    void RequestActivate(std::uint32_t w) override;
    // A Wayland window: the work area, whose middle a new window covers.
    std::vector<int> Frame(std::uint32_t w) override;
    bool Move(std::uint32_t w, int x, int y) override;
    void MoveMouse(int x, int y) override;
    void Click(int x, int y, int count = 1) override;
    void Key(const std::string& keys) override;
    void Type(const std::string& text) override;
    bool PagesKnowTheirPlace() const override { return false; }

  private:
    struct Shown {
        std::string title;
        bool focus = false, hidden = false;
        int height = 0;
    };
    // The shell's Wayland windows now, under ids of ours apart from X11's.
    std::map<std::uint32_t, Shown> WaylandWindows();
    bool IsWayland(std::uint32_t w) const { return w >= kFirstWaylandId; }

    static constexpr std::uint32_t kFirstWaylandId = 0xF0000000u;
    XDisplay x_;
    std::map<std::uint64_t, std::uint32_t> ids_;  // the shell's window id -> ours
};

}  // namespace e2e
