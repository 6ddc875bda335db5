#include "core/FillCommand.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "core/KeyNotation.h"
#include "core/Placement.h"
#include "platform/Session.h"

using platform::WindowId;

namespace {
// How long the browser may take to become active after the request.
constexpr int kActivateTimeoutMs = 1000;
// How long the user may still hold a modifier before typing is given up.
constexpr int kModifierTimeoutMs = 2000;
// How long the browser may take to put the copied label on the clipboard.
constexpr int kClipboardTimeoutMs = 1000;
// How long the focus may take to settle on the browser after the click on the toolbar.
constexpr int kFocusSettleMs = 500;

const char* const kMsgItemNotRecognised = "項目が認識できません。";
const char* const kMsgItemNotRegistered = "項目は登録されていません。";

// What the user had copied stays theirs: taken before the clipboard is cleared for the copy
// and put back when the Write command ends, however it ends (a fill, a message, the list
// cancelled), so the copied label never stays behind either.
class KeepClipboard {
  public:
    explicit KeepClipboard(platform::Clipboard& c) : c_(c), saved_(c.Take()) {}
    ~KeepClipboard() { c_.PutBack(std::move(saved_)); }
    KeepClipboard(const KeepClipboard&) = delete;
    KeepClipboard& operator=(const KeepClipboard&) = delete;

  private:
    platform::Clipboard& c_;
    std::unique_ptr<platform::ClipboardContents> saved_;
};
}  // namespace

BrowserTarget FindBrowser(platform::WindowStack& windows, WindowId toolbar) {
    // The first visible window below the toolbar that is not one of ours. A stack without one
    // gives no target, which the Write command reports as not recognised.
    for (WindowId w : windows.WindowsBelow(toolbar)) {
        if (windows.IsOwnWindow(w) || !windows.IsVisible(w)) continue;
        if (windows.Owner(w)) return {w, {}, true};
        std::string caption = windows.Caption(w);
        return {w, caption.substr(0, caption.find('\0')), false};
    }
    return {};
}

BrowserTarget ActiveBrowser(platform::WindowStack& windows, WindowId w) {
    if (!w || windows.IsOwnWindow(w) || !windows.IsVisible(w)) return {};
    if (windows.Owner(w)) return {w, {}, true};
    std::string caption = windows.Caption(w);
    return {w, caption.substr(0, caption.find('\0')), false};
}

std::size_t TypeStrokes(platform::Keyboard& keyboard, const std::vector<KeyStroke>& strokes,
                        WindowId target) {
    const KeysToSend keys =
        StrokesToSend(strokes, [&keyboard](char32_t c) { return keyboard.ShiftedChar(c); });
    return keys.Handled(keyboard.Type(keys.strokes, target));
}

FillCommand::FillCommand(platform::Desktop desktop, const AppState& state, Toolbar toolbar)
    : d_(desktop), state_(state), toolbar_(std::move(toolbar)) {}

void FillCommand::Tell(const std::string& text, const std::string& title) {
    if (toolbar_.tell) toolbar_.tell(text, title);
}

void FillCommand::Write() {
    DropTopmost(d_.windows, state_.options, toolbar_.window);
    browser_ = FindBrowser(d_.windows, toolbar_.window);
    if (toolbar_.place) toolbar_.place();
    CopyAndMatch();
}

void FillCommand::WriteActive(WindowId active) {
    browser_ = ActiveBrowser(d_.windows, active);
    CopyAndMatch();
}

void FillCommand::CopyAndMatch() {
    if (!browser_.Recognised()) {
        std::string message = MsgBrowserNotRecognised;
        if (platform::RunsThroughXWayland()) message += std::string("\r\n") + MsgWaylandHint;
        Tell(message, ErrorTitle);
        return;
    }
    // A desktop that lets a program type only with the user's consent asks for it now, before
    // anything is copied (and says itself why not, when it is not given).
    if (!d_.keyboard.Ready(browser_.window)) return;
    // Whatever the clipboard held before must never be taken for the label and typed into a
    // form: only what this copy puts there counts.
    KeepClipboard keep(d_.clipboard);
    d_.clipboard.Clear();
    const WindowId target = AppActivate(browser_.caption);
    if (!target) {
        // The browser went away (or would not come forward) since it was recognised.
        Tell(MsgBrowserNotRecognised, ErrorTitle);
        return;
    }
    // Right leaves the highlight for the field after it once the browser has copied it: a
    // browser that takes the keys before it has copied (Firefox on GNOME) copies nothing.
    const bool copySent = SendCopy(target);
    const bool copied = copySent && d_.clipboard.WaitText(kClipboardTimeoutMs);
    if (copySent) SendKeys("{RIGHT}", target);
    if (!copied) {
        Tell(kMsgItemNotRecognised, ErrorTitle);
        return;
    }
    MatchItem(d_.clipboard.Text());
}

