#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

// A small X client for what the tests do as the user: find windows, activate, move and click.
class XDisplay {
  public:
    XDisplay();  // $DISPLAY; throws when it cannot connect
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    std::vector<std::uint32_t> ClientWindows();  // _NET_CLIENT_LIST
    std::string Title(std::uint32_t w);          // _NET_WM_NAME, else WM_NAME
    bool Viewable(std::uint32_t w);
    std::uint32_t ActiveWindow();  // _NET_ACTIVE_WINDOW
    void RequestActivate(std::uint32_t w);
    // The window's rectangle on the screen (x, y, width, height).
    std::vector<int> Frame(std::uint32_t w);

    // From now on, the server tells this client of every window mapped on the screen.
    void WatchMaps();
    // After WatchMaps: waits on those events (no polling) until a client window titled `title`
    // is viewable; the window, or 0 when the timeout passed first.
    std::uint32_t WaitMapped(const std::string& title, std::chrono::milliseconds timeout);

    // Real pointer input through XTest; each returns once the server has taken the events.
    void MoveMouse(int x, int y);
    void Click(int x, int y, int count = 1);

  private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace e2e
