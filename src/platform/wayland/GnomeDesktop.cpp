#include "platform/wayland/GnomeDesktop.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string_view>

#include "platform/Paths.h"
#include "platform/Session.h"

namespace platform {

namespace {
// The user may take a while over GNOME's dialog.
constexpr int kConsentWithinMs = 120000;
// How long a user takes to let go of a shortcut's modifiers after its key.
constexpr int kModifiersUpMs = 250;
// How long GNOME takes to give the keyboard back to a Wayland window after one of ours closes.
constexpr int kHandBackMs = 250;
// Left Ctrl: a key no page acts on alone.
constexpr std::uint32_t kEvdevLeftCtrl = 29;
}  // namespace

WindowId GnomeWindowStack::X11Active() {
    // While a Wayland window has the keyboard GNOME names a window of its own active, one it
    // does not manage (or none).
    const WindowId active = x11_.ActiveWindow();
    if (!active) return 0;
    const std::vector<WindowId> managed = x11_.TopLevelWindows();
    return std::find(managed.begin(), managed.end(), active) != managed.end() ? active : 0;
}

std::vector<WindowId> GnomeWindowStack::WindowsBelow(WindowId w) {
    // The keyboard stays where it was at a click on the toolbar, which takes none.
    if (X11Active() == 0) return {kUnseenFocus};
    return x11_.WindowsBelow(w);
}

std::vector<WindowId> GnomeWindowStack::TopLevelWindows() {
    std::vector<WindowId> all = x11_.TopLevelWindows();
    all.push_back(kUnseenFocus);
    return all;
}

bool GnomeWindowStack::IsVisible(WindowId w) {
    return w == kUnseenFocus || x11_.IsVisible(w);
}

std::string GnomeWindowStack::Caption(WindowId w) {
    return w == kUnseenFocus ? kUnseenCaption : x11_.Caption(w);
}

WindowId GnomeWindowStack::Owner(WindowId w) {
    return w == kUnseenFocus ? 0 : x11_.Owner(w);
}

bool GnomeWindowStack::IsOwnWindow(WindowId w) {
    return w != kUnseenFocus && x11_.IsOwnWindow(w);
}

void GnomeWindowStack::RequestActivate(WindowId w) {
    if (w != kUnseenFocus) x11_.RequestActivate(w);
}

WindowId GnomeWindowStack::ActiveWindow() {
    const WindowId active = X11Active();
    return active ? active : kUnseenFocus;
}

bool GnomeWindowStack::WaitActive(WindowId w, int timeoutMs) {
    if (w != kUnseenFocus) return x11_.WaitActive(w, timeoutMs);
    // After one of our windows closes, GNOME gives the keyboard back to the window that had it.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (X11Active() != 0) {
        if (std::chrono::steady_clock::now() >= end) return false;
        x11_.RunEventsFor(10);
    }
    return true;
}

void GnomeWindowStack::WaitHandedBack(WindowId w) {
    // GNOME names none of ours active a moment before the compositor's window has the keyboard
    // again, and nothing an X11 program sees says when it has.
    if (w == kUnseenFocus) x11_.RunEventsFor(kHandBackMs);
}

bool GnomeWindowStack::IsMinimized(WindowId w) {
    return w != kUnseenFocus && x11_.IsMinimized(w);
}

void GnomeWindowStack::Restore(WindowId w) {
    if (w != kUnseenFocus) x11_.Restore(w);
}

bool GnomeWindowStack::Place(WindowId w, int& x, int& y, int& width, int& height) {
    return w != kUnseenFocus && x11_.Place(w, x, y, width, height);
}

std::unique_ptr<GnomeDesktop> GnomeDesktop::InSession(const QString& appId) {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    if (!desktop || std::string_view(desktop).find("GNOME") == std::string_view::npos ||
        !RunsThroughXWayland())
        return nullptr;
    auto bus = std::make_unique<PrivateBus>();
    if (!bus->connected()) return nullptr;
    RemoteDesktopPortal::Register(bus->bus(), appId);
    if (!RemoteDesktopPortal::Available(bus->bus())) return nullptr;
    return std::unique_ptr<GnomeDesktop>(new GnomeDesktop(std::move(bus)));
}

GnomeDesktop::GnomeDesktop(std::unique_ptr<PrivateBus> bus)
    : bus_(std::move(bus)),
      portal_(bus_->bus(), DataHome() / "Penrika" / "gnome-remote-desktop.token") {
    x11_.keyboard().SetUnseenChannel(this);
    shortcut_.FireOnRelease(true);
}

GnomeDesktop::~GnomeDesktop() {
    x11_.keyboard().SetUnseenChannel(nullptr);
}

bool GnomeDesktop::Ready() {
    // GNOME does not tell a program which keys are held on another program's window: the
    // modifiers of a shortcut that started the fill (the desktop's own runs `penrika --fill` at
    // the press) are given a moment to come up before any key meets them.
    windows_.RunEventsFor(kModifiersUpMs);
    return Open();
}

bool GnomeDesktop::Open() {
    if (portal_.started()) return true;
    if (!portal_.HasConsent() && explain_ &&
        !explain_(std::string(MsgGnomeConsent) +
                  (portal_.KeepsConsent() ? MsgGnomeConsentKept : MsgGnomeConsentEachRun)))
        return false;
    switch (portal_.Start(kConsentWithinMs)) {
        case RemoteDesktopPortal::Outcome::Started:
            break;
        case RemoteDesktopPortal::Outcome::Refused:
            if (tell_) tell_(MsgGnomeRefused);
            return false;
        case RemoteDesktopPortal::Outcome::Failed:
            if (tell_) tell_(MsgGnomeUnavailable);
            return false;
    }
    // GNOME drops the first keys of a session that has just started (nothing says when it is
    // ready for them): a few taps of Ctrl, which no page acts on, go first.
    for (int i = 0; i < 3; ++i) {
        portal_.Key(kEvdevLeftCtrl, true);
        portal_.Key(kEvdevLeftCtrl, false);
        windows_.RunEventsFor(30);
    }
    return portal_.started();
}

}  // namespace platform
