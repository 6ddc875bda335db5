// The window stack on wlroots compositors (sway and its kin) through their window list protocol:
// every window with its title, app id and state, and activation on request. The protocol tells
// no stacking order; the windows are kept in the order they were last active, which is what
// "below" means for a toolbar that never takes the keyboard: the window nearest below it is the
// one the user was working in.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/WindowStack.h"
#include "platform/wayland/WaylandConnection.h"

struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct wl_array;

namespace platform {

class WlrWindowStack : public WindowStack {
  public:
    // `appId`: the app id this program's own windows carry.
    WlrWindowStack(WaylandConnection& w, std::string appId);
    ~WlrWindowStack() override;
    WlrWindowStack(const WlrWindowStack&) = delete;
    WlrWindowStack& operator=(const WlrWindowStack&) = delete;

    // Whether the compositor lists its windows to this program.
    bool Available() const { return manager_ != nullptr; }

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

  private:
    struct Toplevel {
        zwlr_foreign_toplevel_handle_v1* handle = nullptr;
        std::string title, appId;
        bool activated = false, minimized = false;
        WindowId parent = 0;
        // As the last `state` event said, taken on `done`.
        bool pendingActivated = false, pendingMinimized = false;
        bool done = false;  // described in full at least once
    };
    static void OnToplevel(void* d, zwlr_foreign_toplevel_manager_v1*,
                           zwlr_foreign_toplevel_handle_v1* h);
    static void OnFinished(void* d, zwlr_foreign_toplevel_manager_v1*);
    static void OnTitle(void* d, zwlr_foreign_toplevel_handle_v1* h, const char* title);
    static void OnAppId(void* d, zwlr_foreign_toplevel_handle_v1* h, const char* appId);
    static void OnState(void* d, zwlr_foreign_toplevel_handle_v1* h, wl_array* states);
    static void OnDone(void* d, zwlr_foreign_toplevel_handle_v1* h);
    static void OnClosed(void* d, zwlr_foreign_toplevel_handle_v1* h);
    static void OnParent(void* d, zwlr_foreign_toplevel_handle_v1* h,
                         zwlr_foreign_toplevel_handle_v1* parent);
    static WindowId IdOf(zwlr_foreign_toplevel_handle_v1* h) {
        return reinterpret_cast<WindowId>(h);
    }
    Toplevel* Find(WindowId w);

    WaylandConnection& w_;
    std::string appId_;
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    std::map<WindowId, Toplevel> toplevels_;
    // Last active first.
    std::vector<WindowId> order_;
    // The program's first window to be placed, the toolbar: in the compositor's top layer
    // where it can, above every window without taking the keyboard.
    QPointer<QWidget> layered_;
};

}  // namespace platform
