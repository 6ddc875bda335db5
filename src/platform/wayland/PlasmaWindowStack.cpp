#include "platform/wayland/PlasmaWindowStack.h"

#include <unistd.h>
#include <wayland-client.h>

#include <QApplication>
#include <QString>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstring>

#include "plasma-window-management-client.h"
#include "platform/qt/QtSupport.h"
#include "platform/wayland/LayerShell.h"

namespace platform {
namespace {
// The newest version whose events this file handles: a newer protocol description may add
// events that would find no handler here.
constexpr std::uint32_t kHandledVersion = 19;
// Where windows are named by uuid, and where the stacking order is sent by uuid.
constexpr std::uint32_t kUuidWindowsSince = 13;
constexpr std::uint32_t kUuidStackingSince = 12;
constexpr std::uint32_t kIdStackingSince = 11;
constexpr std::uint32_t kWindowDestroySince = 4;
#ifdef ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STACKING_ORDER_CHANGED_2_SINCE_VERSION
constexpr std::uint32_t kAskedStackingSince =
    ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STACKING_ORDER_CHANGED_2_SINCE_VERSION;
#else
constexpr std::uint32_t kAskedStackingSince = 0;  // this protocol description has none
#endif

constexpr std::uint32_t kActive = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE;
constexpr std::uint32_t kMinimized = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED;
constexpr std::uint32_t kKeepAbove = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_KEEP_ABOVE;

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at <= s.size() && !s.empty()) {
        std::size_t end = s.find(sep, at);
        if (end == std::string::npos) end = s.size();
        if (end > at) out.push_back(s.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

// KWin lists a title with its white space simplified (the candidate list's has two spaces),
// and tells windows of one program with the same title apart by a suffix (" <2>").
bool TitleMatches(const std::string& listed, const std::string& widgetTitle) {
    const std::string title = QString::fromStdString(widgetTitle).simplified().toStdString();
    if (listed == title) return true;
    return listed.size() > title.size() + 2 && listed.rfind(title + " <", 0) == 0 &&
           listed.back() == '>';
}
}  // namespace

struct PlasmaWindowStack::Window {
    PlasmaWindowStack* stack = nullptr;
    WindowId id = 0;
    org_kde_plasma_window* handle = nullptr;
    std::uint32_t internalId = 0;
    std::string uuid;
    std::string title, appId;
    std::uint32_t state = 0;
    std::uint32_t pid = 0;
    org_kde_plasma_window* parent = nullptr;
    bool described = false;  // its initial state has arrived
    std::uint64_t activatedAt = 0;
    // The key the stacking order names it by.
    std::string StackKey() const { return uuid.empty() ? std::to_string(internalId) : uuid; }
};

struct PlasmaWindowStack::StackingRequest {
    PlasmaWindowStack* stack = nullptr;
    org_kde_plasma_stacking_order* handle = nullptr;
    std::vector<std::string> uuids;
};

PlasmaWindowStack::PlasmaWindowStack(WaylandConnection& w) : w_(w) {
    if (!w_.Valid()) return;
    const std::uint32_t offered = w_.VersionOf(org_kde_plasma_window_management_interface.name);
    if (offered == 0) return;
    version_ = std::min({offered,
                         static_cast<std::uint32_t>(org_kde_plasma_window_management_interface.version),
                         kHandledVersion});
    manager_ = static_cast<org_kde_plasma_window_management*>(
        w_.Bind(&org_kde_plasma_window_management_interface, version_));
    if (!manager_) {
        version_ = 0;
        return;
    }
    static const org_kde_plasma_window_management_listener listener = {
        .show_desktop_changed = [](void*, org_kde_plasma_window_management*, std::uint32_t) {},
        .window = OnWindow,
        .stacking_order_changed = OnStackingIds,
        .stacking_order_uuid_changed = OnStackingUuids,
        .window_with_uuid = OnWindowWithUuid,
#ifdef ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STACKING_ORDER_CHANGED_2_SINCE_VERSION
        .stacking_order_changed_2 = OnStackingChanged,
#endif
    };
    org_kde_plasma_window_management_add_listener(manager_, &listener, this);
    RequestStacking();
    // The windows, then what each of them is.
    w_.RoundTrip();
    w_.RoundTrip();
}

PlasmaWindowStack::~PlasmaWindowStack() {
    for (auto& r : stackingRequests_) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(r->handle));
    while (!windows_.empty()) Remove(windows_.begin()->second.get());
    if (manager_) org_kde_plasma_window_management_destroy(manager_);
    if (w_.Valid()) w_.RoundTrip();
}

void PlasmaWindowStack::OnWindow(void* d, org_kde_plasma_window_management* m, std::uint32_t id) {
    auto* self = static_cast<PlasmaWindowStack*>(d);
    self->Add(org_kde_plasma_window_management_get_window(m, id), id, {});
}

void PlasmaWindowStack::OnWindowWithUuid(void* d, org_kde_plasma_window_management* m,
                                         std::uint32_t id, const char* uuid) {
    auto* self = static_cast<PlasmaWindowStack*>(d);
    self->Add(org_kde_plasma_window_management_get_window_by_uuid(m, uuid), id, uuid);
}

void PlasmaWindowStack::OnStackingIds(void* d, org_kde_plasma_window_management*, wl_array* ids) {
    auto* self = static_cast<PlasmaWindowStack*>(d);
    // The uuid order, where KWin sends it too, names the windows better.
    if (self->version_ >= kUuidStackingSince) return;
    self->stacking_.clear();
    const auto* id = static_cast<const std::uint32_t*>(ids->data);
    for (std::size_t i = 0; i < ids->size / sizeof(std::uint32_t); ++i)
        self->stacking_.push_back(std::to_string(id[i]));
}

void PlasmaWindowStack::OnStackingUuids(void* d, org_kde_plasma_window_management*,
                                        const char* uuids) {
    static_cast<PlasmaWindowStack*>(d)->stacking_ = Split(uuids ? uuids : "", ';');
}

void PlasmaWindowStack::OnStackingChanged(void* d, org_kde_plasma_window_management*) {
    static_cast<PlasmaWindowStack*>(d)->RequestStacking();
}

void PlasmaWindowStack::RequestStacking() {
#ifdef ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STACKING_ORDER_CHANGED_2_SINCE_VERSION
    if (version_ < kAskedStackingSince) return;
    static const org_kde_plasma_stacking_order_listener listener = {
        .window =
            [](void* d, org_kde_plasma_stacking_order*, const char* uuid) {
                static_cast<StackingRequest*>(d)->uuids.push_back(uuid ? uuid : "");
            },
        // The object ends with this event; answers come in the order they were asked for, so
        // the last one to end is the newest.
        .done =
            [](void* d, org_kde_plasma_stacking_order* o) {
                auto* r = static_cast<StackingRequest*>(d);
                PlasmaWindowStack* self = r->stack;
                self->stacking_ = std::move(r->uuids);
                wl_proxy_destroy(reinterpret_cast<wl_proxy*>(o));
                std::erase_if(self->stackingRequests_,
                              [r](const auto& p) { return p.get() == r; });
            },
    };
    auto r = std::make_unique<StackingRequest>();
    r->stack = this;
    r->handle = org_kde_plasma_window_management_get_stacking_order(manager_);
    org_kde_plasma_stacking_order_add_listener(r->handle, &listener, r.get());
    stackingRequests_.push_back(std::move(r));
#endif
}

void PlasmaWindowStack::Add(org_kde_plasma_window* handle, std::uint32_t internalId,
                            std::string uuid) {
    static const org_kde_plasma_window_listener listener = {
        .title_changed = OnTitle,
        .app_id_changed = OnAppId,
        .state_changed = OnState,
        .virtual_desktop_changed = [](void*, org_kde_plasma_window*, std::int32_t) {},
        .themed_icon_name_changed = [](void*, org_kde_plasma_window*, const char*) {},
        .unmapped = OnUnmapped,
        .initial_state = OnInitialState,
        .parent_window = OnParent,
        .geometry = [](void*, org_kde_plasma_window*, std::int32_t, std::int32_t, std::uint32_t,
                       std::uint32_t) {},
        .icon_changed = [](void*, org_kde_plasma_window*) {},
        .pid_changed = OnPid,
        .virtual_desktop_entered = [](void*, org_kde_plasma_window*, const char*) {},
        .virtual_desktop_left = [](void*, org_kde_plasma_window*, const char*) {},
        .application_menu = [](void*, org_kde_plasma_window*, const char*, const char*) {},
        .activity_entered = [](void*, org_kde_plasma_window*, const char*) {},
        .activity_left = [](void*, org_kde_plasma_window*, const char*) {},
        .resource_name_changed = [](void*, org_kde_plasma_window*, const char*) {},
#ifdef ORG_KDE_PLASMA_WINDOW_CLIENT_GEOMETRY_SINCE_VERSION
        .client_geometry = [](void*, org_kde_plasma_window*, std::int32_t, std::int32_t,
                              std::uint32_t, std::uint32_t) {},
#endif
    };
    auto win = std::make_unique<Window>();
    win->stack = this;
    win->id = nextId_++;
    win->handle = handle;
    win->internalId = internalId;
    win->uuid = std::move(uuid);
    org_kde_plasma_window_add_listener(handle, &listener, win.get());
    windows_.emplace(win->id, std::move(win));
}

void PlasmaWindowStack::Remove(Window* win) {
    if (version_ >= kWindowDestroySince)
        org_kde_plasma_window_destroy(win->handle);
    else
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(win->handle));
    for (auto& [id, other] : windows_)
        if (other->parent == win->handle) other->parent = nullptr;
    windows_.erase(win->id);
}

