#include "platform/wayland/VirtualKeyboard.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include <QString>

#include "platform/posix/InputMethodSwitch.h"
#include "platform/wayland/DataControlClipboard.h"
#include "virtual-keyboard-unstable-v1-client.h"

namespace platform {

namespace {
// Pacing between two keys, as on X11, and how long the target may take to read a paste.
constexpr int kKeyGapMs = 4;
constexpr int kRepeatGapMs = 25;
constexpr int kPasteReadTimeoutMs = 2000;
// The compositor hands a keyboard's keymap to the focused program when that keyboard becomes
// the seat's, and a browser takes it in its own time: a key that comes with it is lost. So
// ours is made the seat's, and given this long, before the first key after the user may have
// typed on another keyboard (after this long without keys of ours).
constexpr int kKeymapTakeInMs = 50;
constexpr std::uint32_t kIdleMs = 500;
// The field may still be reading the last key when the input method is switched on again.
constexpr int kInputMethodBackMs = 60;
constexpr std::uint32_t Evdev(int code) { return static_cast<std::uint32_t>(code + kEvdevOffset); }
constexpr std::uint32_t kShiftKey = Evdev(42), kCtrlKey = Evdev(29), kAltKey = Evdev(56);
}  // namespace

VirtualKeyboard::VirtualKeyboard(WaylandConnection& w, WindowStack& windows,
                                 DataControlClipboard& clipboard)
    : w_(w), windows_(windows), clipboard_(clipboard), layout_(w.keymap()) {
    manager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
        w_.Bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
    if (!manager_ || !w_.seat()) return;
    keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_, w_.seat());
    SendKeymap(layout_.text());
    // A compositor that refuses the keyboard ends the connection's use of it here.
    if (!w_.RoundTrip()) keyboard_ = nullptr;
}

VirtualKeyboard::~VirtualKeyboard() {
    // If ours sent the seat's last keys, sway (1.7 to 1.11) leaves the seat without a keyboard
    // once it has gone, and programs started before the user's next key get no keymap (Chromium
    // crashes on that). sway asks only whether the keyboard that goes is the seat's, and no
    // request of ours makes the user's keyboard the seat's again.
    if (keyboard_) zwp_virtual_keyboard_v1_destroy(keyboard_);
    if (manager_) zwp_virtual_keyboard_manager_v1_destroy(manager_);
    w_.RoundTrip();
}

void VirtualKeyboard::SendKeymap(const std::string& text) {
    const int fd = memfd_create("penrika-keymap", MFD_CLOEXEC);
    if (fd < 0) return;
    const std::size_t size = text.size() + 1;  // with its terminating NUL, as clients expect
    if (write(fd, text.c_str(), size) == static_cast<ssize_t>(size)) {
        zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(size));
    }
    close(fd);  // the request carries a copy
    wl_display_flush(w_.display());
}

bool VirtualKeyboard::WaitModifiersReleased(int) {
    // A compositor tells an unfocused program nothing of the user's keys; the toolbar's click
    // holds none.
    return true;
}

char32_t VirtualKeyboard::ShiftedChar(char32_t c) {
    return layout_.Shifted(c);
}

void VirtualKeyboard::Press(std::uint32_t keycode, bool down) {
    if (imOff_ && down) imOff_->Pressed(keycode);
    zwp_virtual_keyboard_v1_key(keyboard_, WaylandConnection::NowMs(), keycode - 8,
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                     : WL_KEYBOARD_KEY_STATE_RELEASED);
}

VirtualKeyboard::Key VirtualKeyboard::KeyOf(const KeyStroke& s) const {
    Key key{0, s.shift, s.ctrl};
    if (s.key != NamedKey::None) {
        const EvdevKey named = EvdevOf(s.key);
        key.keycode = named.evdev ? named.evdev + kEvdevOffset : 0;
        key.ctrl = key.ctrl || named.ctrl;
    } else if (KeyLayout::Key k = layout_.Find(s.ch); k.keycode) {
        key.keycode = k.keycode;
        key.shift = key.shift || k.shift;
    }
    return key;
}

