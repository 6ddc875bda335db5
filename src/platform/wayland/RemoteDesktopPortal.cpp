#include "platform/wayland/RemoteDesktopPortal.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <fstream>

#include "platform/AtomicFile.h"
#include "platform/wayland/PortalRequest.h"

namespace platform {

namespace {
const char* const kInterface = "org.freedesktop.portal.RemoteDesktop";
constexpr uint kKeyboard = 1;
// The desktop keeps the consent until the user withdraws it.
constexpr uint kPersistUntilRevoked = 2;
// Setting up the session asks nobody; only Start may wait for the user.
constexpr int kQuickAnswerMs = 10000;
// Kept in the token's stead when the desktop handed back none (it keeps no consent, or the user
// asked it not to): never handed in.
const char* const kNoToken = "-";
}  // namespace

RemoteDesktopPortal::RemoteDesktopPortal(QDBusConnection bus, std::filesystem::path tokenFile)
    : bus_(bus), tokenFile_(std::move(tokenFile)), requests_(std::make_unique<PortalRequests>(bus)) {}

RemoteDesktopPortal::~RemoteDesktopPortal() {
    Close();
}

bool RemoteDesktopPortal::Register(QDBusConnection bus, const QString& appId) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kPortalService, kPortalPath, "org.freedesktop.host.portal.Registry", "Register");
    call << appId << QVariantMap();
    return bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

bool RemoteDesktopPortal::Available(QDBusConnection bus) {
    const std::optional<QVariant> types =
        PortalProperty(bus, kInterface, QStringLiteral("AvailableDeviceTypes"));
    return types && (types->toUInt() & kKeyboard);
}

bool RemoteDesktopPortal::HasConsent() const {
    std::ifstream in(tokenFile_);
    std::string token;
    return std::getline(in, token) && !token.empty();
}

bool RemoteDesktopPortal::KeepsConsent() {
    // Restore tokens came with version 2.
    if (!keepsConsent_) {
        const std::optional<QVariant> version =
            PortalProperty(bus_, kInterface, QStringLiteral("version"), kQuickAnswerMs);
        keepsConsent_ = version && version->toUInt() >= 2;
    }
    return *keepsConsent_;
}

RemoteDesktopPortal::Outcome RemoteDesktopPortal::Start(int answerWithinMs) {
    if (started()) return Outcome::Started;
    std::string token;
    {
        std::ifstream in(tokenFile_);
        std::getline(in, token);
    }
    const auto made = requests_->Call(
        kInterface, QStringLiteral("CreateSession"),
        {QVariantMap{{QStringLiteral("session_handle_token"), requests_->NewToken()}}},
        kQuickAnswerMs);
    if (!made || made->first != 0) return Outcome::Failed;
    const QString session = made->second.value(QStringLiteral("session_handle")).toString();
    if (session.isEmpty()) return Outcome::Failed;
    auto fail = [&](Outcome o) {
        bus_.call(QDBusMessage::createMethodCall(kPortalService, session,
                                                 "org.freedesktop.portal.Session", "Close"),
                  QDBus::Block, 3000);
        return o;
    };
    QVariantMap devices{{QStringLiteral("types"), kKeyboard},
                        {QStringLiteral("persist_mode"), kPersistUntilRevoked}};
    if (!token.empty() && token != kNoToken)
        devices.insert(QStringLiteral("restore_token"), QString::fromStdString(token));
    const auto selected =
        requests_->Call(kInterface, QStringLiteral("SelectDevices"),
                        {QVariant::fromValue(QDBusObjectPath(session)), devices}, kQuickAnswerMs);
    if (!selected || selected->first != 0) return fail(Outcome::Failed);
    const auto start = requests_->Call(
        kInterface, QStringLiteral("Start"),
        {QVariant::fromValue(QDBusObjectPath(session)), QString(), QVariantMap()}, answerWithinMs);
    if (!start) return fail(Outcome::Failed);
    // A consent the user refused (or withdrew) is not asked for with its old token again.
    if (start->first != 0 ||
        !(start->second.value(QStringLiteral("devices")).toUInt() & kKeyboard)) {
        std::error_code ignored;
        if (start->first == 1) std::filesystem::remove(tokenFile_, ignored);
        return fail(start->first == 1 ? Outcome::Refused : Outcome::Failed);
    }
    // A token is good for one start: the next one needs the one handed back now.
    const QString handedBack = start->second.value(QStringLiteral("restore_token")).toString();
    const std::string next = handedBack.isEmpty() ? kNoToken : handedBack.toStdString();
    if (next != token) {
        std::error_code ignored;
        std::filesystem::create_directories(tokenFile_.parent_path(), ignored);
        ReplaceFile(tokenFile_, next + "\n");
    }
    session_ = session;
    return Outcome::Started;
}

bool RemoteDesktopPortal::Key(std::uint32_t evdev, bool pressed) {
    if (!started()) return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kPortalService, kPortalPath, kInterface,
                                       "NotifyKeyboardKeycode");
    call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap()
         << static_cast<int>(evdev) << static_cast<uint>(pressed ? 1 : 0);
    // Answered once the portal has passed the key on to the desktop, in order, not once the
    // desktop has handled it: a few keys may still be on their way when the focus changes.
    // Refused when the session has ended (the user stopped it from the desktop's own
    // indicator): the next fill starts another.
    if (bus_.call(call, QDBus::Block, 3000).type() == QDBusMessage::ReplyMessage) return true;
    session_.clear();
    return false;
}

void RemoteDesktopPortal::Close() {
    if (session_.isEmpty()) return;
    bus_.call(QDBusMessage::createMethodCall(kPortalService, session_,
                                             "org.freedesktop.portal.Session", "Close"),
              QDBus::Block, 3000);
    session_.clear();
}

}  // namespace platform
