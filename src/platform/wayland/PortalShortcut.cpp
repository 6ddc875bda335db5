#include "platform/wayland/PortalShortcut.h"

#include <xkbcommon/xkbcommon.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>
#include <optional>

#include "platform/qt/QtSupport.h"

namespace {

const char* const kService = "org.freedesktop.portal.Desktop";
const char* const kPath = "/org/freedesktop/portal/desktop";
const char* const kInterface = "org.freedesktop.portal.GlobalShortcuts";
// The one shortcut the program binds.
const char* const kFillId = "fill";
// A bind may wait for the user to answer the desktop's dialog.
constexpr int kAnswerWithinMs = 60000;

// One entry of BindShortcuts' a(sa{sv}).
struct PortalShortcutEntry {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& a, const PortalShortcutEntry& s) {
    a.beginStructure();
    a << s.id << s.properties;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, PortalShortcutEntry& s) {
    a.beginStructure();
    a >> s.id >> s.properties;
    a.endStructure();
    return a;
}

}  // namespace

Q_DECLARE_METATYPE(PortalShortcutEntry)

namespace platform {

// Hears the portal's answers to requests and its presses.
class PortalShortcut::Listener : public QObject {
    Q_OBJECT
  public:
    explicit Listener(PortalShortcut& owner) : owner_(owner) {}

    // Calls `method` with `args` (whose last is the options map, which gets a handle token)
    // and waits for the request's answer: its response code and results; nullopt when none
    // came.
    std::optional<std::pair<uint, QVariantMap>> Request(const QString& method, QVariantList args) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        const QString token = NewToken();
        QString sender = bus.baseService().mid(1);
        sender.replace('.', '_');
        const QString request =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
        QVariantMap options = args.takeLast().toMap();
        options.insert(QStringLiteral("handle_token"), token);
        args << options;
        // Listening before asking: the answer may come before the call returns.
        answered_.reset();
        bus.connect(kService, request, "org.freedesktop.portal.Request", "Response", this,
                    SLOT(onResponse(uint, QVariantMap)));
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
        call.setArguments(args);
        const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            bus.disconnect(kService, request, "org.freedesktop.portal.Request", "Response", this,
                           SLOT(onResponse(uint, QVariantMap)));
            return std::nullopt;
        }
        RunEventsUntil([this] { return answered_.has_value(); }, kAnswerWithinMs, 50);
        bus.disconnect(kService, request, "org.freedesktop.portal.Request", "Response", this,
                       SLOT(onResponse(uint, QVariantMap)));
        return answered_;
    }

    // A token no other request or session of this program has had.
    QString NewToken() { return QStringLiteral("penrika%1").arg(++tokens_); }

  public slots:
    void onResponse(uint response, const QVariantMap& results) {
        answered_ = std::make_pair(response, results);
    }
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                     const QVariantMap&) {
        if (session.path() != owner_.session_ || id != QLatin1String(kFillId)) return;
        // After this signal: the fill runs event loops of its own.
        QTimer::singleShot(0, this, [this] { owner_.Pressed(); });
    }

  private:
    PortalShortcut& owner_;
    std::optional<std::pair<uint, QVariantMap>> answered_;
    int tokens_ = 0;
};

PortalShortcut::PortalShortcut() : listener_(std::make_unique<Listener>(*this)) {
    qDBusRegisterMetaType<PortalShortcutEntry>();
    qDBusRegisterMetaType<QList<PortalShortcutEntry>>();
    QDBusConnection::sessionBus().connect(
        kService, kPath, kInterface, "Activated", listener_.get(),
        SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
}

PortalShortcut::~PortalShortcut() {
    Take("");
}

bool PortalShortcut::Available() {
    QDBusMessage get =
        QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Properties", "Get");
    get << QString(kInterface) << QStringLiteral("version");
    // The first question may start the portal and its desktop's backend.
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 10000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

QString PortalShortcut::Trigger(const std::string& sequence) {
    const std::optional<QKeyCombination> parsed = ShortcutCombination(sequence);
    if (!parsed) return {};
    const QKeyCombination combo = *parsed;
    const unsigned sym = QtKeyToKeysym(combo.key());
    char name[64];
    if (!sym || xkb_keysym_get_name(sym, name, sizeof name) <= 0) return {};
    QString trigger;
    const Qt::KeyboardModifiers m = combo.keyboardModifiers();
    if (m & Qt::ControlModifier) trigger += QStringLiteral("CTRL+");
    if (m & Qt::AltModifier) trigger += QStringLiteral("ALT+");
    if (m & Qt::ShiftModifier) trigger += QStringLiteral("SHIFT+");
    if (m & Qt::MetaModifier) trigger += QStringLiteral("LOGO+");
    return trigger + QString::fromLatin1(name);
}

GlobalShortcut::Outcome PortalShortcut::Take(const std::string& sequence) {
    auto close = [](const QString& session) {
        if (session.isEmpty()) return;
        QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(kService, session, "org.freedesktop.portal.Session",
                                           "Close"),
            QDBus::Block, 3000);
    };
    if (sequence.empty()) {
        close(session_);
        session_.clear();
        return Outcome::Released;
    }
    const QString trigger = Trigger(sequence);
    if (trigger.isEmpty()) return Outcome::Invalid;
    if (!Available()) return Outcome::Unsupported;
    // A session binds once: a new combination gets a session of its own (named apart from the
    // old one, still open), and the old one goes only once the new one holds.
    QVariantMap sessionOptions{{QStringLiteral("session_handle_token"), listener_->NewToken()}};
    const auto made = listener_->Request(QStringLiteral("CreateSession"), {sessionOptions});
    if (!made || made->first != 0) return Outcome::Unsupported;
    const QString session = made->second.value(QStringLiteral("session_handle")).toString();
    if (session.isEmpty()) return Outcome::Unsupported;
    const PortalShortcutEntry fill{
        kFillId,
        {{QStringLiteral("description"), QString::fromUtf8("ブラウザーのフォームに記入する")},
         {QStringLiteral("preferred_trigger"), trigger}}};
    const auto bound = listener_->Request(
        QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(session)),
         QVariant::fromValue(QList<PortalShortcutEntry>{fill}), QString(), QVariantMap()});
    // Bound is what the desktop lists back, whatever its answer's code: a portal may answer
    // yes and bind nothing (KDE's of Plasma 5), or bind and leave the code unset (GNOME's 48.0,
    // which then most often sends 2).
    bool listed = false;
    if (bound && bound->second.contains(QStringLiteral("shortcuts"))) {
        const QDBusArgument list =
            bound->second.value(QStringLiteral("shortcuts")).value<QDBusArgument>();
        QList<PortalShortcutEntry> shortcuts;
        list >> shortcuts;
        for (const PortalShortcutEntry& s : shortcuts) listed |= s.id == QLatin1String(kFillId);
    }
    if (!listed) {
        close(session);
        return Outcome::Unsupported;
    }
    close(session_);
    session_ = session;
    return Outcome::Taken;
}

}  // namespace platform

#include "PortalShortcut.moc"
