#include "platform/x11/X11WindowStack.h"

#include <unistd.h>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdlib>

#include "core/Utf8.h"
#include "platform/qt/QtSupport.h"

namespace platform {
namespace {
// WM_STATE values (ICCCM).
constexpr std::uint32_t kWmStateIconic = 3;
// _NET_WM_STATE actions and the source indication of a pager, which openbox always honours.
constexpr std::uint32_t kStateRemove = 0;
constexpr std::uint32_t kStateAdd = 1;
constexpr std::uint32_t kSourcePager = 2;

// A title that is not UTF-8 is taken as Latin-1, as old clients set WM_NAME.
std::string Latin1ToUtf8(const std::string& s) {
    std::string out;
    for (unsigned char c : s) AppendUtf8(out, c);
    return out;
}
}  // namespace

X11WindowStack::X11WindowStack(X11Connection& x) : x_(x) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) host_ = host;
}

std::vector<WindowId> X11WindowStack::WindowsBelow(WindowId w) {
    std::vector<WindowId> stack = Stacking();  // bottom to top
    auto it = std::find(stack.begin(), stack.end(), w);
    if (it == stack.end()) return {};
    return std::vector<WindowId>(std::make_reverse_iterator(it), stack.rend());
}

std::vector<WindowId> X11WindowStack::TopLevelWindows() {
    std::vector<WindowId> stack = Stacking();
    return std::vector<WindowId>(stack.rbegin(), stack.rend());
}

bool X11WindowStack::IsVisible(WindowId w) {
    if (!w || !x_.Valid()) return false;
    auto* a = xcb_get_window_attributes_reply(x_.conn(), xcb_get_window_attributes(x_.conn(), w),
                                              nullptr);
    bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(a);
    return viewable && !HasState(w, x_.atoms().netWmStateHidden);
}

std::string X11WindowStack::Caption(WindowId w) {
    if (!w || !x_.Valid()) return {};
    xcb_atom_t type = XCB_ATOM_NONE;
    std::string name = x_.PropertyBytes(w, x_.atoms().netWmName, x_.atoms().utf8String, &type);
    if (type == x_.atoms().utf8String) return name;
    name = x_.PropertyBytes(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, &type);
    // STRING is Latin-1; other encodings are taken as UTF-8 when they are valid.
    if (type == XCB_ATOM_STRING || !IsValidUtf8(name)) return Latin1ToUtf8(name);
    return name;
}

WindowId X11WindowStack::Owner(WindowId w) {
    std::vector<std::uint32_t> v = x_.Property32(w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW);
    if (v.empty() || v[0] == x_.root()) return 0;
    return v[0];
}

bool X11WindowStack::IsOwnWindow(WindowId w) {
    if (!w) return false;
    for (QWindow* q : QGuiApplication::allWindows()) {
        if (q->handle() && q->winId() == w) return true;
    }
    std::vector<std::uint32_t> pid = x_.Property32(w, x_.atoms().netWmPid, XCB_ATOM_CARDINAL);
    if (pid.empty() || pid[0] != static_cast<std::uint32_t>(getpid())) return false;
    std::string machine =
        x_.PropertyBytes(w, x_.atoms().wmClientMachine, XCB_GET_PROPERTY_TYPE_ANY);
    while (!machine.empty() && machine.back() == '\0') machine.pop_back();
    return machine == host_;
}

void X11WindowStack::SetTopmost(WindowId w, bool above, bool show) {
    if (!w || !x_.Valid()) return;
    if (show) ShowWithoutActivating(w);
    if (QWidget* widget = OwnWidget(w)) KeepBand(widget, w, above);
    const auto& a = x_.atoms();
    if (!IsManaged(w)) {
        // The window manager reads the property when it takes the window on; Qt keeps atoms it
        // finds there when it maps the window.
        std::vector<std::uint32_t> states = x_.Property32(w, a.netWmState, XCB_ATOM_ATOM);
        auto it = std::find(states.begin(), states.end(), a.netWmStateAbove);
        if (above && it == states.end()) states.push_back(a.netWmStateAbove);
        if (!above && it != states.end()) states.erase(it);
        xcb_change_property(x_.conn(), XCB_PROP_MODE_REPLACE, w, a.netWmState, XCB_ATOM_ATOM, 32,
                            static_cast<std::uint32_t>(states.size()), states.data());
    }
    x_.SendToRoot(w, a.netWmState, above ? kStateAdd : kStateRemove, a.netWmStateAbove, 0,
                  kSourcePager);
    // The request has reached the server (and so the manager) when this returns.
    x_.RoundTrip();
}

bool X11WindowStack::IsTopmost(WindowId w) {
    return HasState(w, x_.atoms().netWmStateAbove);
}

void X11WindowStack::RequestActivate(WindowId w) {
    if (!w || !x_.Valid()) return;
    WindowId current = ActiveWindow();
    x_.SendToRoot(w, x_.atoms().netActiveWindow, kSourcePager, x_.ServerTime(), current);
}

WindowId X11WindowStack::ActiveWindow() {
    std::vector<std::uint32_t> v =
        x_.Property32(x_.root(), x_.atoms().netActiveWindow, XCB_ATOM_WINDOW);
    return v.empty() ? 0 : v[0];
}

bool X11WindowStack::WaitActive(WindowId w, int timeoutMs) {
    if (!w) return false;
    // Active for the window manager and holding the keyboard focus: keys go only there.
    return x_.WaitUntil([&] { return ActiveWindow() == w && HasFocus(w); }, timeoutMs);
}