void PlasmaWindowStack::OnTitle(void* d, org_kde_plasma_window*, const char* title) {
    static_cast<Window*>(d)->title = title ? title : "";
}

void PlasmaWindowStack::OnAppId(void* d, org_kde_plasma_window*, const char* appId) {
    static_cast<Window*>(d)->appId = appId ? appId : "";
}

void PlasmaWindowStack::OnState(void* d, org_kde_plasma_window*, std::uint32_t flags) {
    auto* win = static_cast<Window*>(d);
    if ((flags & kActive) && !(win->state & kActive))
        win->activatedAt = ++win->stack->activations_;
    win->state = flags;
}

void PlasmaWindowStack::OnUnmapped(void* d, org_kde_plasma_window*) {
    auto* win = static_cast<Window*>(d);
    win->stack->Remove(win);
}

void PlasmaWindowStack::OnInitialState(void* d, org_kde_plasma_window*) {
    auto* win = static_cast<Window*>(d);
    win->described = true;
    win->stack->ApplyWantedBand(*win);
}

void PlasmaWindowStack::OnParent(void* d, org_kde_plasma_window*, org_kde_plasma_window* parent) {
    static_cast<Window*>(d)->parent = parent;
}

void PlasmaWindowStack::OnPid(void* d, org_kde_plasma_window*, std::uint32_t pid) {
    static_cast<Window*>(d)->pid = pid;
}

