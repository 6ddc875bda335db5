// The session's input method (fcitx5), switched off for the length of a fill and put back as
// it was. With mozc on, letters typed on the keyboard's own keys would become kana; switched
// off, the page sees each key as the key it is.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>


namespace platform {

class PrivateBus;

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
    // The keyboard tells of each key it presses while the input method is off (XKB keycode).
    void Pressed(std::uint32_t keycode);
    // Before the input method goes back on: waits until the browser has handed it the last key
    // pressed, `pause` letting events run meanwhile. A busy browser reads keys late, and an
    // input method switched on before then takes them. Where the hand-over cannot be watched,
    // waits `fallbackMs`.
    void WaitKeysHandedOn(int fallbackMs, const std::function<void(int)>& pause);
    // Before the same key again: waits until the browser has handed the input method the last
    // press and release of `keycode` and the input method has answered them. Firefox takes a
    // key that comes while the input method still owes it the answer about the same key for
    // that one, and one of them is lost. Where the hand-over cannot be watched, returns at once.
    void WaitKeyAnswered(std::uint32_t keycode, const std::function<void(int)>& pause);

  private:
    int State();  // fcitx5's: 0 no input context, 1 off, 2 on; -1 when it does not answer
    bool Call(const char* method);
    std::string InputMethodName();  // fcitx5's unique name on the bus; empty when none
    // fcitx5's line on the context with the focus; empty when none has it, "?" when fcitx5
    // does not say.
    std::string FocusedContext();
    class KeyWatch;

    std::unique_ptr<PrivateBus> bus_;
    Found found_ = Found::Unknown;
    std::unique_ptr<KeyWatch> watch_;
    std::map<std::uint32_t, int> pressed_;
    std::uint32_t lastPressed_ = 0;
};

}  // namespace platform
