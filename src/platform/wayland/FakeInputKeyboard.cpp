#include "platform/wayland/FakeInputKeyboard.h"

#include <linux/input-event-codes.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QString>
#include <QWindow>
#include <algorithm>
#include <array>
#include <map>

#include "fake-input-client.h"
#include "platform/posix/InputMethodSwitch.h"
#include "platform/posix/PrivateBus.h"
#include "platform/wayland/DataControlClipboard.h"
#if __has_include("keystate-client.h")
#include "keystate-client.h"
#define PENRIKA_KEYSTATE 1
#endif

namespace platform {
namespace {
// The key state protocol's numbering of its keys and their states.
constexpr std::uint32_t kKeyCapsLock = 0;
constexpr std::uint32_t kKeyAlt = 3, kKeyMeta = 6, kKeyAltGr = 7;
constexpr std::uint32_t kStateLocked = 2, kStatePressed = 3;
// Its modifiers (Alt to AltGr) came with version 5.
constexpr std::uint32_t kKeyStateModifiersSince = 5;
constexpr std::uint32_t kKeyStateHandledVersion = 5;
constexpr std::uint32_t kFakeKeysSince = 4;  // keyboard_key
constexpr std::uint32_t kFakeDestroySince = 5;


// After the input method is switched off or on: the field's toolkit hears of it on its own
// connection to the input method, in its own time.
constexpr int kInputMethodBackMs = 50;


// Counts the key releases Qt hands this program's windows: keys for a window of ours have been
// read once as many have come as were sent.
class ReleaseCounter : public QObject {
  public:
    ReleaseCounter() { QCoreApplication::instance()->installEventFilter(this); }
    ~ReleaseCounter() override { QCoreApplication::instance()->removeEventFilter(this); }
    int count = 0;
    bool eventFilter(QObject* o, QEvent* e) override {
        // Qt gives each key to the window first, then to its widget: one per key.
        if (e->type() == QEvent::KeyRelease && qobject_cast<QWindow*>(o) &&
            !static_cast<QKeyEvent*>(e)->isAutoRepeat())
            ++count;
        return false;
    }
};

// Whether fcitx5 runs on the session bus the environment names now. Asking it anything else
// would start it: the bus knows how to.
bool InputMethodRunning() {
    PrivateBus bus;
    return bus.connected() && bus.bus().interface() &&
           bus.bus().interface()->isServiceRegistered(QStringLiteral("org.fcitx.Fcitx5"));
}

// KWin's own input method (Plasma's virtual keyboard setting: fcitx5 there) takes the keys of a
// field that speaks text-input, and hands ours on without their modifiers (KWin 5.27 and 6.3):
// Shift+T comes out as t, Ctrl+V as v. Inactive, it lets them through as they are: it is held
// so while a fill types, and made active again when the typing ends.
class KWinInputMethodHold {
  public:
    KWinInputMethodHold() : bus_(std::make_unique<PrivateBus>()) { HoldAgain(); }
    ~KWinInputMethodHold() {
        if (held_ && bus_) Set(true);
    }
    // Before a key: KWin makes it active again at a field's focus, and KWin 5 whenever the field
    // reports its text. True when it was active again.
    bool HoldAgain() {
        if (!bus_ || !bus_->connected()) return false;
        const int active = Active();
        if (active == -1) bus_.reset();  // no KWin input method to ask after
        if (active == 1 && Set(false)) held_ = true;
        return active == 1;
    }

    // KWin 5 makes its input method active again whenever the field reports its text (after
    // each key that changed it), and a key with a modifier must not go out before then: waits,
    // `pause` letting events run, until it has, up to `upToMs`, and holds it off again. True
    // when it came back on.
    bool WaitBackOn(const std::function<void(int)>& pause, int upToMs) {
        if (!held_) return false;
        for (int waited = 0; waited < upToMs && Active() == 0; waited += kBackOnPollMs)
            pause(kBackOnPollMs);
        return HoldAgain();
    }

    // A key a field refused changes no text, and KWin 5 then does not turn it on again; a
    // busy browser reports its text late.
    static constexpr int kBackOnWaitMs = 60;
    static constexpr int kBackOnEachKeyWaitMs = 200;  // where it is known to come back

  private:
    static constexpr int kBackOnPollMs = 2;
    static constexpr int kCallTimeoutMs = 500;

