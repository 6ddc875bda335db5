#include "platform/posix/InputMethodSwitch.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QString>
#include <dbus/dbus.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/posix/PrivateBus.h"

namespace platform {
namespace {
const char* const kService = "org.fcitx.Fcitx5";
const char* const kPath = "/controller";
const char* const kInterface = "org.fcitx.Fcitx.Controller1";
// fcitx5 answers at once; a bus that hangs must not hold the fill up for long.
constexpr int kCallTimeoutMs = 500;
// The field a fill has just moved into (the Tab after the label) tells the input method of its
// focus in its own time, even after the first keys have reached it (Firefox, cold caches). Until
// then fcitx5 answers for the context the focus left, and switching that one off leaves the
// field to come up with the input method on. It tells within 20 ms mostly; fields that take
// none never tell, and those wait the whole time.
constexpr int kFieldFocusWaitMs = 500;
constexpr int kFieldFocusPollMs = 10;
// A browser that is busy (a page loading, cold caches) has been seen to read keys 200 ms late;
// one that never hands them on (keys typed onto a button) must not keep the input method off
// for long.
constexpr int kHandOnWaitMs = 2000;
constexpr int kHandOnPollMs = 5;
}  // namespace

// Watches the session bus for the keys a browser's input method module hands fcitx5 (fcitx5's
// own D-Bus protocol, which the GTK and Qt modules speak): which keys it has read, in order.
// A bus monitor, so that nothing has to be asked of the browser or of fcitx5.
class InputMethodSwitch::KeyWatch {
  public:
    explicit KeyWatch(const std::string& address) {
        DBusError error;
        dbus_error_init(&error);
        c_ = dbus_connection_open_private(address.c_str(), &error);
        if (c_) {
            dbus_connection_set_exit_on_disconnect(c_, FALSE);
            if (!dbus_bus_register(c_, &error) || !BecomeMonitor()) Close();
        }
        dbus_error_free(&error);
    }
    ~KeyWatch() { Close(); }
    bool watching() const { return c_ != nullptr; }

    // Adds to `seen` the presses of `keycode` read since the last call.
    void Read(std::uint32_t keycode, int& seen) {
        if (!c_ || !dbus_connection_read_write(c_, 0)) return;
        while (DBusMessage* m = dbus_connection_pop_message(c_)) {
            const char* member = dbus_message_get_member(m);
            const char* interface = dbus_message_get_interface(m);
            dbus_uint32_t keyval = 0, code = 0, state = 0;
            dbus_bool_t release = FALSE;
            // ProcessKeyEvent, or ProcessKeyEventBatch of newer modules: the same arguments.
            if (dbus_message_get_type(m) == DBUS_MESSAGE_TYPE_METHOD_CALL && member &&
                interface && std::strcmp(interface, kContextInterface) == 0 &&
                std::strncmp(member, "ProcessKeyEvent", 15) == 0 &&
                dbus_message_get_args(m, nullptr, DBUS_TYPE_UINT32, &keyval, DBUS_TYPE_UINT32,
                                      &code, DBUS_TYPE_UINT32, &state, DBUS_TYPE_BOOLEAN,
                                      &release, DBUS_TYPE_INVALID) &&
                !release && code == keycode)
                ++seen;
            dbus_message_unref(m);
        }
    }

  private:
    static constexpr const char* kContextInterface = "org.fcitx.Fcitx.InputContext1";

    bool BecomeMonitor() {
        DBusMessage* call = dbus_message_new_method_call(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring",
            "BecomeMonitor");
        if (!call) return false;
        const std::string rule =
            std::string("type='method_call',interface='") + kContextInterface + "'";
        const char* rules[] = {rule.c_str()};
        const char** rulesArg = rules;
        dbus_uint32_t flags = 0;
        dbus_message_append_args(call, DBUS_TYPE_ARRAY, DBUS_TYPE_STRING, &rulesArg, 1,
                                 DBUS_TYPE_UINT32, &flags, DBUS_TYPE_INVALID);
        DBusError error;
        dbus_error_init(&error);
        DBusMessage* reply =
            dbus_connection_send_with_reply_and_block(c_, call, kCallTimeoutMs, &error);
        dbus_message_unref(call);
        dbus_error_free(&error);
        if (!reply) return false;
        dbus_message_unref(reply);
        return true;
    }
    void Close() {
        if (!c_) return;
        dbus_connection_close(c_);
        dbus_connection_unref(c_);
        c_ = nullptr;
    }

    DBusConnection* c_ = nullptr;
};

InputMethodSwitch::InputMethodSwitch(const std::string& busAddress)
    : bus_(std::make_unique<PrivateBus>(busAddress)) {
    if (!bus_->connected()) return;
    std::string focused = FocusedContext();
    for (int waited = 0; focused.empty() && waited < kFieldFocusWaitMs;
         waited += kFieldFocusPollMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kFieldFocusPollMs));
        focused = FocusedContext();
    }
    const int state = State();
    if (state == 0 || state == 1) {
        found_ = Found::Off;
    } else if (state == 2 && Call("Deactivate") && State() == 1) {
        found_ = Found::SwitchedOff;
        // Keys that reach fcitx5 through the compositor (Wayland's input method protocol) or
        // XIM pass by no bus.
        if (focused.find(" frontend:dbus ") != std::string::npos) {
            watch_ = std::make_unique<KeyWatch>(bus_->address());
            if (!watch_->watching()) watch_.reset();
        }
    }
}

void InputMethodSwitch::Pressed(std::uint32_t keycode) {
    if (found_ != Found::SwitchedOff) return;
    ++pressed_[keycode];
    lastPressed_ = keycode;
}

void InputMethodSwitch::WaitKeysHandedOn(int fallbackMs, const std::function<void(int)>& pause) {
    if (found_ != Found::SwitchedOff || !lastPressed_) return;
    if (!watch_) {
        pause(fallbackMs);
        return;
    }
    // The browser hands keys on in the order it read them: once the last has gone, all have.
    int seen = 0;
    for (int waited = 0; waited < kHandOnWaitMs; waited += kHandOnPollMs) {
        watch_->Read(lastPressed_, seen);
        if (seen >= pressed_[lastPressed_]) break;
        pause(kHandOnPollMs);
    }
    // fcitx5 is still to act on the last one when the browser has sent it.
    pause(kHandOnPollMs);
}

InputMethodSwitch::~InputMethodSwitch() {
    if (found_ == Found::SwitchedOff) Call("Activate");
}

int InputMethodSwitch::State() {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "State");
    QDBusReply<int> reply = bus_->bus().call(call, QDBus::Block, kCallTimeoutMs);
    return reply.isValid() ? reply.value() : -1;
}

std::string InputMethodSwitch::FocusedContext() {
    // fcitx5 says which of its contexts has the focus only in its report for people, a line
    // per context ("IC [...] program:firefox-esr frontend:dbus cap:... focus:1").
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "DebugInfo");
    QDBusReply<QString> reply = bus_->bus().call(call, QDBus::Block, kCallTimeoutMs);
    if (!reply.isValid()) return "?";
    for (const QString& line : reply.value().split(QLatin1Char('\n'))) {
        if (line.contains(QLatin1String(" focus:1"))) return line.toStdString() + " ";
    }
    return {};
}

bool InputMethodSwitch::Call(const char* method) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    return bus_->bus().call(call, QDBus::Block, kCallTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

}  // namespace platform
