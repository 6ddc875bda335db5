// Typing on KWin through its fake input device (org_kde_kwin_fake_input). It presses keycodes
// that KWin runs through the seat's keymap, so only the user's own layout can be typed: each
// character the layout carries goes on its own key at the level that gives it (Shift where
// needed), so that a page sees the very key a user would press; one that no key carries goes
// by paste (offered on the clipboard, Ctrl+V, the next key once the target has read it). A
// Japanese input method (fcitx5) is switched off for the keys and back afterwards; where it
// cannot be, every character goes by paste, which it passes on unchanged. Where KWin tells the
// lock keys' state (its key state protocol), a Caps Lock the user left on changes no letter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/KeyStroke.h"
#include "platform/Keyboard.h"
#include "platform/WindowStack.h"
#include "platform/wayland/KeyLayout.h"
#include "platform/wayland/WaylandConnection.h"

struct org_kde_kwin_fake_input;
struct org_kde_kwin_keystate;

namespace platform {

class DataControlClipboard;
class InputMethodSwitch;

class FakeInputKeyboard : public Keyboard {
  public:
    // The pauses run the event loop: the program keeps answering, and sees the focus move.
    struct Timing {
        int keyGapMs = 4;        // between two strokes
        int repeatGapMs = 4;     // between two strokes on the same key
        int pasteReadMs = 3000;  // how long the target may take to read a paste
    };
    // With an input method running: its module passes keys on in its own time and takes a key
    // pressed again too soon for one it has seen (as on X11).
    static Timing InputMethodTiming() {
        Timing t;
        t.keyGapMs = 4;
        t.repeatGapMs = 25;
        return t;
    }

    // Typing checks the target against `windows`; pastes go through `paste` (none: characters
    // the layout lacks stop the typing).
    FakeInputKeyboard(WaylandConnection& w, WindowStack& windows, DataControlClipboard* paste);
    ~FakeInputKeyboard() override;
    FakeInputKeyboard(const FakeInputKeyboard&) = delete;
    FakeInputKeyboard& operator=(const FakeInputKeyboard&) = delete;

    // Whether KWin lets this program type (and the seat has a keymap to type with).
    bool Available() const { return input_ != nullptr && layout_ != nullptr; }
    Timing& timing(bool inputMethod) { return inputMethod ? imTiming_ : plainTiming_; }
    // Whether KWin tells whether Caps Lock is on, and which modifiers are held.
    bool KnowsLocks() const { return keystate_ != nullptr; }
    bool KnowsHeldModifiers() const;
    // What KWin last said of Caps Lock.
    bool CapsLockOn() const { return capsLock_; }

    // Returns at once where KWin does not tell which modifiers are held.
    bool WaitModifiersReleased(int timeoutMs) override;
    char32_t ShiftedChar(char32_t c) override;
    // Keys for a window of ours are read while they are typed, and never by paste (this thread
    // would be the one to answer the clipboard's request).
    std::size_t Type(const std::vector<KeyStroke>& strokes, WindowId target) override;

    // The key (Linux evdev code) and Shift that type `c` on the layout, as it stands with the
    // lock keys KWin reports; false when no key carries it.
    bool KeyFor(char32_t c, std::uint32_t* evdev, bool* shift) const;

  private:
    struct Plan {
        std::uint32_t evdev = 0;  // the key, or 0
        char32_t pasted = 0;      // else: a character that goes by paste
        bool shift = false, ctrl = false, alt = false;
    };
    static void OnKeyState(void* d, org_kde_kwin_keystate*, std::uint32_t key,
                           std::uint32_t state);

    // Compiles the seat's keymap once; false when there is none.
    bool LoadLayout();
    Plan PlanStroke(const KeyStroke& s, bool ownKeys, bool paste) const;
    void PressRelease(const Plan& p);
    void Key(std::uint32_t evdev, bool down);
    bool Paste(const std::string& text, const std::function<bool()>& stillTarget);

    WaylandConnection& w_;
    WindowStack& windows_;
    DataControlClipboard* paste_;
    org_kde_kwin_fake_input* input_ = nullptr;
    org_kde_kwin_keystate* keystate_ = nullptr;
    std::uint32_t keystateVersion_ = 0;
    std::unique_ptr<KeyLayout> layout_;
    Timing plainTiming_;
    Timing imTiming_ = InputMethodTiming();
    Timing timing_;
    bool capsLock_ = false;
    // Modifiers KWin reports held (by its key state's numbering).
    std::uint32_t heldModifiers_ = 0;
    bool readOwnInput_ = false;
    InputMethodSwitch* imOff_ = nullptr;  // while a fill types with the input method off
    // Seen once: this KWin (5) turns its own input method on again after each character typed.
    bool kwinBackOnEachKey_ = false;
};

}  // namespace platform
