// Typing through XTest. A character the keyboard's layout carries is typed on its own key, at
// the level that gives it (Shift where needed), so that a page sees the very key a user would
// press (keydown filters and input masks read it); a Japanese input method is switched off for
// it while the keys go (or, where it cannot be, passed by spare keys). A character no key carries
// goes by paste: the text offered on the clipboard, Ctrl+V, and the next key only once the target
// has read it. Where paste is not to be had (our own windows, which read the clipboard on our own
// thread) such characters are typed as Unicode keysyms on spare (empty) keycodes from the top of
// the range, as many mapped in one go as there are spares; a keycode gets another symbol only once
// the target has read its last press, and all changes of one moment go out in one request, since
// every request makes every client on the display reload its keyboard. The strokes arrive as
// StrokesToSend makes them: what each means as a key is not decided here.
#pragma once

#include <xcb/xcb.h>

#include <QTimer>
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "platform/Clipboard.h"
#include "platform/KeyStroke.h"
#include "platform/Keyboard.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11WindowStack.h"

namespace platform {

class InputMethodSwitch;

// Where keys go when the target is kUnseenFocus, a window of a compositor that XTest does not
// reach: that compositor's own channel, by evdev code.
class KeyChannel {
  public:
    virtual ~KeyChannel() = default;
    // Whether keys may go through it now (see Keyboard::Ready): asked once as a fill begins.
    virtual bool Ready() = 0;
    // Whether it is open for keys, opened now if it is not: asked before every run of keys.
    virtual bool Open() = 0;
    // Whether the keyboard is still with the window the typing began in: no window of ours (nor
    // any X11 window) has taken it.
    virtual bool FocusHeld() = 0;
    // False when it refused the key: typing stops.
    virtual bool Key(std::uint32_t evdev, bool pressed) = 0;
};

// A copy of the core keyboard map: `perKc` symbols for each keycode from `minKc` to `maxKc`.
struct X11KeyMap {
    xcb_keycode_t minKc = 8, maxKc = 255;
    int perKc = 0;
    std::vector<xcb_keysym_t> syms;
    // The symbol at level `col` of `kc`; 0 (no symbol) outside the map.
    xcb_keysym_t At(xcb_keycode_t kc, int col) const;
};

// Keycodes below this are the keyboard's own keys (the empty ones among them are Japanese and
// international keys that browsers report under their own names); spares come from above.
inline constexpr xcb_keycode_t kLowestSpareKeycode = 136;

// The keycodes characters may be typed on: from `lowest` up, those empty at every level and
// those carrying one of our symbols (`ours`), highest first.
std::vector<xcb_keycode_t> SpareKeycodes(const X11KeyMap& map, xcb_keycode_t lowest,
                                         const std::set<xcb_keycode_t>& ours);

class X11Keyboard : public Keyboard {
  public:
    struct Timing {
        int keyGapMs = 4;          // between two strokes
        int repeatGapMs = 4;       // between two strokes on the same key
        int mapSettleMs = 30;      // after clients have been told of new symbols on empty keys
        int remapSettleMs = 30;    // the same when keys change from one symbol to another
        int staleMapMs = 0;        // how long after a change a key's old symbol may linger
        int remapAfterMs = 0;      // no symbol changes until this long after the last key
        int restoreAfterMs = 400;  // the spares are given back this long after the last key
        int finishSettleMs = 20;   // after the target answered the ping that follows the keys
    };
    // With an input method (fcitx5, ibus) on the display: it learns a new map in its own time,
    // after the browser has answered our ping, and until then types a key with the symbol it
    // had before. Symbols change only a while after the last key, and the input method is given
    // time to learn them. (Measured with fcitx5-mozc: 30 ms was exact even with both cores busy,
    // none lost characters; these allow for a slower machine.)
    static Timing InputMethodTiming() {
        Timing t;
        t.keyGapMs = 4;
        t.repeatGapMs = 25;
        t.remapSettleMs = 50;
        t.staleMapMs = 150;
        t.remapAfterMs = 50;
        return t;
    }

    // Typing checks the target's focus on `windows`; a paste keeps what `clipboard` held.
    X11Keyboard(X11Connection& x, X11WindowStack& windows, Clipboard& clipboard);
    ~X11Keyboard() override;  // gives the spare keycodes their empty symbols back
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    // The pace used when an input method is present, and when none is.
    Timing& timing(bool inputMethod) { return inputMethod ? imTiming_ : plainTiming_; }
    // Whether an input method server announces itself on the display.
    bool InputMethodPresent();

    // True while the user (or anyone) holds Shift, Ctrl, Alt or Super.
    bool ModifiersHeld();

    bool WaitModifiersReleased(int timeoutMs) override;
    bool Ready(WindowId target) override;
    // Keys for kUnseenFocus go through `channel` (nullptr: none go there).
    void SetUnseenChannel(KeyChannel* channel) { channel_ = channel; }
    // 0 also when that key's second level is no character.
    char32_t ShiftedChar(char32_t c) override;
    // Keys for a window of ours are typed while it reads them, and without paste (it would read
    // the clipboard on this very thread).
    std::size_t Type(const std::vector<KeyStroke>& strokes, WindowId target) override;