    // The property `active` of KWin's virtual keyboard: `method` Get or Set.
    QDBusMessage Property(const QString& method, const QVariantList& value = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.kde.KWin"), QStringLiteral("/VirtualKeyboard"),
            QStringLiteral("org.freedesktop.DBus.Properties"), method);
        call << QStringLiteral("org.kde.kwin.VirtualKeyboard") << QStringLiteral("active");
        for (const QVariant& v : value) call << v;
        return bus_->bus().call(call, QDBus::Block, kCallTimeoutMs);
    }
    int Active() {
        if (!bus_) return -1;
        QDBusMessage reply = Property(QStringLiteral("Get"));
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return -1;
        return reply.arguments().first().value<QDBusVariant>().variant().toBool() ? 1 : 0;
    }
    bool Set(bool active) {
        return Property(QStringLiteral("Set"), {QVariant::fromValue(QDBusVariant(active))})
                   .type() == QDBusMessage::ReplyMessage;
    }

    std::unique_ptr<PrivateBus> bus_;
    bool held_ = false;
};

// A stroke that puts a character into a field (no shortcut, no named key).
bool IsCharacter(const KeyStroke& k) {
    return k.ch >= 0x20 && k.key == NamedKey::None && !k.ctrl && !k.alt;
}

}  // namespace

FakeInputKeyboard::FakeInputKeyboard(WaylandConnection& w, WindowStack& windows,
                                     DataControlClipboard* paste)
    : w_(w), windows_(windows), paste_(paste) {
    if (!w_.Valid()) return;
    const std::uint32_t offered = w_.VersionOf(org_kde_kwin_fake_input_interface.name);
    if (offered < kFakeKeysSince) return;
    input_ = static_cast<org_kde_kwin_fake_input*>(w_.Bind(
        &org_kde_kwin_fake_input_interface,
        static_cast<std::uint32_t>(org_kde_kwin_fake_input_interface.version)));
    if (!input_) return;
    // KWin takes no fake keys from a client before it has said who it is.
    org_kde_kwin_fake_input_authenticate(input_, "Penrika",
                                         "types the entry's text into the form");
#ifdef PENRIKA_KEYSTATE
    const std::uint32_t keystate = w_.VersionOf(org_kde_kwin_keystate_interface.name);
    if (keystate > 0) {
        keystateVersion_ = std::min(
            {keystate, static_cast<std::uint32_t>(org_kde_kwin_keystate_interface.version),
             kKeyStateHandledVersion});
        keystate_ = static_cast<org_kde_kwin_keystate*>(
            w_.Bind(&org_kde_kwin_keystate_interface, keystateVersion_));
        static const org_kde_kwin_keystate_listener listener = {.stateChanged = OnKeyState};
        if (keystate_) {
            org_kde_kwin_keystate_add_listener(keystate_, &listener, this);
            org_kde_kwin_keystate_fetchStates(keystate_);
        }
    }
#endif
    w_.RoundTrip();
    LoadLayout();
}

FakeInputKeyboard::~FakeInputKeyboard() {
#ifdef PENRIKA_KEYSTATE
    if (keystate_) {
        if (keystateVersion_ >= 4)
            org_kde_kwin_keystate_destroy(keystate_);
        else
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(keystate_));
    }
#endif
    if (input_) {
        if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(input_)) >= kFakeDestroySince)
            org_kde_kwin_fake_input_destroy(input_);
        else
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(input_));
    }
    if (w_.Valid()) w_.RoundTrip();
}

void FakeInputKeyboard::OnKeyState(void* d, org_kde_kwin_keystate*, std::uint32_t key,
                                   std::uint32_t state) {
    auto* self = static_cast<FakeInputKeyboard*>(d);
    if (key == kKeyCapsLock) self->capsLock_ = state == kStateLocked;
    if (key >= kKeyAlt && key <= kKeyAltGr) {
        const std::uint32_t bit = 1u << key;
        if (state == kStatePressed)
            self->heldModifiers_ |= bit;
        else
            self->heldModifiers_ &= ~bit;
    }
}

bool FakeInputKeyboard::LoadLayout() {
    if (layout_) return true;
    if (w_.keymap().empty()) return false;
    auto layout = std::make_unique<KeyLayout>(w_.keymap());
    if (!layout->Valid()) return false;
    layout_ = std::move(layout);
    return true;
}

bool FakeInputKeyboard::KnowsHeldModifiers() const {
    return keystate_ && keystateVersion_ >= kKeyStateModifiersSince;
}

bool FakeInputKeyboard::WaitModifiersReleased(int timeoutMs) {
    if (!KnowsHeldModifiers()) return true;
    return w_.WaitUntil([&] { return heldModifiers_ == 0; }, timeoutMs);
}

