// One call to the desktop portal whose answer comes later, as the Response signal of a request
// object the call names (handle_token): the pattern of every portal method that may ask the user.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <optional>
#include <utility>

namespace platform {

inline constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";

// A property of the portal's `interface`; nullopt when the portal lacks it (or is not there).
// The first question may start the portal and its desktop's backend.
std::optional<QVariant> PortalProperty(QDBusConnection bus, const QString& interface,
                                       const QString& name, int answerWithinMs = 10000);

class PortalRequests : public QObject {
    Q_OBJECT
  public:
    explicit PortalRequests(QDBusConnection bus) : bus_(std::move(bus)) {}

    // Calls `method` of `interface` with `args` (whose last is the options map, which gets a
    // handle token) and waits, running the event loop, up to `answerWithinMs` for the answer:
    // its response code (0 yes, 1 refused by the user, 2 otherwise ended) and results; nullopt
    // when the call failed or no answer came.
    std::optional<std::pair<uint, QVariantMap>> Call(const QString& interface,
                                                     const QString& method, QVariantList args,
                                                     int answerWithinMs);
    // A token no other request or session of this program has had, of whichever caller: the
    // portal names requests and sessions by the connection and token alone, and refuses a name
    // in use.
    static QString NewToken() { return QStringLiteral("penrika%1").arg(++tokens_); }
    QDBusConnection& bus() { return bus_; }

  private slots:
    void onResponse(uint response, const QVariantMap& results) {
        answered_ = std::make_pair(response, results);
    }

  private:
    QDBusConnection bus_;
    std::optional<std::pair<uint, QVariantMap>> answered_;
    static inline int tokens_ = 0;
};

}  // namespace platform