// Sends Ctrl+C to the browser. Just after the click on the toolbar the focus is still settling:
// the window manager may name the browser active a moment before the keyboard focus reaches it,
// or drop the active window for a moment. The key sender then refuses the key without typing
// it; ask again for a short while (the key still goes to the browser alone).
bool FillCommand::SendCopy(WindowId target) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kFocusSettleMs);
    auto remainingMs = [&] {
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    };
    SendOutcome copy = SendKeys("^c", target);
    while (copy.result == SendResult::FocusLost && remainingMs() > 0) {
        if (d_.windows.ActiveWindow() != target) {
            d_.windows.RequestActivate(target);
            if (!d_.windows.WaitActive(target, remainingMs())) break;
        } else {
            d_.windows.RunEventsFor(10);
        }
        copy = SendKeys("^c", target);
    }
    return copy.result == SendResult::Sent;
}

void FillCommand::MatchItem(const std::string& copied) {
    const std::vector<Candidate> found = MatchEntries(state_.entries, copied);
    if (found.empty()) {
        Tell(kMsgItemNotRegistered, AppTitle);
    } else if (found.size() == 1) {
        FillForm(found.front().fillText);
    } else {
        DropTopmost(d_.windows, state_.options, toolbar_.window);
        if (toolbar_.choose)
            toolbar_.choose(found, [this](const std::string& text) { FillForm(text, true); });
    }
}

WindowId FillCommand::AppActivate(const std::string& title) {
    WindowId target = 0;
    // The recognised window first, while its title still matches.
    if (browser_.window) {
        std::string c = d_.windows.Caption(browser_.window);
        if (!c.empty() && c.rfind(title, 0) == 0) target = browser_.window;
    }
    if (!target) {
        WindowId prefix = 0;
        for (WindowId w : d_.windows.TopLevelWindows()) {
            if (d_.windows.IsOwnWindow(w)) continue;
            std::string c = d_.windows.Caption(w);
            if (c == title) {
                target = w;
                break;
            }
            if (!prefix && c.rfind(title, 0) == 0) prefix = w;
        }
        if (!target) target = prefix;
    }
    if (!target || title.empty()) return 0;
    if (d_.windows.IsMinimized(target)) d_.windows.Restore(target);
    d_.windows.RequestActivate(target);
    return d_.windows.WaitActive(target, kActivateTimeoutMs) ? target : 0;
}

SendOutcome FillCommand::SendKeys(const std::string& keys, WindowId target) {
    KeyParseResult parsed = ParseKeys(keys);
    if (!parsed.ok()) return {SendResult::BadNotation, parsed.error};
    if (d_.windows.ActiveWindow() != target) return {SendResult::FocusLost, {}};
    if (!d_.keyboard.WaitModifiersReleased(kModifierTimeoutMs))
        return {SendResult::ModifiersHeld, {}};
    if (TypeStrokes(d_.keyboard, parsed.strokes, target) != parsed.strokes.size())
        return {SendResult::FocusLost, {}};
    return {};
}

void FillCommand::FillForm(const std::string& text, bool afterOwnWindow) {
    // Check the notation before anything reaches the browser: a bad text types nothing.
    KeyParseResult parsed = ParseKeys(text);
    if (!parsed.ok()) {
        Tell("記入文字のキー表記に誤りがあるため、記入しませんでした。\r\n" + parsed.error,
             ErrorTitle);
        return;
    }
    if (state_.options.confirmBeforeFill) {
        // What will be typed, not the notation: a + or ~ in the text acts as a key, and the
        // user must see that before saying yes.
        auto shiftedOf = [this](char32_t c) { return d_.keyboard.ShiftedChar(c); };
        const std::string typed = StrokesAsRead(StrokesToSend(parsed.strokes, shiftedOf).strokes);
        if (!toolbar_.confirm ||
            !toolbar_.confirm("[ " + typed + " ]をフォームに記入します。", AppTitle))
            return;
        afterOwnWindow = true;
    }
    WindowId target = AppActivate(browser_.caption);
    if (!target) {
        Tell(MsgBrowserNotRecognised, ErrorTitle);
        return;
    }
    if (afterOwnWindow) d_.windows.WaitHandedBack(target);
    SendOutcome tab = SendKeys("{TAB}", target);
    SendOutcome body = tab.result == SendResult::Sent ? SendKeys(text, target) : tab;
    switch (body.result) {
        case SendResult::Sent:
        case SendResult::BadNotation:  // cannot happen: parsed above
            break;
        case SendResult::FocusLost:
            Tell("記入先のウィンドウが切り替わったため、記入を中止しました。", ErrorTitle);
            break;
        case SendResult::ModifiersHeld:
            Tell("Shift・Ctrl・Alt キーが押されたままのため、記入しませんでした。", ErrorTitle);
            break;
    }
}
