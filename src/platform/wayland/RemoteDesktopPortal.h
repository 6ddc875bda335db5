// Keys through the desktop portal's RemoteDesktop (GNOME's way of letting a program type into
// other programs' windows): one session for the program's run, started with the user's consent,
// which the desktop keeps against a token the program keeps in turn, so that the user is asked
// once and not at every start. An older portal (version 1, GNOME 43's) keeps none and asks at
// the first start of every run.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class PortalRequests;

class RemoteDesktopPortal {
  public:
    // `tokenFile`: where the consent's token is kept between runs.
    RemoteDesktopPortal(QDBusConnection bus, std::filesystem::path tokenFile);
    ~RemoteDesktopPortal();
    RemoteDesktopPortal(const RemoteDesktopPortal&) = delete;
    RemoteDesktopPortal& operator=(const RemoteDesktopPortal&) = delete;

    // Names the program to the portal by its desktop file's name, so that the consent is kept
    // for it; must come before any other call to the portal on this connection. False where
    // the portal has no registry or does not know the name (then it asks as for any program).
    static bool Register(QDBusConnection bus, const QString& appId);
    // Whether the session's portal offers RemoteDesktop with a keyboard.
    static bool Available(QDBusConnection bus);

    enum class Outcome { Started, Refused, Failed };
    // Starts the session unless it runs: silently with a consent the desktop still keeps, else
    // after the desktop's own dialog (up to `answerWithinMs` for the user's answer).
    Outcome Start(int answerWithinMs);
    bool started() const { return !session_.isEmpty(); }
    // Whether a consent was given before (a token is kept, or the mark of a consent a desktop
    // handed back no token for): the user has been told why the desktop asks.
    bool HasConsent() const;
    // Whether the desktop keeps a consent from run to run (a portal of version 2 or later);
    // else it asks at every run's start.
    bool KeepsConsent();

    // Presses or releases a key, by its evdev code. False when the portal refused it.
    bool Key(std::uint32_t evdev, bool pressed);

  private:
    void Close();

    QDBusConnection bus_;
    std::filesystem::path tokenFile_;
    std::unique_ptr<PortalRequests> requests_;
    QString session_;
    std::optional<bool> keepsConsent_;
};

}  // namespace platform
