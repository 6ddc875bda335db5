// One call to the desktop portal whose answer comes later, as the Response signal of a request
// object the call names (handle_token): the pattern of every portal method that may ask the user.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <optional>
#include <utility>

namespace platform {

inline constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";

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
    // A token no other request or session of this program has had.
    QString NewToken() { return QStringLiteral("penrika%1").arg(++tokens_); }
    QDBusConnection& bus() { return bus_; }

  private slots:
    void onResponse(uint response, const QVariantMap& results) {
        answered_ = std::make_pair(response, results);
    }

  private:
    QDBusConnection bus_;
    std::optional<std::pair<uint, QVariantMap>> answered_;
    int tokens_ = 0;
};

}  // namespace platform
