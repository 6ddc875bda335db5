// The fill shortcut through the desktop portal's GlobalShortcuts (KDE Plasma; GNOME from 48):
// the program names the combination it would like, the desktop binds it (and may let the user
// change or refuse it) and reports each press.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <memory>

#include "platform/GlobalShortcut.h"

namespace platform {

class PortalShortcut : public GlobalShortcut {
  public:
    // `bus`: where the program speaks to the portal. GNOME's binds only for a program that named
    // itself on that same connection first.
    explicit PortalShortcut(QDBusConnection bus = QDBusConnection::sessionBus());
    ~PortalShortcut() override;
    PortalShortcut(const PortalShortcut&) = delete;
    PortalShortcut& operator=(const PortalShortcut&) = delete;

    Outcome Take(const std::string& sequence) override;
    // Runs the fill at the combination's release rather than its press: for a desktop whose
    // keyboard cannot tell the program whether keys are still held (GNOME's, from XWayland), so
    // that the typed keys do not meet the user's Ctrl or Alt.
    void FireOnRelease(bool on) { onRelease_ = on; }

    // The portal's form of a combination in Qt's portable text ("Ctrl+Alt+K" → "CTRL+ALT+k");
    // empty when it has none.
    static QString Trigger(const std::string& sequence);

  private:
    // Whether the session's portal offers GlobalShortcuts.
    bool Available();

    QDBusConnection bus_;
    class Listener;
    std::unique_ptr<Listener> listener_;
    QString session_;  // the bound session's object path, empty when none
    bool onRelease_ = false;
};

}  // namespace platform
