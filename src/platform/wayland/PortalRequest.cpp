#include "platform/wayland/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusVariant>

#include "platform/qt/QtSupport.h"

namespace platform {

std::optional<QVariant> PortalProperty(QDBusConnection bus, const QString& interface,
                                       const QString& name, int answerWithinMs) {
    QDBusMessage get = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << interface << name;
    const QDBusMessage reply = bus.call(get, QDBus::Block, answerWithinMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().first().value<QDBusVariant>().variant();
}

std::optional<std::pair<uint, QVariantMap>> PortalRequests::Call(const QString& interface,
                                                                 const QString& method,
                                                                 QVariantList args,
                                                                 int answerWithinMs) {
    const QString token = NewToken();
    QString sender = bus_.baseService().mid(1);
    sender.replace('.', '_');
    const QString request =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    QVariantMap options = args.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    args << options;
    // Listening before asking: the answer may come before the call returns.
    answered_.reset();
    auto listen = [&](bool on) {
        on ? bus_.connect(kPortalService, request, "org.freedesktop.portal.Request", "Response",
                          this, SLOT(onResponse(uint, QVariantMap)))
           : bus_.disconnect(kPortalService, request, "org.freedesktop.portal.Request",
                             "Response", this, SLOT(onResponse(uint, QVariantMap)));
    };
    listen(true);
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, interface, method);
    call.setArguments(args);
    const QDBusMessage reply = bus_.call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        RunEventsUntil([this] { return answered_.has_value(); }, answerWithinMs, 50);
    listen(false);
    return reply.type() == QDBusMessage::ReplyMessage ? answered_ : std::nullopt;
}

}  // namespace platform

#include "moc_PortalRequest.cpp"
