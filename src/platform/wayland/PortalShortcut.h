// The fill shortcut through the desktop portal's GlobalShortcuts (KDE Plasma; GNOME from 48),
// on the session bus: the program names the combination it would like, the desktop binds it
// (and may let the user change or refuse it) and reports each press.
#pragma once

#include <QString>
#include <memory>

#include "platform/GlobalShortcut.h"

namespace platform {

class PortalShortcut : public GlobalShortcut {
  public:
    PortalShortcut();
    ~PortalShortcut() override;
    PortalShortcut(const PortalShortcut&) = delete;
    PortalShortcut& operator=(const PortalShortcut&) = delete;

    // Whether the session's portal offers GlobalShortcuts.
    static bool Available();
    Outcome Take(const std::string& sequence) override;
    // Runs the fill at the combination's release rather than its press: for a desktop whose
    // keyboard cannot tell the program whether keys are still held (GNOME's, from XWayland), so
    // that the typed keys do not meet the user's Ctrl or Alt.
    void FireOnRelease(bool on) { onRelease_ = on; }

    // The portal's form of a combination in Qt's portable text ("Ctrl+Alt+K" → "CTRL+ALT+k");
    // empty when it has none.
    static QString Trigger(const std::string& sequence);

  private:
    class Listener;
    std::unique_ptr<Listener> listener_;
    QString session_;  // the bound session's object path, empty when none
    bool onRelease_ = false;
};

}  // namespace platform