bool FakeInputKeyboard::KeyFor(char32_t c, std::uint32_t* evdev, bool* shift) const {
    if (!layout_) return false;
    const KeyLayout::Key k = layout_->Find(c, capsLock_);
    if (!k.keycode) return false;
    *evdev = k.keycode - kEvdevOffset;
    *shift = k.shift;
    return true;
}

char32_t FakeInputKeyboard::ShiftedChar(char32_t c) {
    if (!LoadLayout()) return 0;
    return layout_->Shifted(c);
}

FakeInputKeyboard::Plan FakeInputKeyboard::PlanStroke(const KeyStroke& s, bool ownKeys,
                                                      bool paste) const {
    Plan p;
    p.shift = s.shift;
    p.ctrl = s.ctrl;
    p.alt = s.alt;
    if (s.key != NamedKey::None) {
        const EvdevKey named = EvdevOf(s.key);
        p.evdev = named.evdev;
        p.ctrl = p.ctrl || named.ctrl;
        return p;
    }
    // A line break is the Enter key, a tab the Tab key, whatever the layout calls them.
    if (s.ch == U'\n' || s.ch == U'\r' || s.ch == U'\t') {
        p.evdev = s.ch == U'\t' ? KEY_TAB : KEY_ENTER;
        return p;
    }
    bool needShift = false;
    if (!s.ctrl && !s.alt) {
        if (ownKeys && KeyFor(s.ch, &p.evdev, &needShift)) {
            p.shift = needShift;
            return p;
        }
        p.evdev = 0;
        if (paste) p.pasted = s.ch;
        return p;
    }
    // Shortcuts (Ctrl+C) go on the key for the character as the layout has it, whatever the
    // locks: applications match them by that key's plain symbol.
    if (const KeyLayout::Key k = layout_->Find(s.ch); k.keycode) {
        p.evdev = k.keycode - kEvdevOffset;
        p.shift = p.shift || k.shift;
    }
    return p;
}

