// The portal's keyboard against a stand-in for the desktop portal on a private session bus: the
// consent asked for once and kept by its token from run to run, a refusal that types nothing
// and is asked again, keys handed on by evdev code. No display needed.
#include "platform/wayland/RemoteDesktopPortal.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "support/TestBus.h"
#include "support/ScratchDir.h"
#include "support/TempHome.h"
#include "support/Wait.h"

using platform::RemoteDesktopPortal;

namespace {

// What the portal's RemoteDesktop answers: Start grants with `nextToken`, or is refused.
class FakeRemoteDesktop : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.RemoteDesktop")
    Q_PROPERTY(uint version READ version)
  public:
    std::atomic<bool> refuse{false};
    QString nextToken = "token-2";  // none: a portal that keeps no consent
    std::atomic<uint> portalVersion{2};
    uint version() const { return portalVersion; }

    std::vector<std::string> Heard() {
        std::lock_guard<std::mutex> l(m_);
        return heard_;
    }

  public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options) {
        Hear("CreateSession");
        // The portal names a session by the caller's connection and token, and refuses a name
        // in use; this one refuses any it has had (the program never hands one in twice).
        const QString token = options.value("session_handle_token").toString();
        {
            std::lock_guard<std::mutex> l(m_);
            if (!sessionTokens_.insert(message().service() + '/' + token).second) {
                sendErrorReply(QDBusError::InvalidArgs, "session " + token + " exists");
                return {};
            }
        }
        return Answer(options, 0,
                      {{"session_handle", QStringLiteral("/org/freedesktop/portal/desktop/session/1")}});
    }
    QDBusObjectPath SelectDevices(const QDBusObjectPath&, const QVariantMap& options) {
        Hear("SelectDevices types " + std::to_string(options.value("types").toUInt()) +
             " persist " + std::to_string(options.value("persist_mode").toUInt()) + " token '" +
             options.value("restore_token").toString().toStdString() + "'");
        return Answer(options, 0, {});
    }
    QDBusObjectPath Start(const QDBusObjectPath&, const QString&, const QVariantMap& options) {
        Hear("Start");
        if (refuse) return Answer(options, 1, {});
        QVariantMap granted{{"devices", 1u}};
        if (!nextToken.isEmpty()) granted.insert("restore_token", nextToken);
        return Answer(options, 0, granted);
    }
    void NotifyKeyboardKeycode(const QDBusObjectPath& session, const QVariantMap&, int keycode,
                               uint state) {
        Hear("key " + std::to_string(keycode) + (state ? " down" : " up") + " on " +
             session.path().toStdString());
    }

  private:
    void Hear(const std::string& what) {
        std::lock_guard<std::mutex> l(m_);
        heard_.push_back(what);
    }
    // The answer comes on the request object the call's handle token names.
    QDBusObjectPath Answer(const QVariantMap& options, uint response, const QVariantMap& results) {
        QString sender = message().service().mid(1);
        sender.replace('.', '_');
        const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                    .arg(sender, options.value("handle_token").toString());
        QDBusMessage signal =
            QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
        signal << response << results;
        connection().send(signal);
        return QDBusObjectPath(request);
    }

    std::mutex m_;
    std::vector<std::string> heard_;
    std::set<QString> sessionTokens_;
};

class RemoteDesktopPortalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(bus_.address().empty()) << "no private session bus";
        ASSERT_TRUE(bus_.Serve("org.freedesktop.portal.Desktop",
                               {{"/org/freedesktop/portal/desktop", &portal_}}));
    }
    void TearDown() override { QDBusConnection::disconnectFromBus("program"); }
    QDBusConnection Program() { return bus_.Connect("program"); }

    FakeRemoteDesktop portal_;
    TestBus bus_;  // after what it serves: it stops serving first
    ScratchDir dir_{"portal"};
};

