// The screen of a KWin session (tests/support/kwin-session.sh) as a trusted program of the
// desktop sees it: the windows from KWin's window list (org_kde_plasma_window_management, on a
// connection of the test's own), moves by a KWin script run over D-Bus (KWin has no protocol
// for them), and KWin's fake input for the pointer and the keys.
#pragma once

#include <memory>

#include "e2e/support/Screen.h"

namespace e2e {

class Pointer;

class KWinScreen : public Screen {
  public:
    KWinScreen();  // throws when KWin does not list its windows to this program
    ~KWinScreen() override;

    std::vector<std::uint32_t> ClientWindows() override;
    std::string Title(std::uint32_t w) override;
    // KWin shows a title with its white space simplified, and tells windows of one program with
    // the same title apart by a suffix (" <2>").
    bool Titled(std::uint32_t w, const std::string& title) override;
    bool Viewable(std::uint32_t w) override;
    std::uint32_t ActiveWindow() override;
    void RequestActivate(std::uint32_t w) override;
    // The frame KWin reports: the window's surface where KWin has no decoration theme to draw
    // around it, as in the test sessions (a window of Qt's then draws none either).
    std::vector<int> Frame(std::uint32_t w) override;
    // Returns once KWin reports the window there, false when it did not get there.
    bool Move(std::uint32_t w, int x, int y) override;
    void MoveMouse(int x, int y) override;
    void Click(int x, int y, int count = 1) override;
    void Key(const std::string& keys) override;
    void Type(const std::string& text) override;
    bool PagesKnowTheirPlace() const override { return false; }

  private:
    struct List;
    std::unique_ptr<List> list_;
    Pointer& pointer_;
};

}  // namespace e2e