PlasmaWindowStack::Window* PlasmaWindowStack::Find(WindowId w) {
    auto it = windows_.find(Listed(w));
    return it == windows_.end() || !it->second->described ? nullptr : it->second.get();
}

WindowId PlasmaWindowStack::Listed(WindowId w) {
    if (!w || windows_.count(w)) return w;
    QWidget* widget = OwnWidget(w);
    if (!widget) return w;
    // A hidden widget has no window, even while KWin still lists the one it had.
    if (!widget->isVisible()) return 0;
    // KWin names no surface of a window: ours is the one of this process with the widget's
    // title, the topmost where several are.
    const std::string title = widget->windowTitle().toStdString();
    const auto own = static_cast<std::uint32_t>(getpid());
    std::vector<WindowId> stack = Stacking();
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        const Window& win = *windows_.at(*it);
        if (win.pid == own && TitleMatches(win.title, title)) return win.id;
    }
    return 0;
}

WindowId PlasmaWindowStack::Public(WindowId listed) {
    auto it = windows_.find(listed);
    if (it == windows_.end() || it->second->pid != static_cast<std::uint32_t>(getpid()))
        return listed;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->testAttribute(Qt::WA_WState_Created) || !widget->isVisible()) continue;
        const auto id = static_cast<WindowId>(widget->internalWinId());
        if (Listed(id) == listed) return id;
    }
    return listed;
}

std::vector<WindowId> PlasmaWindowStack::Public(std::vector<WindowId> listed) {
    for (WindowId& w : listed) w = Public(w);
    return listed;
}

std::vector<WindowId> PlasmaWindowStack::Stacking() {
    std::map<std::string, WindowId> byKey;
    for (auto& [id, win] : windows_)
        if (win->described) byKey[win->StackKey()] = id;
    std::vector<WindowId> out;
    for (const std::string& key : stacking_) {
        auto it = byKey.find(key);
        if (it == byKey.end()) continue;
        out.push_back(it->second);
        byKey.erase(it);
    }
    // Windows not in the order yet have just appeared: on top, as KWin places a new window.
    std::vector<WindowId> fresh;
    for (auto& [key, id] : byKey) fresh.push_back(id);
    std::sort(fresh.begin(), fresh.end());
    out.insert(out.end(), fresh.begin(), fresh.end());
    return out;
}

std::vector<WindowId> PlasmaWindowStack::WindowsBelow(WindowId w) {
    if (!w || !manager_) return {};
    w_.RoundTrip();
    std::vector<WindowId> stack = Stacking();  // bottom to top
    const WindowId listed = Listed(w);
    auto it = std::find(stack.begin(), stack.end(), listed);
    if (it != stack.end() && listed) return Public({std::make_reverse_iterator(it), stack.rend()});
    // The toolbar's layer-shell surface, which KWin does not list, never takes the keyboard:
    // the windows below it are all those the user works in, nearest first (out of the top
    // layer too, where it lies below them only while it is not used).
    QWidget* widget = OwnWidget(w);
    if (widget && widget == layered_ && widget->isVisible())
        return Public({stack.rbegin(), stack.rend()});
    return {};
}

