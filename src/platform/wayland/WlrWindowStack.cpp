#include "platform/wayland/WlrWindowStack.h"

#include <wayland-client.h>

#include <QApplication>
#include <QWidget>
#include <algorithm>

#include "platform/qt/QtSupport.h"
#include "platform/wayland/LayerShell.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

namespace platform {

WlrWindowStack::WlrWindowStack(WaylandConnection& w, std::string appId)
    : w_(w), appId_(std::move(appId)) {
    manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        w_.Bind(&zwlr_foreign_toplevel_manager_v1_interface, 3));
    if (!manager_) return;
    static const zwlr_foreign_toplevel_manager_v1_listener listener = {OnToplevel, OnFinished};
    zwlr_foreign_toplevel_manager_v1_add_listener(manager_, &listener, this);
    // The windows there are now, each described in full.
    w_.RoundTrip();
    w_.RoundTrip();
}

WlrWindowStack::~WlrWindowStack() {
    for (auto& [id, t] : toplevels_) zwlr_foreign_toplevel_handle_v1_destroy(t.handle);
    if (manager_) zwlr_foreign_toplevel_manager_v1_stop(manager_);
    w_.RoundTrip();
}

void WlrWindowStack::OnToplevel(void* d, zwlr_foreign_toplevel_manager_v1*,
                                zwlr_foreign_toplevel_handle_v1* h) {
    static const zwlr_foreign_toplevel_handle_v1_listener listener = {
        OnTitle,
        OnAppId,
        [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
        [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
        OnState,
        OnDone,
        OnClosed,
        OnParent,
    };
    auto* self = static_cast<WlrWindowStack*>(d);
    self->toplevels_[IdOf(h)].handle = h;
    zwlr_foreign_toplevel_handle_v1_add_listener(h, &listener, self);
}

void WlrWindowStack::OnFinished(void* d, zwlr_foreign_toplevel_manager_v1*) {
    auto* self = static_cast<WlrWindowStack*>(d);
    zwlr_foreign_toplevel_manager_v1_destroy(self->manager_);
    self->manager_ = nullptr;
}

WlrWindowStack::Toplevel* WlrWindowStack::Find(WindowId w) {
    auto it = toplevels_.find(w);
    return it == toplevels_.end() ? nullptr : &it->second;
}


void WlrWindowStack::OnTitle(void* d, zwlr_foreign_toplevel_handle_v1* h, const char* title) {
    if (Toplevel* t = static_cast<WlrWindowStack*>(d)->Find(IdOf(h))) t->title = title;
}

void WlrWindowStack::OnAppId(void* d, zwlr_foreign_toplevel_handle_v1* h, const char* appId) {
    if (Toplevel* t = static_cast<WlrWindowStack*>(d)->Find(IdOf(h))) t->appId = appId;
}

void WlrWindowStack::OnState(void* d, zwlr_foreign_toplevel_handle_v1* h, wl_array* states) {
    Toplevel* t = static_cast<WlrWindowStack*>(d)->Find(IdOf(h));
    if (!t) return;
    t->pendingActivated = t->pendingMinimized = false;
    const auto* s = static_cast<const std::uint32_t*>(states->data);
    for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
        if (s[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) t->pendingActivated = true;
        if (s[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED) t->pendingMinimized = true;
    }
}

void WlrWindowStack::OnDone(void* d, zwlr_foreign_toplevel_handle_v1* h) {
    auto* self = static_cast<WlrWindowStack*>(d);
    Toplevel* t = self->Find(IdOf(h));
    if (!t) return;
    const WindowId id = IdOf(h);
    const bool becameActive = t->pendingActivated && !t->activated;
    t->activated = t->pendingActivated;
    t->minimized = t->pendingMinimized;
    if (!t->done) {
        t->done = true;
        // A window listed for the first time goes below those the user has worked in.
        if (!becameActive) self->order_.push_back(id);
    }
    if (becameActive) {
        std::erase(self->order_, id);
        self->order_.insert(self->order_.begin(), id);
    }
}

void WlrWindowStack::OnClosed(void* d, zwlr_foreign_toplevel_handle_v1* h) {
    auto* self = static_cast<WlrWindowStack*>(d);
    const WindowId id = IdOf(h);
    std::erase(self->order_, id);
    for (auto& [other, t] : self->toplevels_) {
        if (t.parent == id) t.parent = 0;
    }
    self->toplevels_.erase(id);
    zwlr_foreign_toplevel_handle_v1_destroy(h);
}

void WlrWindowStack::OnParent(void* d, zwlr_foreign_toplevel_handle_v1* h,
                              zwlr_foreign_toplevel_handle_v1* parent) {
    if (Toplevel* t = static_cast<WlrWindowStack*>(d)->Find(IdOf(h)))
        t->parent = parent ? IdOf(parent) : 0;
}

std::vector<WindowId> WlrWindowStack::WindowsBelow(WindowId w) {
    w_.Dispatch();
    // One of our own windows that the compositor does not list (the toolbar as a layer
    // surface) lies above them all.
    if (!Find(w)) return OwnWidget(w) ? order_ : std::vector<WindowId>{};
    auto it = std::find(order_.begin(), order_.end(), w);
    return it == order_.end() ? std::vector<WindowId>{} : std::vector<WindowId>(it + 1, order_.end());
}

std::vector<WindowId> WlrWindowStack::TopLevelWindows() {
    w_.Dispatch();
    return order_;
}

bool WlrWindowStack::IsVisible(WindowId w) {
    if (QWidget* widget = OwnWidget(w)) return widget->isVisible() && !widget->isMinimized();
    Toplevel* t = Find(w);
    return t && !t->minimized;
}

std::string WlrWindowStack::Caption(WindowId w) {
    if (QWidget* widget = OwnWidget(w)) return widget->windowTitle().toStdString();
    Toplevel* t = Find(w);
    return t ? t->title : std::string();
}

WindowId WlrWindowStack::Owner(WindowId w) {
    Toplevel* t = Find(w);
    return t ? t->parent : 0;
}

bool WlrWindowStack::IsOwnWindow(WindowId w) {
    if (OwnWidget(w)) return true;
    Toplevel* t = Find(w);
    return t && !appId_.empty() && t->appId == appId_;
}

void WlrWindowStack::SetTopmost(WindowId w, bool above, bool show) {
    QWidget* widget = OwnWidget(w);
    if (!widget) return;
    // The first window placed before it is shown is the toolbar.
    if (!layered_ && !widget->isVisible() && MakeLayerSurface(widget, above)) layered_ = widget;
    if (widget == layered_) SetLayerAbove(widget, above);
    if (show && !widget->isVisible()) {
        widget->setAttribute(Qt::WA_ShowWithoutActivating);
        widget->show();
    }
    // Other windows have no band on Wayland: the compositor stacks them.
}

void WlrWindowStack::RequestActivate(WindowId w) {
    Toplevel* t = Find(w);
    if (QWidget* widget = OwnWidget(w)) {
        // A program cannot give itself the keyboard on Wayland; the window list can, for our
        // window of that title.
        const std::string title = widget->windowTitle().toStdString();
        for (auto& [id, other] : toplevels_) {
            if (other.appId == appId_ && other.title == title) t = &other;
        }
        if (!t) widget->activateWindow();
    }
    if (!t || !w_.seat()) return;
    zwlr_foreign_toplevel_handle_v1_activate(t->handle, w_.seat());
    wl_display_flush(w_.display());
}

WindowId WlrWindowStack::ActiveWindow() {
    w_.Dispatch();
    for (auto& [id, t] : toplevels_) {
        if (!t.activated) continue;
        // Ours by the id the program knows it by.
        if (t.appId == appId_) {
            if (QWidget* active = QApplication::activeWindow())
                return static_cast<WindowId>(active->internalWinId());
        }
        return id;
    }
    return 0;
}

bool WlrWindowStack::WaitActive(WindowId w, int timeoutMs) {
    return w_.WaitUntil([this, w] { return ActiveWindow() == w; }, timeoutMs);
}

void WlrWindowStack::RunEventsFor(int ms) {
    w_.Pause(ms);
}

bool WlrWindowStack::IsMinimized(WindowId w) {
    if (QWidget* widget = OwnWidget(w)) return widget->isMinimized();
    Toplevel* t = Find(w);
    return t && t->minimized;
}

void WlrWindowStack::Restore(WindowId w) {
    if (QWidget* widget = OwnWidget(w)) {
        widget->showNormal();
        return;
    }
    if (Toplevel* t = Find(w)) {
        zwlr_foreign_toplevel_handle_v1_unset_minimized(t->handle);
        wl_display_flush(w_.display());
    }
}

}  // namespace platform
