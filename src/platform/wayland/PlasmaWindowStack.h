// The window stack on KWin through its window list (org_kde_plasma_window_management, the one
// Plasma's task bar reads): every window with its title, app id, process, state and parent, the
// full stacking order, and activation and the keep-above band on request. The toolbar is a
// layer-shell surface where Qt's layer shell is there, as on wlroots: KWin does not list it, and
// it lies above every window it lists (or below them all, out of the top layer).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QPointer>
#include <QWidget>

#include "platform/WindowStack.h"
#include "platform/wayland/WaylandConnection.h"

struct org_kde_plasma_window_management;
struct org_kde_plasma_window;
struct org_kde_plasma_stacking_order;
struct wl_array;

namespace platform {

class PlasmaWindowStack : public WindowStack {
  public:
    explicit PlasmaWindowStack(WaylandConnection& w);
    ~PlasmaWindowStack() override;
    PlasmaWindowStack(const PlasmaWindowStack&) = delete;
    PlasmaWindowStack& operator=(const PlasmaWindowStack&) = delete;

    // Whether the compositor lists its windows to this program (KWin does only for programs
    // its desktop file or the session allows).
    bool Available() const { return manager_ != nullptr; }
    // The protocol version both sides speak, 0 when not available.
    std::uint32_t version() const { return version_; }

    std::vector<WindowId> WindowsBelow(WindowId w) override;
    std::vector<WindowId> TopLevelWindows() override;
    bool IsVisible(WindowId w) override;
    std::string Caption(WindowId w) override;
    WindowId Owner(WindowId w) override;
    // A window of this process (by the process KWin names), or a top-level widget's own id.
    bool IsOwnWindow(WindowId w) override;
    void SetTopmost(WindowId w, bool above, bool show) override;
    void RequestActivate(WindowId w) override;
    WindowId ActiveWindow() override;
    bool WaitActive(WindowId w, int timeoutMs) override;
    void RunEventsFor(int ms) override;
    bool IsMinimized(WindowId w) override;
    void Restore(WindowId w) override;

    std::string AppId(WindowId w);
    // Whether KWin keeps the window in its keep-above band.
    bool IsTopmost(WindowId w);
    // Our own windows go by their widgets' ids, as the program knows them; KWin's list names
    // them by ids of its own. The window KWin lists for one of our top-level widgets (by the
    // widget's id), 0 while it lists none (not shown yet, or a layer-shell surface); any other
    // id is returned as it is.
    WindowId Listed(WindowId w);

  private:
    struct Window;
    struct StackingRequest;

    static void OnWindow(void* d, org_kde_plasma_window_management*, std::uint32_t id);
    static void OnWindowWithUuid(void* d, org_kde_plasma_window_management*, std::uint32_t id,
                                 const char* uuid);
    static void OnStackingIds(void* d, org_kde_plasma_window_management*, wl_array* ids);
    static void OnStackingUuids(void* d, org_kde_plasma_window_management*, const char* uuids);
    static void OnStackingChanged(void* d, org_kde_plasma_window_management*);
    static void OnTitle(void* d, org_kde_plasma_window*, const char* title);
    static void OnAppId(void* d, org_kde_plasma_window*, const char* appId);
    static void OnState(void* d, org_kde_plasma_window*, std::uint32_t flags);
    static void OnUnmapped(void* d, org_kde_plasma_window*);
    static void OnInitialState(void* d, org_kde_plasma_window*);
    static void OnParent(void* d, org_kde_plasma_window*, org_kde_plasma_window* parent);
    static void OnPid(void* d, org_kde_plasma_window*, std::uint32_t pid);

    void Add(org_kde_plasma_window* handle, std::uint32_t internalId, std::string uuid);
    void Remove(Window* win);
    // Asks for the stacking order where KWin sends it only when asked (version 17 on).
    void RequestStacking();
    Window* Find(WindowId w);
    // Bottom to top, the windows KWin has described in full, by the ids of the list.
    std::vector<WindowId> Stacking();
    // The id a listed window goes by outside: a widget's own for a window of ours.
    WindowId Public(WindowId listed);
    std::vector<WindowId> Public(std::vector<WindowId> listed);
    WindowId ActiveListed();
    void SetState(WindowId w, std::uint32_t flag, bool on);
    // Puts a widget of ours that wants the keep-above band into it once KWin lists it.
    void ApplyWantedBand(Window& win);

    WaylandConnection& w_;
    org_kde_plasma_window_management* manager_ = nullptr;
    std::uint32_t version_ = 0;
    std::map<WindowId, std::unique_ptr<Window>> windows_;
    // Ids of their own, far from the small numbers Qt gives its Wayland windows: a widget's id
    // never names a listed window.
    WindowId nextId_ = WindowId{0x504c} << (sizeof(WindowId) * 8 - 16);
    // The stacking order as KWin last sent it, bottom to top: uuids, or internal ids (as text)
    // where the protocol is older.
    std::vector<std::string> stacking_;
    std::vector<std::unique_ptr<StackingRequest>> stackingRequests_;
    std::uint64_t activations_ = 0;
    // Our widgets (by their ids) that are to be in the keep-above band, or out of it.
    std::map<WindowId, bool> wantAbove_;
    // The program's first window to be placed before it is shown, the toolbar: in the
    // compositor's top layer where it can, above every window without taking the keyboard.
    QPointer<QWidget> layered_;
};

}  // namespace platform
