// The desktop on X11 with an EWMH window manager (openbox and the like): the window stack and
// window states from the manager's root properties, requests to it as client messages, keys
// through XTest; the clipboard and message boxes as every Qt desktop has them.
#include "platform/x11/X11Desktop.h"

#include <unistd.h>
#include <QApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>

#include "core/Utf8.h"
#include "platform/posix/InputMethodSwitch.h"
#include "platform/qt/QtDesktop.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Keyboard.h"

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

QWidget* OwnWidget(WindowId w) {
    if (!w) return nullptr;
    for (QWidget* t : QApplication::topLevelWidgets()) {
        if (t->testAttribute(Qt::WA_WState_Created) && t->internalWinId() == w) return t;
    }
    return nullptr;
}

class X11Desktop : public QtDesktop {
  public:
    explicit X11Desktop(HelpHooks help) : keyboard_(x_), help_(std::move(help)) {
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) == 0) host_ = host;
    }

    std::vector<WindowId> WindowsBelow(WindowId w) override {
        std::vector<WindowId> stack = Stacking();  // bottom to top
        auto it = std::find(stack.begin(), stack.end(), w);
        if (it == stack.end()) return {};
        return std::vector<WindowId>(std::make_reverse_iterator(it), stack.rend());
    }

    std::vector<WindowId> TopLevelWindows() override {
        std::vector<WindowId> stack = Stacking();
        return std::vector<WindowId>(stack.rbegin(), stack.rend());
    }

    bool IsVisible(WindowId w) override {
        if (!w || !x_.Valid()) return false;
        auto* a = xcb_get_window_attributes_reply(x_.conn(),
                                                  xcb_get_window_attributes(x_.conn(), w), nullptr);
        bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(a);
        return viewable && !HasState(w, x_.atoms().netWmStateHidden);
    }

    std::string Caption(WindowId w) override {
        if (!w || !x_.Valid()) return {};
        xcb_atom_t type = XCB_ATOM_NONE;
        std::string name = x_.PropertyBytes(w, x_.atoms().netWmName, x_.atoms().utf8String, &type);
        if (type == x_.atoms().utf8String) return name;
        name = x_.PropertyBytes(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, &type);
        // STRING is Latin-1; other encodings are taken as UTF-8 when they are valid.
        if (type == XCB_ATOM_STRING || !IsValidUtf8(name)) return Latin1ToUtf8(name);
        return name;
    }

    WindowId Owner(WindowId w) override {
        std::vector<std::uint32_t> v = x_.Property32(w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW);
        if (v.empty() || v[0] == x_.root()) return 0;
        return v[0];
    }

    bool IsOwnWindow(WindowId w) override {
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

    void SetTopmost(WindowId w, bool above, bool show) override {
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
            xcb_change_property(x_.conn(), XCB_PROP_MODE_REPLACE, w, a.netWmState, XCB_ATOM_ATOM,
                                32, static_cast<std::uint32_t>(states.size()), states.data());
        }
        x_.SendToRoot(w, a.netWmState, above ? kStateAdd : kStateRemove, a.netWmStateAbove, 0,
                      kSourcePager);
        // The request has reached the server (and so the manager) when this returns.
        x_.RoundTrip();
    }

    bool IsTopmost(WindowId w) override { return HasState(w, x_.atoms().netWmStateAbove); }

    void RequestActivate(WindowId w) override {
        if (!w || !x_.Valid()) return;
        WindowId current = ActiveWindow();
        x_.SendToRoot(w, x_.atoms().netActiveWindow, kSourcePager, x_.ServerTime(), current);
    }

    WindowId ActiveWindow() override {
        std::vector<std::uint32_t> v =
            x_.Property32(x_.root(), x_.atoms().netActiveWindow, XCB_ATOM_WINDOW);
        return v.empty() ? 0 : v[0];
    }

    bool WaitActive(WindowId w, int timeoutMs) override {
        if (!w) return false;
        // Active for the window manager and holding the keyboard focus: keys go only there.
        return x_.WaitUntil([&] { return ActiveWindow() == w && HasFocus(w); }, timeoutMs);
    }

    bool IsMinimized(WindowId w) override {
        if (HasState(w, x_.atoms().netWmStateHidden)) return true;
        std::vector<std::uint32_t> s = x_.Property32(w, x_.atoms().wmState, x_.atoms().wmState);
        return !s.empty() && s[0] == kWmStateIconic;
    }

    void Restore(WindowId w) override {
        if (!w || !x_.Valid()) return;
        if (IsManaged(w)) {
            // openbox de-iconifies a window it is asked to activate.
            RequestActivate(w);
        } else {
            xcb_map_window(x_.conn(), w);
            xcb_flush(x_.conn());
        }
    }

    bool WaitModifiersReleased(int timeoutMs) override {
        return x_.WaitUntil([&] { return !keyboard_.ModifiersHeld(); }, timeoutMs);
    }

    std::size_t Type(const std::vector<KeyStroke>& strokes, WindowId target) override {
        // Qt hands keys to whichever of its windows has the focus when it reads them, so keys
        // for a window of ours must be read while they are typed, not after. Our windows read
        // the clipboard on this very thread, so they get no paste.
        bool own = IsOwnWindow(target);
        X11Keyboard::Route route;
        route.paste = !own;
        std::unique_ptr<InputMethodSwitch> imOff;
        if (HasCharacters(strokes) && keyboard_.InputMethodPresent()) {
            imOff = std::make_unique<InputMethodSwitch>();
            route.ownKeys = imOff->KeysPassThrough();
            // An input method that stays on gets every character on spare keys, which it
            // passes through as they are: exact everywhere, even where a page refuses a paste.
            route.paste = route.paste && route.ownKeys;
            // The field's toolkit hears of the switch on its own connection to the input
            // method; a key that arrives before may still go the old way (and be lost).
            if (imOff->found() == InputMethodSwitch::Found::SwitchedOff)
                x_.Pause(kInputMethodBackMs, own);
        }
        std::unique_ptr<ClipboardContents> saved;
        route.beforePaste = [&] { saved = ClipboardSave(); };
        std::size_t sent = keyboard_.Type(
            strokes, target,
            [&] { return target && ActiveWindow() == target && HasFocus(target); }, own, route);
        // What the clipboard held goes back once the target has read the pasted text.
        if (saved) ClipboardRestore(std::move(saved));
        // The input method may still be reading the last key when it is switched on again, and
        // the field hears of the switch in its own time.
        if (imOff && imOff->found() == InputMethodSwitch::Found::SwitchedOff)
            x_.Pause(kInputMethodBackMs, own);
        return sent;
    }

    char32_t ShiftedChar(char32_t c) override { return keyboard_.ShiftedChar(c); }

    void ShowHelp(WindowId owner, int context) override {
        if (help_.show) help_.show(owner, context);
    }
    void CloseHelp() override {
        if (help_.close) help_.close();
    }

    X11Keyboard& keyboard() { return keyboard_; }

  private:
    std::vector<WindowId> Stacking() {
        std::vector<std::uint32_t> v =
            x_.Property32(x_.root(), x_.atoms().netClientListStacking, XCB_ATOM_WINDOW);
        return std::vector<WindowId>(v.begin(), v.end());
    }

    bool HasState(WindowId w, xcb_atom_t state) {
        if (!w) return false;
        std::vector<std::uint32_t> s = x_.Property32(w, x_.atoms().netWmState, XCB_ATOM_ATOM);
        return std::find(s.begin(), s.end(), state) != s.end();
    }

    // Taken on by the window manager (it lists the windows it manages).
    bool IsManaged(WindowId w) {
        std::vector<WindowId> stack = Stacking();
        return std::find(stack.begin(), stack.end(), w) != stack.end();
    }

    // The window manager forgets the band when a window is hidden, and Qt does not know of it
    // when it shows the window again: put an own window back into the band each time it is
    // shown, once the manager has taken it on.
    void KeepBand(QWidget* widget, WindowId w, bool above) {
        bool known = wantAbove_.count(w) > 0;
        wantAbove_[w] = above;
        QWindow* handle = widget->windowHandle();
        if (known || !handle) return;
        QObject::connect(handle, &QWindow::visibleChanged, &guard_, [this, w](bool visible) {
            if (visible && wantAbove_[w]) ReapplyWhenManaged(w, 100);
        });
        QObject::connect(handle, &QObject::destroyed, &guard_, [this, w] { wantAbove_.erase(w); });
    }

    void ReapplyWhenManaged(WindowId w, int triesLeft) {
        auto it = wantAbove_.find(w);
        if (it == wantAbove_.end() || !it->second || triesLeft <= 0) return;
        if (IsManaged(w) && IsVisible(w)) {
            if (HasState(w, x_.atoms().netWmStateAbove)) return;
            // Asked again every few rounds until the manager shows that it took the request.
            if (triesLeft % 5 == 0)
                x_.SendToRoot(w, x_.atoms().netWmState, kStateAdd, x_.atoms().netWmStateAbove, 0,
                              kSourcePager);
        }
        QTimer::singleShot(20, &guard_,
                           [this, w, triesLeft] { ReapplyWhenManaged(w, triesLeft - 1); });
    }

    void ShowWithoutActivating(WindowId w) {
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

    // The keyboard focus is on `w` or inside it. The manager moves the focus before it updates
    // _NET_ACTIVE_WINDOW, so this catches a switch that the property does not show yet.
    bool HasFocus(WindowId w) {
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

    static bool HasCharacters(const std::vector<KeyStroke>& strokes) {
        return std::any_of(strokes.begin(), strokes.end(),
                           [](const KeyStroke& k) { return k.ch && !k.ctrl && !k.alt; });
    }

    static constexpr int kInputMethodBackMs = 50;
    X11Connection x_;
    X11Keyboard keyboard_;

    HelpHooks help_;
    std::string host_;
    std::map<WindowId, bool> wantAbove_;  // own windows and whether they belong in the band
    QObject guard_;                       // ends the connections and timers above with the desktop
};
}  // namespace

std::unique_ptr<Desktop> CreateX11Desktop(HelpHooks help) {
    return std::make_unique<X11Desktop>(std::move(help));
}

X11Keyboard::Timing* X11TypingTiming(Desktop& desktop, bool inputMethod) {
    auto* x = dynamic_cast<X11Desktop*>(&desktop);
    return x ? &x->keyboard().timing(inputMethod) : nullptr;
}

bool X11KeymapChanged(Desktop& desktop) {
    auto* x = dynamic_cast<X11Desktop*>(&desktop);
    return x && x->keyboard().MapChanged();
}

std::uint64_t X11KeymapChanges(Desktop& desktop) {
    auto* x = dynamic_cast<X11Desktop*>(&desktop);
    return x ? x->keyboard().mapChanges() : 0;
}

bool X11InputMethodPresent(Desktop& desktop) {
    auto* x = dynamic_cast<X11Desktop*>(&desktop);
    return x && x->keyboard().InputMethodPresent();
}

}  // namespace platform