void FakeInputKeyboard::Key(std::uint32_t evdev, bool down) {
    if (imOff_ && down) imOff_->Pressed(evdev + kEvdevOffset);
    org_kde_kwin_fake_input_keyboard_key(
        input_, evdev, down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void FakeInputKeyboard::PressRelease(const Plan& p) {
    // Press and release go out in one batch, so that no path leaves a key down.
    if (p.shift) Key(KEY_LEFTSHIFT, true);
    if (p.ctrl) Key(KEY_LEFTCTRL, true);
    if (p.alt) Key(KEY_LEFTALT, true);
    Key(p.evdev, true);
    Key(p.evdev, false);
    if (p.alt) Key(KEY_LEFTALT, false);
    if (p.ctrl) Key(KEY_LEFTCTRL, false);
    if (p.shift) Key(KEY_LEFTSHIFT, false);
    wl_display_flush(w_.display());
}

bool FakeInputKeyboard::Paste(const std::string& text, const std::function<bool()>& stillTarget) {
    const KeyLayout::Key v = layout_->Find(U'v');
    if (!v.keycode) return false;
    paste_->OfferText(text);
    // KWin names us the clipboard's owner before the keys ask for it.
    w_.RoundTrip();
    const int reads = paste_->offeredReads();
    if (!stillTarget()) return false;
    Plan ctrlV;
    ctrlV.evdev = v.keycode - kEvdevOffset;
    ctrlV.shift = v.shift;
    ctrlV.ctrl = true;
    PressRelease(ctrlV);
    return paste_->WaitRead(reads, timing_.pasteReadMs);
}

std::size_t FakeInputKeyboard::Type(const std::vector<KeyStroke>& strokes, WindowId target) {
    if (!Available() || strokes.empty() || !target) return 0;
    // Qt hands keys to whichever of its windows has the focus when it reads them, so keys for a
    // window of ours must be read while they are typed, not after.
    const bool own = windows_.IsOwnWindow(target);
    readOwnInput_ = own;
    const bool characters = std::any_of(strokes.begin(), strokes.end(), [](const KeyStroke& k) {
        return k.ch && !k.ctrl && !k.alt;
    });
    std::unique_ptr<InputMethodSwitch> imOff;
    bool ownKeys = true;
    const bool inputMethod = characters && InputMethodRunning();
    if (inputMethod) {
        imOff = std::make_unique<InputMethodSwitch>();
        imOff_ = imOff.get();
        // An input method that stays on would turn letters into kana: every character goes
        // by paste, which it passes through as it is.
        ownKeys = imOff->KeysPassThrough();
        if (imOff->found() == InputMethodSwitch::Found::SwitchedOff)
            w_.Pause(kInputMethodBackMs, own);
    }
    timing_ = inputMethod ? imTiming_ : plainTiming_;
    // Ctrl+C too: a page that had a field's focus may keep KWin's input method on its text.
    std::unique_ptr<KWinInputMethodHold> kwinInputMethod;
    if (!own) kwinInputMethod = std::make_unique<KWinInputMethodHold>();
    auto pause = [&](int ms) { w_.Pause(ms, own); };
    auto backOnWaitMs = [&] {
        return kwinBackOnEachKey_ ? KWinInputMethodHold::kBackOnEachKeyWaitMs
                                  : KWinInputMethodHold::kBackOnWaitMs;
    };
#ifdef PENRIKA_KEYSTATE
    if (keystate_) org_kde_kwin_keystate_fetchStates(keystate_);
#endif
    // The lock state as it is now, and the stack up to date.
    w_.RoundTrip();
    const bool paste = paste_ && paste_->Available() && !own;
    std::vector<Plan> plans;
    plans.reserve(strokes.size());
    for (const KeyStroke& s : strokes) plans.push_back(PlanStroke(s, ownKeys, paste));

    auto stillTarget = [&] { return windows_.ActiveWindow() == target; };
    std::unique_ptr<ReleaseCounter> released;
    if (own) released = std::make_unique<ReleaseCounter>();
    int releasesSent = 0;
    std::unique_ptr<ClipboardContents> saved;
    std::size_t done = 0;
    std::uint32_t lastKey = 0;
    bool typedAny = false;
    while (done < plans.size()) {
        const Plan& p = plans[done];
        if (!stillTarget()) break;
        if (p.pasted) {
            // The characters that follow and go by paste as well go in one paste.
            std::u32string run;
            std::size_t end = done;
            for (; end < plans.size() && plans[end].pasted; ++end) run += plans[end].pasted;
            if (!saved) saved = paste_->Take();
            if (typedAny && timing_.keyGapMs > 0) w_.Pause(timing_.keyGapMs, own);
            // Checked last before the Ctrl+V goes out.
            auto stillTargetAndHeld = [&] {
                if (kwinInputMethod && typedAny) kwinInputMethod->WaitBackOn(pause, backOnWaitMs());
                return stillTarget();
            };
            if (!Paste(QString::fromStdU32String(run).toStdString(), stillTargetAndHeld)) break;
            lastKey = 0;
            typedAny = true;
            done = end;
            continue;
        }
        // Neither on the layout nor to be pasted: nothing types it.
        if (!p.evdev) break;
        bool waited = false;
        if (typedAny) {
            if (p.evdev == lastKey && imOff_)
                imOff_->WaitKeyAnswered(p.evdev + kEvdevOffset, pause);
            const int gap = p.evdev == lastKey ? timing_.repeatGapMs : timing_.keyGapMs;
            if (gap > 0) w_.Pause(gap, own);
            waited = gap > 0;
        }
        if (kwinInputMethod) {
            // Where KWin turns its input method on again after each character, a key that goes
            // out before it has is taken in by the input method once it is on, and lost when it
            // is held off again for the key after: so each key waits for it.
            const bool afterCharacter = inputMethod && done > 0 && IsCharacter(strokes[done - 1]);
            bool backOn;
            if (typedAny &&
                (p.shift || p.ctrl || p.alt || (kwinBackOnEachKey_ && afterCharacter))) {
                backOn = kwinInputMethod->WaitBackOn(pause, backOnWaitMs());
                waited = true;
            } else {
                backOn = kwinInputMethod->HoldAgain();
            }
            if (backOn && afterCharacter) kwinBackOnEachKey_ = true;
        }
        // Checked again after the waits, once KWin has told what changed meanwhile: the focus
        // may have moved.
        if (waited) {
            w_.RoundTrip();
            if (!stillTarget()) break;
        }
        PressRelease(p);
        releasesSent += 1 + p.shift + p.ctrl + p.alt;
        // KWin has handed the keys on, and told of any change of the active window it made
        // before them, once it answers.
        w_.RoundTrip();
        // Our own window reads them on Qt's connection, in this event loop.
        if (released)
            w_.WaitUntil([&] { return released->count >= releasesSent; }, 1000, 5, true);
        lastKey = p.evdev;
        typedAny = true;
        ++done;
    }
    if (saved) paste_->PutBack(std::move(saved));
    if (imOff) imOff->WaitKeysHandedOn(kInputMethodBackMs, pause);
    imOff_ = nullptr;
    return done;
}

}  // namespace platform