    // How characters reach the target.
    struct Route {
        // Characters on the layout's own keys are typed there: no input method would turn them
        // into others (none runs, or it is off). Else every character goes another way.
        bool ownKeys = true;
        // Characters no key carries go by paste; else on spare keycodes.
        bool paste = false;
        // Called once before the first paste (to keep what the clipboard held).
        std::function<void()> beforePaste;
    };
    // Whether some character of `strokes` would go by paste on `route`.
    bool WouldPaste(const std::vector<KeyStroke>& strokes, const Route& route);

    // The keyboard map changes made so far (each one makes every client reload its keyboard).
    std::uint64_t mapChanges() const { return mapChanges_; }

    // Gives every spare keycode its original (empty) symbols back now.
    void RestoreNow();
    // Whether some spare keycode currently carries a symbol of ours.
    bool MapChanged() const { return !owned_.empty(); }

  private:
    using Clock = std::chrono::steady_clock;
    // Types `strokes` on `route`; before each one `stillTarget()` must hold, else typing stops.
    // Returns the number of strokes dealt with. Every key pressed here is released on every
    // path. The waits in between hold this program's own mouse and key events back unless
    // `readOwnInput` (the target is a window of this program). A paste the target does not read
    // in time stops the typing too.
    std::size_t TypeRouted(const std::vector<KeyStroke>& strokes, xcb_window_t target,
                           const std::function<bool()>& stillTarget, bool readOwnInput,
                           const Route& route);
    struct Plan {
        xcb_keycode_t keycode = 0;  // a key of the keyboard's own map, or 0
        xcb_keysym_t spareSym = 0;  // else: the symbol to type on a spare keycode
        char32_t pasted = 0;        // else: a character that goes by paste
        bool shift = false, ctrl = false, alt = false;
    };
    struct Owned {
        xcb_keysym_t sym = 0;
        Clock::time_point lastUse{};
        bool used = false;
    };

    bool LoadMap();
    // The keyboard's own key for `sym`: its keycode and whether Shift is needed.
    bool FindKey(xcb_keysym_t sym, xcb_keycode_t* kc, bool* shift) const;
    Plan PlanStroke(const KeyStroke& s, const Route& route) const;
    // Pastes `text` into the target; false when it did not read it in time.
    bool Paste(const std::string& text, xcb_window_t target,
               const std::function<bool()>& stillTarget);
    // Maps the symbols needed from `from` on onto spare keycodes; false when it cannot.
    bool MapAhead(const std::vector<Plan>& plans, std::size_t from, xcb_window_t target);
    // Gives each keycode in `changes` its symbol (both levels; kNoSymbol empties it).
    void WriteSyms(const std::map<xcb_keycode_t, xcb_keysym_t>& changes);
    void WaitForMapping(std::uint64_t notifiesBefore, xcb_window_t target, int settleMs);
    void PressRelease(xcb_keycode_t kc, bool shift, bool ctrl, bool alt);
    // Presses the key only if `stillTarget` holds, with the server grabbed from the check until
    // the server has handled the key: no window manager can move the focus in between, so the
    // key goes where the check saw the focus. False, and nothing pressed, when it does not hold.
    bool PressReleaseOn(const std::function<bool()>& stillTarget, xcb_keycode_t kc, bool shift,
                        bool ctrl, bool alt);
    bool PingTarget(xcb_window_t target, int timeoutMs);
    void Fake(std::uint8_t type, xcb_keycode_t kc);
    void Sync();

    // After the input method is switched off or on: the field's toolkit hears of it on its own
    // connection to the input method, in its own time.
    static constexpr int kInputMethodBackMs = 50;

    X11Connection& x_;
    InputMethodSwitch* imOff_ = nullptr;  // while a fill types with the input method off
    KeyChannel* channel_ = nullptr;
    bool unseen_ = false;    // the keys being typed go through channel_
    bool refused_ = false;   // channel_ refused a key of them
    X11WindowStack& windows_;
    Clipboard& clipboard_;
    Timing plainTiming_;
    Timing imTiming_ = InputMethodTiming();
    Timing timing_;  // the pace of the text being typed
    X11KeyMap map_;
    xcb_keycode_t shiftKc_ = 0, ctrlKc_ = 0, altKc_ = 0;
    bool capsLock_ = false;  // the lock is on: letters come out in the other case
    std::uint64_t mapChanges_ = 0;
    Clock::time_point lastKey_{};           // the last key typed, on any keycode
    Clock::time_point lastRestore_{};       // when the spares last got their empty symbols back
    std::map<xcb_keycode_t, Owned> owned_;  // spare keycodes that carry one of our symbols
    // How often each window read the text for its last paste (XCB_NONE: the compositor).
    std::map<xcb_window_t, std::uint64_t> readsPerPaste_;
    QTimer restoreTimer_;
    bool userInput_ = false;
};

}  // namespace platform