// The first run asks (no token), keeps the token the desktop hands back and types through the
// session it started; the next run hands that token in (so the desktop does not ask again) and
// keeps the new one, since a token is good for one start.
TEST_F(RemoteDesktopPortalTest, TheConsentIsAskedOnceAndItsTokenKeptFromRunToRun) {
    const std::filesystem::path tokenFile = dir_.path() / "state" / "token";
    {
        RemoteDesktopPortal portal(Program(), tokenFile);
        EXPECT_FALSE(portal.HasConsent());
        portal_.nextToken = "token-1";
        ASSERT_EQ(portal.Start(5000), RemoteDesktopPortal::Outcome::Started);
        EXPECT_TRUE(portal.HasConsent());
        EXPECT_TRUE(portal.Key(30, true));
        EXPECT_TRUE(portal.Key(30, false));
    }
    EXPECT_EQ(TempHome::ReadFile(tokenFile), "token-1\n");
    {
        RemoteDesktopPortal portal(Program(), tokenFile);
        portal_.nextToken = "token-2";
        ASSERT_EQ(portal.Start(5000), RemoteDesktopPortal::Outcome::Started);
        // Started once for the run.
        ASSERT_EQ(portal.Start(5000), RemoteDesktopPortal::Outcome::Started);
    }
    EXPECT_EQ(TempHome::ReadFile(tokenFile), "token-2\n");
    const std::vector<std::string> expected = {
        "CreateSession",
        "SelectDevices types 1 persist 2 token ''",
        "Start",
        "key 30 down on /org/freedesktop/portal/desktop/session/1",
        "key 30 up on /org/freedesktop/portal/desktop/session/1",
        "CreateSession",
        "SelectDevices types 1 persist 2 token 'token-1'",
        "Start"};
    EXPECT_EQ(portal_.Heard(), expected);
}

// GNOME 43's portal (version 1) hands back no token and asks at every run's first start: the
// program keeps that the user allowed it (so as not to explain again), hands in no token, and
// starts again with the desktop's own dialog.
TEST_F(RemoteDesktopPortalTest, APortalThatKeepsNoConsentIsAskedEachRunWithoutAToken) {
    const std::filesystem::path tokenFile = dir_.path() / "token";
    portal_.portalVersion = 1;
    portal_.nextToken = "";
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        RemoteDesktopPortal portal(Program(), tokenFile);
        EXPECT_FALSE(portal.KeepsConsent());
        EXPECT_EQ(portal.HasConsent(), run > 0);
        ASSERT_EQ(portal.Start(5000), RemoteDesktopPortal::Outcome::Started);
        EXPECT_TRUE(portal.HasConsent());
    }
    const std::vector<std::string> heard = portal_.Heard();
    ASSERT_EQ(heard.size(), 6u);
    EXPECT_EQ(heard[1], "SelectDevices types 1 persist 2 token ''");
    EXPECT_EQ(heard[4], "SelectDevices types 1 persist 2 token ''");
    // The newer portal keeps it.
    portal_.portalVersion = 2;
    EXPECT_TRUE(RemoteDesktopPortal(Program(), tokenFile).KeepsConsent());
}

// Another of the program's callers of the portal on the same connection (the fill shortcut's)
// names its sessions apart, so that each starts.
TEST_F(RemoteDesktopPortalTest, TwoCallersOnOneConnectionNameTheirSessionsApart) {
    RemoteDesktopPortal first(Program(), dir_.path() / "first");
    RemoteDesktopPortal second(Program(), dir_.path() / "second");
    EXPECT_EQ(first.Start(5000), RemoteDesktopPortal::Outcome::Started);
    EXPECT_EQ(second.Start(5000), RemoteDesktopPortal::Outcome::Started);
}

// A refused consent types nothing, and its old token is not handed in again: the next fill asks
// anew (the user may have withdrawn the consent in the desktop's settings).
TEST_F(RemoteDesktopPortalTest, ARefusedConsentTypesNothingAndIsAskedAgain) {
    const std::filesystem::path tokenFile = dir_.path() / "token";
    TempHome::WriteFile(tokenFile, "withdrawn\n");
    RemoteDesktopPortal portal(Program(), tokenFile);
    EXPECT_TRUE(portal.HasConsent());
    portal_.refuse = true;
    EXPECT_EQ(portal.Start(5000), RemoteDesktopPortal::Outcome::Refused);
    EXPECT_FALSE(portal.started());
    EXPECT_FALSE(portal.Key(30, true));
    EXPECT_FALSE(portal.HasConsent());
    portal_.refuse = false;
    EXPECT_EQ(portal.Start(5000), RemoteDesktopPortal::Outcome::Started);
    const std::vector<std::string> heard = portal_.Heard();
    ASSERT_EQ(heard.size(), 6u);
    EXPECT_EQ(heard[1], "SelectDevices types 1 persist 2 token 'withdrawn'");
    EXPECT_EQ(heard[4], "SelectDevices types 1 persist 2 token ''");
}

}  // namespace

#include "RemoteDesktopPortal_test.moc"
