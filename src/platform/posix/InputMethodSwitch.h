// The session's input method (fcitx5), switched off for the length of a fill and put back as
// it was. With mozc on, letters typed on the keyboard's own keys would become kana; switched
// off, the page sees each key as the key it is.
#pragma once

#include <memory>
#include <string>

class QDBusConnection;

namespace platform {

class InputMethodSwitch {
  public:
    // What Off() found.
    enum class Found {
        Off,        // the input method was off already (or its field takes no input method)
        SwitchedOff,  // it was on and is off now; the destructor turns it on again
        Unknown,    // no fcitx5 answers on the session bus, or it would not switch off
    };
    // Asks the input method of the focused field to switch off. `busAddress` is the session
    // bus (empty: the one the environment names now).
    explicit InputMethodSwitch(const std::string& busAddress = {});
    // Puts the input method back on when it was switched off here.
    ~InputMethodSwitch();
    InputMethodSwitch(const InputMethodSwitch&) = delete;
    InputMethodSwitch& operator=(const InputMethodSwitch&) = delete;

    Found found() const { return found_; }
    // Keys typed on the keyboard's own keys now reach the field as themselves.
    bool KeysPassThrough() const { return found_ != Found::Unknown; }

  private:
    int State();  // fcitx5's: 0 no input context, 1 off, 2 on; -1 when it does not answer
    bool Call(const char* method);

    std::unique_ptr<QDBusConnection> bus_;
    std::string name_;
    Found found_ = Found::Unknown;
};

}  // namespace platform
