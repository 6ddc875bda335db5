// The input method switch against a stand-in for fcitx5 on a private session bus, with a
// browser that hands our keys on to it late: no display needed.
#include "platform/posix/InputMethodSwitch.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QObject>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/TestBus.h"

using platform::InputMethodSwitch;

namespace {

// What fcitx5's controller answers, and what reached it or the browser's context, in order.
class FakeInputMethod : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.fcitx.Fcitx.Controller1")
  public:
    std::string frontend = "dbus";

    std::vector<std::string> Heard() {
        std::lock_guard<std::mutex> l(m_);
        return heard_;
    }
    void Hear(const std::string& what) {
        std::lock_guard<std::mutex> l(m_);
        heard_.push_back(what);
    }

  public slots:
    int State() { return on_ ? 2 : 1; }
    void Activate() {
        on_ = true;
        Hear("Activate");
    }
    void Deactivate() {
        on_ = false;
        Hear("Deactivate");
    }
    QString DebugInfo() {
        return QString::fromStdString("  IC [00] program:browser frontend:" + frontend +
                                      " cap:0 focus:1\n");
    }

  private:
    std::mutex m_;
    std::vector<std::string> heard_;
    bool on_ = true;
};

// The browser's context in fcitx5, which answers each key the browser hands it when told to:
// fcitx5 on a cold machine answers late.
class FakeContext : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.fcitx.Fcitx.InputContext1")
  public:
    // Answers the oldest key still waiting; false when none waits.
    bool AnswerOne() {
        std::lock_guard<std::mutex> l(m_);
        if (waiting_.empty()) return false;
        QDBusConnection(QStringLiteral("fake-fcitx5")).send(waiting_.front().createReply(false));
        waiting_.erase(waiting_.begin());
        return true;
    }

  public slots:
    bool ProcessKeyEvent(uint, uint, uint, bool, uint, const QDBusMessage& call) {
        call.setDelayedReply(true);
        std::lock_guard<std::mutex> l(m_);
        waiting_.push_back(call);
        return false;
    }

  private:
    std::mutex m_;
    std::vector<QDBusMessage> waiting_;
};

class InputMethodSwitchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(bus_.address().empty()) << "no private session bus";
        ASSERT_TRUE(bus_.Serve("org.fcitx.Fcitx5",
                               {{"/controller", &im_}, {"/inputcontext/1", &context_}}));
    }
    // Each test's bus is its own: the next must not find this one's connection.
    void TearDown() override { QDBusConnection::disconnectFromBus("browser"); }
    // A key of the browser's, handed to the input method as its module does, which waits for
    // the answer in its own time.
    void BrowserHandsOn(unsigned keycode, bool release = false) {
        QDBusConnection bus = bus_.Connect("browser");
        QDBusMessage call = QDBusMessage::createMethodCall(
            "org.fcitx.Fcitx5", "/inputcontext/1", "org.fcitx.Fcitx.InputContext1",
            "ProcessKeyEvent");
        call << 0u << keycode << 0u << release << 0u;
        bus.asyncCall(call);
        if (!release) im_.Hear("key " + std::to_string(keycode));
    }

    FakeInputMethod im_;
    FakeContext context_;
    TestBus bus_;  // after what it serves: it stops serving first
};

// A busy browser reads the last keys of a fill late: the input method goes back on only once
// they have reached it, and only once the same key has come as often as it was pressed.
TEST_F(InputMethodSwitchTest, ComesBackOnOnlyAfterTheBrowserHasHandedOnTheLastKey) {
    {
        InputMethodSwitch imOff(bus_.address());
        ASSERT_EQ(imOff.found(), InputMethodSwitch::Found::SwitchedOff);
        imOff.Pressed(10);
        imOff.Pressed(23);
        imOff.Pressed(23);
        int pauses = 0;
        imOff.WaitKeysHandedOn(50, [&](int) {
            // The browser catches up after a while, one key at a time.
            if (++pauses == 20) BrowserHandsOn(10);
            if (pauses == 40) BrowserHandsOn(23);
            if (pauses == 60) BrowserHandsOn(23);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    }
    EXPECT_EQ(im_.Heard(), (std::vector<std::string>{"Deactivate", "key 10", "key 23", "key 23",
                                                      "Activate"}));

    // A browser that never hands the key on holds the input method off for a bounded while.
    {
        InputMethodSwitch imOff(bus_.address());
        imOff.Pressed(36);
        const auto start = std::chrono::steady_clock::now();
        imOff.WaitKeysHandedOn(50, [](int ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        });
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
    EXPECT_EQ(im_.Heard().back(), "Activate");
}

// Firefox loses one of two presses of a key when the second comes before fcitx5 has answered
// about the first: the same key again waits for the answers about both halves of the last one.
TEST_F(InputMethodSwitchTest, TheSameKeyAgainWaitsUntilTheInputMethodHasAnsweredTheLast) {
    InputMethodSwitch imOff(bus_.address());
    ASSERT_EQ(imOff.found(), InputMethodSwitch::Found::SwitchedOff);
    imOff.Pressed(19);
    int pauses = 0, answered = 0;
    imOff.WaitKeyAnswered(19, [&](int) {
        ++pauses;
        if (pauses == 10) BrowserHandsOn(19);
        if (pauses == 20) BrowserHandsOn(19, true);
        // The press answered first, the release a while later: one answer is not enough.
        if (pauses >= 40 + 20 * answered && answered < 2 && context_.AnswerOne()) ++answered;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    EXPECT_EQ(answered, 2);

    // A key the browser never hands on (the text tabbed onto a button) holds the next one up
    // for a bounded while only.
    imOff.Pressed(19);
    const auto start = std::chrono::steady_clock::now();
    imOff.WaitKeyAnswered(19, [](int ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// Keys that reach the input method through the compositor pass by no bus: the switch waits its
// fixed while instead of watching.
TEST_F(InputMethodSwitchTest, AContextOffTheBusGetsTheFixedWait) {
    im_.frontend = "wayland_v2";
    InputMethodSwitch imOff(bus_.address());
    ASSERT_EQ(imOff.found(), InputMethodSwitch::Found::SwitchedOff);
    imOff.Pressed(23);
    std::vector<int> pauses;
    imOff.WaitKeysHandedOn(50, [&](int ms) { pauses.push_back(ms); });
    EXPECT_EQ(pauses, std::vector<int>{50});
}

}  // namespace

#include "InputMethodSwitch_test.moc"
