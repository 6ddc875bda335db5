// GNOME's Wayland session, from XWayland. GNOME shows a program no other program's windows, lets
// none bring another forward, and lets none type into them but through the desktop portal's
// RemoteDesktop, with the user's consent. So the program runs on X11 there and takes the window
// that holds the keyboard for the browser (kUnseenFocus), as long as none of its own windows has
// taken it: the toolbar never takes it (the toolbar that takes no focus), and the fill shortcut
// comes through the portal too. Keys go through the portal on the user's layout, characters no
// key carries by paste through XWayland's clipboard, which GNOME shares with Wayland's. Windows
// of programs that run on X11 themselves are still the X11 desktop's.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "platform/Desktop.h"
#include "platform/posix/PrivateBus.h"
#include "platform/wayland/PortalShortcut.h"
#include "platform/wayland/RemoteDesktopPortal.h"
#include "platform/x11/X11Desktop.h"

namespace platform {

// The X11 window stack with the window that holds the keyboard in GNOME's stead where no X11
// window has it.
class GnomeWindowStack : public WindowStack {
  public:
    explicit GnomeWindowStack(X11WindowStack& x11) : x11_(x11) {}

    // What a Wayland browser's window is called here (it has no title we can read).
    static constexpr const char* kUnseenCaption = "GNOME のウィンドウ";

    std::vector<WindowId> WindowsBelow(WindowId w) override;
    std::vector<WindowId> TopLevelWindows() override;
    bool IsVisible(WindowId w) override;
    std::string Caption(WindowId w) override;
    WindowId Owner(WindowId w) override;
    bool IsOwnWindow(WindowId w) override;
    void SetTopmost(WindowId w, bool above, bool show) override { x11_.SetTopmost(w, above, show); }
    // The unseen window is none to bring forward: it is active while no X11 window is.
    void RequestActivate(WindowId w) override;
    WindowId ActiveWindow() override;
    bool WaitActive(WindowId w, int timeoutMs) override;
    void WaitHandedBack(WindowId w) override;
    void RunEventsFor(int ms) override { x11_.RunEventsFor(ms); }
    bool IsMinimized(WindowId w) override;
    void Restore(WindowId w) override;
    bool Place(WindowId w, int& x, int& y, int& width, int& height) override;

    // The X11 window that has the keyboard; 0 when a Wayland window (or none) has it.
    WindowId X11Active();

  private:
    X11WindowStack& x11_;
};

class GnomeDesktop : private KeyChannel {
  public:
    // The desktop where the program runs through XWayland in GNOME's session, with the portal's
    // keyboard; null elsewhere. It names the program to the portal as `appId` (its desktop
    // file's name) on a connection of its own first: the portal takes the name only before any
    // other call there (Qt's desktop theme may read the portal's settings on the shared one as
    // the program starts).
    static std::unique_ptr<GnomeDesktop> InSession(const QString& appId);

    ~GnomeDesktop() override;
    GnomeDesktop(const GnomeDesktop&) = delete;
    GnomeDesktop& operator=(const GnomeDesktop&) = delete;

    Desktop Parts() { return {windows_, x11_.keyboard(), x11_.clipboard()}; }
    GlobalShortcut& shortcut() { return shortcut_; }

    // How the program explains, before GNOME's own dialog first asks the user, why it asks
    // (true to go on and ask), and how it tells the user something.
    void SetMessages(std::function<bool(const std::string&)> explain,
                     std::function<void(const std::string&)> tell) {
        explain_ = std::move(explain);
        tell_ = std::move(tell);
    }

  private:
    explicit GnomeDesktop(std::unique_ptr<PrivateBus> bus);

    bool Ready() override;
    bool Open() override;
    bool FocusHeld() override { return windows_.X11Active() == 0; }
    bool Key(std::uint32_t evdev, bool pressed) override { return portal_.Key(evdev, pressed); }

    std::unique_ptr<PrivateBus> bus_;  // before all that speaks on it
    X11Desktop x11_;
    GnomeWindowStack windows_{x11_.windows()};
    RemoteDesktopPortal portal_;
    PortalShortcut shortcut_{bus_->bus()};
    std::function<bool(const std::string&)> explain_;
    std::function<void(const std::string&)> tell_;
};

// Texts of the consent: why GNOME asks, then how long it keeps the answer.
inline constexpr const char* MsgGnomeConsent =
    "GNOME では、Penrika がブラウザーに文字を入力するには、キーボード操作の許可が要ります。\r\n"
    "このあと GNOME の「リモートデスクトップ」の確認が開きます。リモートからの操作を許可する"
    "スイッチをオンにして、共有を選んでください。\r\n";
inline constexpr const char* MsgGnomeConsentKept =
    "許可は一度だけで、GNOME が覚えます。Penrika がキーを送るのは、記入のときだけです。";
// GNOME 43's portal keeps no consent from run to run.
inline constexpr const char* MsgGnomeConsentEachRun =
    "この GNOME は許可を覚えないため、この確認は Penrika を起動するたびに、最初の記入のときに"
    "開きます。許可は Penrika を終了するまで続きます。Penrika がキーを送るのは、記入のときだけ"
    "です。";
inline constexpr const char* MsgGnomeRefused =
    "キーボード操作が許可されなかったため、記入しませんでした。\r\n"
    "次に記入するとき、もう一度たずねます。";
inline constexpr const char* MsgGnomeUnavailable =
    "GNOME のリモートデスクトップの機能が使えないため、記入できません。";

}  // namespace platform