void X11WindowStack::RunEventsFor(int ms) {
    platform::RunEventsFor(ms);
}

bool X11WindowStack::IsMinimized(WindowId w) {
    if (HasState(w, x_.atoms().netWmStateHidden)) return true;
    std::vector<std::uint32_t> s = x_.Property32(w, x_.atoms().wmState, x_.atoms().wmState);
    return !s.empty() && s[0] == kWmStateIconic;
}

bool X11WindowStack::Place(WindowId w, int& x, int& y, int& width, int& height) {
    if (!w || !x_.Valid()) return false;
    xcb_get_geometry_reply_t* g =
        xcb_get_geometry_reply(x_.conn(), xcb_get_geometry(x_.conn(), w), nullptr);
    xcb_translate_coordinates_reply_t* t = xcb_translate_coordinates_reply(
        x_.conn(), xcb_translate_coordinates(x_.conn(), w, x_.root(), 0, 0), nullptr);
    const bool known = g && t;
    if (known) x = t->dst_x, y = t->dst_y, width = g->width, height = g->height;
    std::free(g);
    std::free(t);
    return known;
}

void X11WindowStack::Restore(WindowId w) {
    if (!w || !x_.Valid()) return;
    if (IsManaged(w)) {
        // openbox de-iconifies a window it is asked to activate.
        RequestActivate(w);
    } else {
        xcb_map_window(x_.conn(), w);
        xcb_flush(x_.conn());
    }
}

std::vector<WindowId> X11WindowStack::Stacking() {
    std::vector<std::uint32_t> v =
        x_.Property32(x_.root(), x_.atoms().netClientListStacking, XCB_ATOM_WINDOW);
    return std::vector<WindowId>(v.begin(), v.end());
}

bool X11WindowStack::HasState(WindowId w, xcb_atom_t state) {
    if (!w) return false;
    std::vector<std::uint32_t> s = x_.Property32(w, x_.atoms().netWmState, XCB_ATOM_ATOM);
    return std::find(s.begin(), s.end(), state) != s.end();
}

bool X11WindowStack::IsManaged(WindowId w) {
    std::vector<WindowId> stack = Stacking();
    return std::find(stack.begin(), stack.end(), w) != stack.end();
}

// The window manager forgets the band when a window is hidden, and Qt does not know of it when
// it shows the window again: put an own window back into the band each time it is shown, once
// the manager has taken it on.
void X11WindowStack::KeepBand(QWidget* widget, WindowId w, bool above) {
    bool known = wantAbove_.count(w) > 0;
    wantAbove_[w] = above;
    QWindow* handle = widget->windowHandle();
    if (known || !handle) return;
    QObject::connect(handle, &QWindow::visibleChanged, &guard_, [this, w](bool visible) {
        if (visible && wantAbove_[w]) ReapplyWhenManaged(w, 100);
    });
    QObject::connect(handle, &QObject::destroyed, &guard_, [this, w] { wantAbove_.erase(w); });
}

void X11WindowStack::ReapplyWhenManaged(WindowId w, int triesLeft) {
    auto it = wantAbove_.find(w);
    if (it == wantAbove_.end() || !it->second || triesLeft <= 0) return;
    if (IsManaged(w) && IsVisible(w)) {
        if (HasState(w, x_.atoms().netWmStateAbove)) return;
        // Asked again every few rounds until the manager shows that it took the request.
        if (triesLeft % 5 == 0)
            x_.SendToRoot(w, x_.atoms().netWmState, kStateAdd, x_.atoms().netWmStateAbove, 0,
                          kSourcePager);
    }
    QTimer::singleShot(20, &guard_, [this, w, triesLeft] { ReapplyWhenManaged(w, triesLeft - 1); });
}

void X11WindowStack::ShowWithoutActivating(WindowId w) {
    if (QWidget* widget = OwnWidget(w)) {
        if (widget->isVisible()) return;
        widget->setAttribute(Qt::WA_ShowWithoutActivating);
        // Qt reads this from the native window, which may exist from an earlier showing.
        if (QWindow* handle = widget->windowHandle())
            handle->setProperty("_q_showWithoutActivating", true);
        widget->show();
        // Qt maps the window on its own connection; ours must see it mapped before asking
        // the manager about it.
        QGuiApplication::sync();
        x_.WaitUntil([&] { return IsManaged(w); }, 500, 5);
        return;
    }
    if (!IsManaged(w)) {
        xcb_map_window(x_.conn(), w);
        xcb_flush(x_.conn());
        x_.WaitUntil([&] { return IsManaged(w); }, 500, 5);
    }
}

bool X11WindowStack::HasFocus(WindowId w) {
    auto* f = xcb_get_input_focus_reply(x_.conn(), xcb_get_input_focus(x_.conn()), nullptr);
    xcb_window_t win = f ? f->focus : XCB_NONE;
    std::free(f);
    for (int depth = 0; depth < 16 && win != XCB_NONE && win != XCB_INPUT_FOCUS_POINTER_ROOT;
         ++depth) {
        if (win == w) return true;
        if (win == x_.root()) return false;
        auto* t = xcb_query_tree_reply(x_.conn(), xcb_query_tree(x_.conn(), win), nullptr);
        if (!t) return false;
        win = t->parent;
        std::free(t);
    }
    return false;
}

}  // namespace platform
