// The screen of a sway session, as its IPC tells it (swaymsg, at $SWAYSOCK): the windows of the
// tree, X11 ones included, and the compositor's virtual pointer.
#pragma once

#include <QJsonObject>
#include <functional>

#include "e2e/support/Screen.h"

namespace e2e {

class Pointer;

class SwayScreen : public Screen {
  public:
    SwayScreen();  // throws when sway does not answer

    std::vector<std::uint32_t> ClientWindows() override;
    std::string Title(std::uint32_t w) override;
    bool Viewable(std::uint32_t w) override;
    std::uint32_t ActiveWindow() override;
    void RequestActivate(std::uint32_t w) override;
    std::vector<int> Frame(std::uint32_t w) override;
    void MoveMouse(int x, int y) override;
    void Click(int x, int y, int count = 1) override;
    void Key(const std::string& keys) override;  // the compositor's virtual keyboard
    void Type(const std::string& text) override;
    bool PagesKnowTheirPlace() const override { return false; }

    // A sway command (`move position 10 20`) for that window; false when sway refused it.
    bool Command(std::uint32_t w, const std::string& command);
    // The window's node of the tree (id, name, app_id, shell, rect, focused, visible, ...);
    // empty when there is none of that id.
    QJsonObject Node(std::uint32_t w);

  private:
    // Each window node of the tree, until `visit` returns true.
    void ForEachWindow(const std::function<bool(const QJsonObject&)>& visit);

    Pointer& pointer_;
};

}  // namespace e2e
