#include "platform/wayland/WaylandDesktop.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <cstdlib>
#include <string_view>

#include "platform/Session.h"
#include "platform/wayland/DataControlClipboard.h"
#include "platform/wayland/FakeInputKeyboard.h"
#include "platform/wayland/PlasmaWindowStack.h"
#include "platform/wayland/VirtualKeyboard.h"
#include "platform/wayland/WlrWindowStack.h"

namespace platform {

bool WaylandDesktop::Suits(const std::set<std::string>& g) {
    const bool wlroots =
        g.count("zwlr_foreign_toplevel_manager_v1") && g.count("zwp_virtual_keyboard_manager_v1");
    const bool kwin = g.count("org_kde_plasma_window_management") && g.count("org_kde_kwin_fake_input");
    const bool clipboard = g.count("zwlr_data_control_manager_v1");
    return (wlroots || kwin) && clipboard;
}

WaylandDesktop::WaylandDesktop(const std::string& appId) {
    // Qt 6.4 asks the compositor to activate the window Qt believes focused whenever the focus
    // object changes. Qt learns that the toolbar lost the keyboard only when it next reads its
    // events, which is mid-fill: KWin grants a program its desktop file trusts such a request,
    // and the toolbar took the keyboard from the browser. Our windows ask for the keyboard
    // themselves where they want it (later Qt does no more).
    if (qApp) QObject::disconnect(qApp, &QGuiApplication::focusObjectChanged, qApp, nullptr);
    clipboard_ = std::make_unique<DataControlClipboard>(w_);
    if (w_.Offers("zwlr_foreign_toplevel_manager_v1") && w_.Offers("zwp_virtual_keyboard_manager_v1")) {
        windows_ = std::make_unique<WlrWindowStack>(w_, appId);
        keyboard_ = std::make_unique<VirtualKeyboard>(w_, *windows_, *clipboard_);
    } else {
        windows_ = std::make_unique<PlasmaWindowStack>(w_);
        keyboard_ = std::make_unique<FakeInputKeyboard>(w_, *windows_, clipboard_.get());
    }
}

WaylandDesktop::~WaylandDesktop() = default;

Desktop WaylandDesktop::Parts() {
    return {*windows_, *keyboard_, *clipboard_};
}

bool ChooseWayland() {
    if (const char* qpa = std::getenv("QT_QPA_PLATFORM"); qpa && *qpa)
        return std::string_view(qpa).starts_with("wayland");
    const char* display = std::getenv("WAYLAND_DISPLAY");
    // Qt's Wayland platform is a package of its own: without it, X11 it is.
    const bool plugin = QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                                          QStringLiteral("/platforms/libqwayland-generic.so"));
    const bool wayland = RunsUnderWayland() && display && *display && plugin &&
                         WaylandDesktop::Suits(WaylandConnection::GlobalsOffered());
    setenv("QT_QPA_PLATFORM", wayland ? "wayland" : "xcb", 1);
    return wayland;
}

}  // namespace platform
