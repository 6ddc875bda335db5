#include "platform/posix/InputMethodSwitch.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace platform {
namespace {
const char* const kService = "org.fcitx.Fcitx5";
const char* const kPath = "/controller";
const char* const kInterface = "org.fcitx.Fcitx.Controller1";
// fcitx5 answers at once; a bus that hangs must not hold the fill up for long.
constexpr int kCallTimeoutMs = 500;
// The field a fill has just moved into (the Tab after the label) tells the input method of its
// focus in its own time, later on a busy machine; until then there is no context to switch off,
// and the field would come up with the input method on. Fields that take none never tell.
constexpr int kFieldFocusWaitMs = 250;
constexpr int kFieldFocusPollMs = 10;
}  // namespace

InputMethodSwitch::InputMethodSwitch(const std::string& busAddress) {
    // A private connection of our own, to the bus the environment names at this moment: the
    // session may have been started after this program.
    static std::atomic<int> serial{0};
    name_ = "penrika-input-method-" + std::to_string(++serial);
    std::string address = busAddress;
    if (address.empty()) {
        const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        if (!env || !*env) return;
        address = env;
    }
    bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(
        QString::fromStdString(address), QString::fromStdString(name_)));
    if (!bus_->isConnected()) return;
    int state = State();
    for (int waited = 0; state == 0 && waited < kFieldFocusWaitMs; waited += kFieldFocusPollMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kFieldFocusPollMs));
        state = State();
    }
    if (state == 0 || state == 1) {
        found_ = Found::Off;
    } else if (state == 2 && Call("Deactivate") && State() == 1) {
        found_ = Found::SwitchedOff;
    }
}

InputMethodSwitch::~InputMethodSwitch() {
    if (found_ == Found::SwitchedOff) Call("Activate");
    if (bus_) {
        bus_.reset();
        QDBusConnection::disconnectFromBus(QString::fromStdString(name_));
    }
}

int InputMethodSwitch::State() {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "State");
    QDBusReply<int> reply = bus_->call(call, QDBus::Block, kCallTimeoutMs);
    return reply.isValid() ? reply.value() : -1;
}

bool InputMethodSwitch::Call(const char* method) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    return bus_->call(call, QDBus::Block, kCallTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

}  // namespace platform
