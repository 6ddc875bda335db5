#include "platform/posix/InputMethodSwitch.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QString>
#include <dbus/dbus.h>

#include <algorithm>
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
// The same key again waits for the answer about the last one at most this long.
constexpr int kAnswerWaitMs = 500;
}  // namespace

// Watches the session bus for the keys a browser's input method module hands fcitx5 (fcitx5's
// own D-Bus protocol, which the GTK and Qt modules speak) and for fcitx5's answers: which keys
// it has read, in order, and which are still waiting for the input method. A bus monitor, so
// that nothing has to be asked of the browser or of fcitx5.
class InputMethodSwitch::KeyWatch {
  public:
    struct Count {
        int presses = 0, releases = 0;
    };

    KeyWatch(const std::string& address, const std::string& inputMethod) {
        DBusError error;
        dbus_error_init(&error);
        c_ = dbus_connection_open_private(address.c_str(), &error);
        if (c_) {
            dbus_connection_set_exit_on_disconnect(c_, FALSE);
            if (!dbus_bus_register(c_, &error) || !BecomeMonitor(inputMethod)) Close();
        }
        dbus_error_free(&error);
    }
    ~KeyWatch() { Close(); }
    bool watching() const { return c_ != nullptr; }

    // What has passed the bus about `keycode` so far.
    const Count& Read(std::uint32_t keycode) {
        if (c_ && dbus_connection_read_write(c_, 0)) {
            while (DBusMessage* m = dbus_connection_pop_message(c_)) {
                Take(m);
                dbus_message_unref(m);
            }
        }
        return counts_[keycode];
    }
    // Whether fcitx5 still owes the browser an answer about `keycode` (after a Read).
    bool Unanswered(std::uint32_t keycode) const {
        return std::any_of(calls_.begin(), calls_.end(),
                           [keycode](const auto& call) { return call.second == keycode; });
    }
    // Counts the keys the browser never handed on as handed on and answered, so that later
    // waits measure from here.
    void Forgive(std::uint32_t keycode, int pressed) {
        Count& c = counts_[keycode];
        c.presses = std::max(c.presses, pressed);
        c.releases = std::max(c.releases, pressed);
        for (auto i = calls_.begin(); i != calls_.end();)
            i = i->second == keycode ? calls_.erase(i) : std::next(i);
    }

  private:
    static constexpr const char* kContextInterface = "org.fcitx.Fcitx.InputContext1";
    using CallId = std::pair<std::string, dbus_uint32_t>;  // the caller, its serial

    void Take(DBusMessage* m) {
        const int type = dbus_message_get_type(m);
        if (type == DBUS_MESSAGE_TYPE_METHOD_CALL) {
            const char* member = dbus_message_get_member(m);
            const char* interface = dbus_message_get_interface(m);
            const char* sender = dbus_message_get_sender(m);
            dbus_uint32_t keyval = 0, code = 0, state = 0;
            dbus_bool_t release = FALSE;
            // ProcessKeyEvent, or ProcessKeyEventBatch of newer modules: the same arguments.
            if (member && interface && sender && std::strcmp(interface, kContextInterface) == 0 &&
                std::strncmp(member, "ProcessKeyEvent", 15) == 0 &&
                dbus_message_get_args(m, nullptr, DBUS_TYPE_UINT32, &keyval, DBUS_TYPE_UINT32,
                                      &code, DBUS_TYPE_UINT32, &state, DBUS_TYPE_BOOLEAN,
                                      &release, DBUS_TYPE_INVALID)) {
                Count& c = counts_[code];
                ++(release ? c.releases : c.presses);
                if (!dbus_message_get_no_reply(m))
                    calls_[{sender, dbus_message_get_serial(m)}] = code;
            }
        } else if (type == DBUS_MESSAGE_TYPE_METHOD_RETURN || type == DBUS_MESSAGE_TYPE_ERROR) {
            const char* to = dbus_message_get_destination(m);
            if (to) calls_.erase({to, dbus_message_get_reply_serial(m)});
        }
    }

    bool BecomeMonitor(const std::string& inputMethod) {
        DBusMessage* call = dbus_message_new_method_call(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring",
            "BecomeMonitor");
        if (!call) return false;
        const std::string calls =
            std::string("type='method_call',interface='") + kContextInterface + "'";
        const std::string returns = "type='method_return',sender='" + inputMethod + "'";
        const std::string errors = "type='error',sender='" + inputMethod + "'";
        const char* rules[] = {calls.c_str(), returns.c_str(), errors.c_str()};
        const char** rulesArg = rules;
        dbus_uint32_t flags = 0;
        dbus_message_append_args(call, DBUS_TYPE_ARRAY, DBUS_TYPE_STRING, &rulesArg,
                                 inputMethod.empty() ? 1 : 3, DBUS_TYPE_UINT32, &flags,
                                 DBUS_TYPE_INVALID);
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
    std::map<std::uint32_t, Count> counts_;
    std::map<CallId, std::uint32_t> calls_;  // unanswered calls, by the key they carry
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
            watch_ = std::make_unique<KeyWatch>(bus_->address(), InputMethodName());
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
    for (int waited = 0; waited < kHandOnWaitMs; waited += kHandOnPollMs) {
        if (watch_->Read(lastPressed_).presses >= pressed_[lastPressed_]) break;
        pause(kHandOnPollMs);
    }
    // fcitx5 is still to act on the last one when the browser has sent it.
    pause(kHandOnPollMs);
}

void InputMethodSwitch::WaitKeyAnswered(std::uint32_t keycode,
                                        const std::function<void(int)>& pause) {
    if (found_ != Found::SwitchedOff || !watch_) return;
    const int pressed = pressed_[keycode];
    for (int waited = 0; waited < kAnswerWaitMs; waited += kHandOnPollMs) {
        const KeyWatch::Count& c = watch_->Read(keycode);
        if (c.presses >= pressed && c.releases >= pressed && !watch_->Unanswered(keycode))
            return;
        pause(kHandOnPollMs);
    }
    // A field that hands nothing on (a button the text tabbed onto) must not slow every key.
    watch_->Forgive(keycode, pressed);
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

std::string InputMethodSwitch::InputMethodName() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner");
    call << QString::fromLatin1(kService);
    QDBusReply<QString> reply = bus_->bus().call(call, QDBus::Block, kCallTimeoutMs);
    return reply.isValid() ? reply.value().toStdString() : std::string();
}

bool InputMethodSwitch::Call(const char* method) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    return bus_->bus().call(call, QDBus::Block, kCallTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

}  // namespace platform
