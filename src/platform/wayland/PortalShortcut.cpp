#include "platform/wayland/PortalShortcut.h"

#include <xkbcommon/xkbcommon.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QEventLoop>
#include <QTimer>
#include <optional>

#include "platform/qt/QtSupport.h"
#include "platform/wayland/PortalRequest.h"

namespace {

const char* const kInterface = "org.freedesktop.portal.GlobalShortcuts";
// The one shortcut the program binds.
const char* const kFillId = "fill";
// A bind may wait for the user to answer the desktop's dialog.
constexpr int kAnswerWithinMs = 60000;
// With the fill at the release: how long a release may take to be heard.
constexpr int kReleaseWithinMs = 1500;

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
    explicit Listener(PortalShortcut& owner) : requests(owner.bus_), owner_(owner) {}

    PortalRequests requests;

  public slots:
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                     const QVariantMap&) {
        if (session.path() != owner_.session_ || id != QLatin1String(kFillId)) return;
        if (!owner_.onRelease_) {
            // After this signal: the fill runs event loops of its own.
            QTimer::singleShot(0, this, [this] { owner_.Pressed(); });
            return;
        }
        // The release comes as Deactivated; a desktop that never sends it is not waited for
        // long.
        pending_ = true;
        QTimer::singleShot(kReleaseWithinMs, this, [this] { Fire(); });
    }
    void onDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                       const QVariantMap&) {
        if (session.path() != owner_.session_ || id != QLatin1String(kFillId)) return;
        if (pending_) QTimer::singleShot(0, this, [this] { Fire(); });
    }

  private:
    void Fire() {
        if (!pending_) return;
        pending_ = false;
        owner_.Pressed();
    }

    PortalShortcut& owner_;
    bool pending_ = false;  // pressed, the release not yet heard
};

PortalShortcut::PortalShortcut(QDBusConnection bus)
    : bus_(bus), listener_(std::make_unique<Listener>(*this)) {
    qDBusRegisterMetaType<PortalShortcutEntry>();
    qDBusRegisterMetaType<QList<PortalShortcutEntry>>();
    bus_.connect(
        kPortalService, kPortalPath, kInterface, "Activated", listener_.get(),
        SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    bus_.connect(
        kPortalService, kPortalPath, kInterface, "Deactivated", listener_.get(),
        SLOT(onDeactivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
}

PortalShortcut::~PortalShortcut() {
    Take("");
}

bool PortalShortcut::Available() {
    return PortalProperty(bus_, kInterface, QStringLiteral("version")).has_value();
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
    auto close = [this](const QString& session) {
        if (session.isEmpty()) return;
        bus_.call(
            QDBusMessage::createMethodCall(kPortalService, session, "org.freedesktop.portal.Session",
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
    QVariantMap sessionOptions{{QStringLiteral("session_handle_token"), listener_->requests.NewToken()}};
    const auto made = listener_->requests.Call(kInterface, QStringLiteral("CreateSession"), {sessionOptions},
                                                 kAnswerWithinMs);
    if (!made || made->first != 0) return Outcome::Unsupported;
    const QString session = made->second.value(QStringLiteral("session_handle")).toString();
    if (session.isEmpty()) return Outcome::Unsupported;
    const PortalShortcutEntry fill{
        kFillId,
        {{QStringLiteral("description"), QString::fromUtf8("ブラウザーのフォームに記入する")},
         {QStringLiteral("preferred_trigger"), trigger}}};
    const auto bound = listener_->requests.Call(
        kInterface, QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(session)),
         QVariant::fromValue(QList<PortalShortcutEntry>{fill}), QString(), QVariantMap()},
        kAnswerWithinMs);
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
