// The fill shortcut on Windows: a system hot key registered for a message-only window of its
// own, whose WM_HOTKEY is dispatched by whatever message loop runs on the thread (Qt's, or a
// modal one's).
#pragma once

#include "platform/win32/Win32Support.h"

#include <memory>

#include "platform/GlobalShortcut.h"

class QTimer;

namespace platform {

class Win32Shortcut : public GlobalShortcut {
  public:
    // On the thread that runs the event loop: the hot key's messages come to that thread.
    Win32Shortcut();
    ~Win32Shortcut() override;
    Win32Shortcut(const Win32Shortcut&) = delete;
    Win32Shortcut& operator=(const Win32Shortcut&) = delete;

    Outcome Take(const std::string& sequence) override;

  private:
    struct Combo {
        UINT modifiers = 0;  // MOD_CONTROL, MOD_SHIFT, MOD_ALT, MOD_WIN
        UINT vk = 0;
    };
    static LRESULT CALLBACK WindowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp);
    void HotKey(int id);
    void CheckReleased();

    HWND window_ = nullptr;
    bool taken_ = false;
    int id_ = 0;  // the registration's id, alternating so the new one is held before the old goes
    Combo current_;
    std::unique_ptr<QTimer> release_;
    int releasePolls_ = 0;
};

}  // namespace platform