bool VirtualKeyboard::TypeOne(const KeyStroke& s) {
    const auto [kc, shift, ctrl] = KeyOf(s);
    if (!kc) return false;
    std::uint32_t mods = 0;
    std::vector<std::uint32_t> held;
    auto hold = [&](bool on, std::uint32_t key, std::uint32_t mask) {
        if (!on) return;
        held.push_back(key);
        mods |= mask;
        Press(key, true);
        zwp_virtual_keyboard_v1_modifiers(keyboard_, mods, 0, 0, 0);
    };
    hold(ctrl, kCtrlKey, layout_.ctrlMask());
    hold(s.alt, kAltKey, layout_.altMask());
    hold(shift, kShiftKey, layout_.shiftMask());
    Press(kc, true);
    Press(kc, false);
    for (auto it = held.rbegin(); it != held.rend(); ++it) Press(*it, false);
    if (mods) zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
    wl_display_flush(w_.display());
    lastKeycode_ = kc;
    return true;
}

bool VirtualKeyboard::Paste(const std::string& text, bool own) {
    clipboard_.OfferText(text);
    const int reads = clipboard_.offeredReads();
    KeyStroke paste;
    paste.ch = U'v';
    paste.ctrl = true;
    return TypeOne(paste) && clipboard_.WaitRead(reads, kPasteReadTimeoutMs);
}

std::size_t VirtualKeyboard::Type(const std::vector<KeyStroke>& strokes, WindowId target) {
    if (!keyboard_ || strokes.empty()) return 0;
    // Qt reads keys for a window of ours only while its events run.
    const bool own = windows_.IsOwnWindow(target);
    std::unique_ptr<InputMethodSwitch> imOff;
    const bool characters = std::any_of(strokes.begin(), strokes.end(), [](const KeyStroke& k) {
        return k.ch && !k.ctrl && !k.alt;
    });
    if (characters && !own) {
        imOff = std::make_unique<InputMethodSwitch>();
        imOff_ = imOff.get();
        if (imOff->found() == InputMethodSwitch::Found::SwitchedOff)
            w_.Pause(kInputMethodBackMs, own);
    }
    auto byPaste = [this](const KeyStroke& k) {
        return k.key == NamedKey::None && k.ch && !k.ctrl && !k.alt &&
               !layout_.Find(k.ch).keycode;
    };
    if (WaylandConnection::NowMs() - lastKeyAt_ > kIdleMs) {
        zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
        w_.RoundTrip();
        w_.Pause(kKeymapTakeInMs, own);
    }
    std::unique_ptr<ClipboardContents> saved;
    std::size_t sent = 0;
    lastKeycode_ = 0;
    while (sent < strokes.size()) {
        // The same key again waits longer, or the target takes the two for one held key. The
        // wait comes before the check below: a window activated meanwhile gets no key.
        if (!byPaste(strokes[sent]) && lastKeycode_ &&
            KeyOf(strokes[sent]).keycode == lastKeycode_) {
            if (imOff_) imOff_->WaitKeyAnswered(lastKeycode_, [&](int ms) { w_.Pause(ms, own); });
            w_.Pause(kRepeatGapMs - kKeyGapMs, own);
        }
        // Whatever changed the active window before the compositor takes our next key is known
        // here once it has answered.
        w_.RoundTrip();
        if (windows_.ActiveWindow() != target) break;
        if (byPaste(strokes[sent])) {
            // The characters no key carries, as many as come in a row.
            std::size_t end = sent;
            std::u32string run;
            while (end < strokes.size() && byPaste(strokes[end])) run += strokes[end++].ch;
            if (!saved) saved = clipboard_.Take();
            if (!Paste(QString::fromStdU32String(run).toStdString(), own)) break;
            sent = end;
            lastKeycode_ = 0;
        } else {
            if (!TypeOne(strokes[sent])) break;
            ++sent;
        }
        lastKeyAt_ = WaylandConnection::NowMs();
        w_.Pause(kKeyGapMs, own);
    }
    w_.RoundTrip();
    if (saved) clipboard_.PutBack(std::move(saved));
    if (imOff) imOff->WaitKeysHandedOn(kInputMethodBackMs, [&](int ms) { w_.Pause(ms, own); });
    imOff_ = nullptr;
    return sent;
}

}  // namespace platform