std::vector<WindowId> PlasmaWindowStack::TopLevelWindows() {
    if (!manager_) return {};
    w_.RoundTrip();
    std::vector<WindowId> stack = Stacking();
    return Public({stack.rbegin(), stack.rend()});
}

bool PlasmaWindowStack::IsVisible(WindowId w) {
    const Window* win = Find(w);
    return win && !(win->state & kMinimized);
}

std::string PlasmaWindowStack::Caption(WindowId w) {
    const Window* win = Find(w);
    return win ? win->title : std::string();
}

std::string PlasmaWindowStack::AppId(WindowId w) {
    const Window* win = Find(w);
    return win ? win->appId : std::string();
}

WindowId PlasmaWindowStack::Owner(WindowId w) {
    const Window* win = Find(w);
    if (!win || !win->parent) return 0;
    for (auto& [id, other] : windows_)
        if (other->handle == win->parent) return Public(id);
    return 0;
}

bool PlasmaWindowStack::IsOwnWindow(WindowId w) {
    if (!w) return false;
    if (auto it = windows_.find(w); it != windows_.end())
        return it->second->pid == static_cast<std::uint32_t>(getpid());
    return OwnWidget(w) != nullptr;
}

void PlasmaWindowStack::SetState(WindowId w, std::uint32_t flag, bool on) {
    Window* win = Find(w);
    if (!win) return;
    org_kde_plasma_window_set_state(win->handle, flag, on ? flag : 0);
    // KWin has taken the request once it answers.
    w_.RoundTrip();
}

void PlasmaWindowStack::SetTopmost(WindowId w, bool above, bool show) {
    if (!w || !manager_) return;
    QWidget* widget = OwnWidget(w);
    // The first window placed before it is shown is the toolbar.
    if (widget && !layered_ && !widget->isVisible() && MakeLayerSurface(widget, above))
        layered_ = widget;
    if (widget && widget == layered_) {
        SetLayerAbove(widget, above);
        if (show && !widget->isVisible()) {
            widget->setAttribute(Qt::WA_ShowWithoutActivating);
            widget->show();
        }
        return;
    }
    if (widget) {
        // KWin forgets the band when the window is hidden: put it back each time KWin lists the
        // widget's window anew.
        // Once per widget: Qt cannot tell one lambda from another, so it refuses a unique
        // connection of one.
        if (wantAbove_.find(w) == wantAbove_.end())
            QObject::connect(widget, &QObject::destroyed, widget, [this, w] { wantAbove_.erase(w); });
        wantAbove_[w] = above;
        if (show && !widget->isVisible()) {
            widget->setAttribute(Qt::WA_ShowWithoutActivating);
            widget->show();
            // Listed once Qt's connection has shown it and KWin has told us.
            w_.WaitUntil([&] { return Find(w) != nullptr; }, 1000, 10);
        }
    } else if (show && IsMinimized(w)) {
        SetState(w, kMinimized, false);
    }
    if (Find(w)) SetState(w, kKeepAbove, above);
}

void PlasmaWindowStack::ApplyWantedBand(Window& win) {
    if (win.pid != static_cast<std::uint32_t>(getpid())) return;
    for (auto& [widgetId, above] : wantAbove_) {
        if (!above || (win.state & kKeepAbove)) continue;
        QWidget* widget = OwnWidget(widgetId);
        if (widget && TitleMatches(win.title, widget->windowTitle().toStdString()))
            org_kde_plasma_window_set_state(win.handle, kKeepAbove, kKeepAbove);
    }
}

bool PlasmaWindowStack::IsTopmost(WindowId w) {
    const Window* win = Find(w);
    return win && (win->state & kKeepAbove);
}

void PlasmaWindowStack::RequestActivate(WindowId w) {
    SetState(w, kActive, true);
}

WindowId PlasmaWindowStack::ActiveWindow() {
    return Public(ActiveListed());
}

WindowId PlasmaWindowStack::ActiveListed() {
    w_.Dispatch();
    const Window* best = nullptr;
    for (auto& [id, win] : windows_) {
        // KWin names the new window active before it drops the old one: the latest counts.
        if (win->described && (win->state & kActive) &&
            (!best || win->activatedAt > best->activatedAt))
            best = win.get();
    }
    return best ? best->id : 0;
}

bool PlasmaWindowStack::WaitActive(WindowId w, int timeoutMs) {
    if (!w) return false;
    return w_.WaitUntil(
        [&] {
            const WindowId listed = Listed(w);
            return listed && ActiveListed() == listed;
        },
        timeoutMs);
}

void PlasmaWindowStack::RunEventsFor(int ms) {
    w_.Pause(ms);
}

bool PlasmaWindowStack::IsMinimized(WindowId w) {
    const Window* win = Find(w);
    return win && (win->state & kMinimized);
}

void PlasmaWindowStack::Restore(WindowId w) {
    SetState(w, kMinimized, false);
}

}  // namespace platform
