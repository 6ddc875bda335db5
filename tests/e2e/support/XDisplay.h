#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "e2e/support/Screen.h"

namespace e2e {

// A small X client for what the tests do as the user: find windows, activate, move and click.
class XDisplay : public Screen {
  public:
    XDisplay();  // $DISPLAY; throws when it cannot connect
    ~XDisplay() override;
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    std::vector<std::uint32_t> ClientWindows() override;  // _NET_CLIENT_LIST
    std::string Title(std::uint32_t w) override;          // _NET_WM_NAME, else WM_NAME
    bool Viewable(std::uint32_t w) override;
    std::uint32_t ActiveWindow() override;  // _NET_ACTIVE_WINDOW
    void RequestActivate(std::uint32_t w) override;
    // The window's rectangle on the screen (x, y, width, height).
    std::vector<int> Frame(std::uint32_t w) override;
    bool Move(std::uint32_t w, int x, int y) override;  // xdotool windowmove
    // Where the window manager lets windows lie (x, y, width, height); empty when it does not say.
    std::vector<int> WorkArea();

    // From now on, the server tells this client of every window mapped on the screen.
    void WatchMaps();
    // After WatchMaps: waits on those events (no polling) until a client window titled `title`
    // is viewable; the window, or 0 when the timeout passed first.
    std::uint32_t WaitMapped(const std::string& title, std::chrono::milliseconds timeout);

    // Real pointer input through XTest; each returns once the server has taken the events.
    void MoveMouse(int x, int y) override;
    void Click(int x, int y, int count = 1) override;
    void Key(const std::string& keys) override;  // xdotool (Xdotool.h)
    void Type(const std::string& text) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace e2e
