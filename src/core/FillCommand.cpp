#include "core/FillCommand.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "core/KeyNotation.h"
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
    explicit KeepClipboard(platform::Desktop& d) : d_(d), saved_(d.ClipboardSave()) {}
    ~KeepClipboard() { d_.ClipboardRestore(std::move(saved_)); }
    KeepClipboard(const KeepClipboard&) = delete;
    KeepClipboard& operator=(const KeepClipboard&) = delete;

  private:
    platform::Desktop& d_;
    std::unique_ptr<platform::ClipboardContents> saved_;
};
}  // namespace

BrowserTarget FindBrowser(platform::Desktop& d, WindowId toolbar) {
    // The first visible window below the toolbar that is not one of ours. A stack without one
    // gives no target, which the Write command reports as not recognised.
    for (WindowId w : d.WindowsBelow(toolbar)) {
        if (d.IsOwnWindow(w) || !d.IsVisible(w)) continue;
        if (d.Owner(w)) return {w, {}, true};
        std::string caption = d.Caption(w);
        return {w, caption.substr(0, caption.find('\0')), false};
    }
    return {};
}

void DropTopmost(const Options& options, WindowId window) {
    if (options.alwaysOnTop) platform::TheDesktop().SetTopmost(window, false, true);
}

void ApplyTopmost(const Options& options, WindowId window) {
    platform::TheDesktop().SetTopmost(window, options.alwaysOnTop, false);
}

ScreenRect KeepWithin(ScreenRect window, const ScreenRect& area) {
    window.left = std::max(std::min(window.left, area.left + area.width - window.width), area.left);
    window.top = std::max(std::min(window.top, area.top + area.height - window.height), area.top);
    return window;
}

void ShowHelp(WindowId window, int context) {
    platform::TheDesktop().ShowHelp(window, context);
}

std::size_t TypeStrokes(platform::Desktop& d, const std::vector<KeyStroke>& strokes,
                        WindowId target) {
    const KeysToSend keys = StrokesToSend(strokes, [&d](char32_t c) { return d.ShiftedChar(c); });
    return keys.Handled(d.Type(keys.strokes, target));
}

FillCommand::FillCommand(platform::Desktop& desktop, const AppState& state, Toolbar toolbar)
    : d_(desktop), state_(state), toolbar_(std::move(toolbar)) {}

void FillCommand::Write() {
    DropTopmost(state_.options, toolbar_.window);
    browser_ = FindBrowser(d_, toolbar_.window);
    if (toolbar_.place) toolbar_.place();
    if (!browser_.Recognised()) {
        std::string message = MsgBrowserNotRecognised;
        if (platform::RunsUnderWayland()) message += std::string("\r\n") + MsgWaylandHint;
        d_.MsgBox(message, platform::MsgOk, ErrorTitle);
        return;
    }
    // Whatever the clipboard held before must never be taken for the label and typed into a
    // form: only what this copy puts there counts.
    KeepClipboard keep(d_);
    d_.ClipboardClear();
    const WindowId target = AppActivate(browser_.caption);
    if (!target) {
        // The browser went away (or would not come forward) since it was recognised.
        d_.MsgBox(MsgBrowserNotRecognised, platform::MsgOk, ErrorTitle);
        return;
    }
    const bool copySent = SendCopy(target);
    if (copySent) SendKeys("{RIGHT}", target);
    if (!copySent || !d_.WaitClipboardText(kClipboardTimeoutMs)) {
        d_.MsgBox(kMsgItemNotRecognised, platform::MsgOk, ErrorTitle);
        return;
    }
    MatchItem(d_.ClipboardText());
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
        if (d_.ActiveWindow() != target) {
            d_.RequestActivate(target);
            if (!d_.WaitActive(target, remainingMs())) break;
        } else {
            d_.RunEventsFor(10);
        }
        copy = SendKeys("^c", target);
    }
    return copy.result == SendResult::Sent;
}

void FillCommand::MatchItem(const std::string& copied) {
    const std::vector<Candidate> found = MatchEntries(state_.entries, copied);
    if (found.empty()) {
        d_.MsgBox(kMsgItemNotRegistered, platform::MsgOk, AppTitle);
    } else if (found.size() == 1) {
        FillForm(found.front().fillText);
    } else {
        DropTopmost(state_.options, toolbar_.window);
        if (toolbar_.choose)
            toolbar_.choose(found, [this](const std::string& text) { FillForm(text); });
    }
}

WindowId FillCommand::AppActivate(const std::string& title) {
    WindowId target = 0;
    // The recognised window first, while its title still matches.
    if (browser_.window) {
        std::string c = d_.Caption(browser_.window);
        if (!c.empty() && c.rfind(title, 0) == 0) target = browser_.window;
    }
    if (!target) {
        WindowId prefix = 0;
        for (WindowId w : d_.TopLevelWindows()) {
            if (d_.IsOwnWindow(w)) continue;
            std::string c = d_.Caption(w);
            if (c == title) {
                target = w;
                break;
            }
            if (!prefix && c.rfind(title, 0) == 0) prefix = w;
        }
        if (!target) target = prefix;
    }
    if (!target || title.empty()) return 0;
    if (d_.IsMinimized(target)) d_.Restore(target);
    d_.RequestActivate(target);
    return d_.WaitActive(target, kActivateTimeoutMs) ? target : 0;
}

SendOutcome FillCommand::SendKeys(const std::string& keys, WindowId target) {
    KeyParseResult parsed = ParseKeys(keys);
    if (!parsed.ok()) return {SendResult::BadNotation, parsed.error};
    if (d_.ActiveWindow() != target) return {SendResult::FocusLost, {}};
    if (!d_.WaitModifiersReleased(kModifierTimeoutMs)) return {SendResult::ModifiersHeld, {}};
    if (TypeStrokes(d_, parsed.strokes, target) != parsed.strokes.size())
        return {SendResult::FocusLost, {}};
    return {};
}

void FillCommand::FillForm(const std::string& text) {
    // Check the notation before anything reaches the browser: a bad text types nothing.
    KeyParseResult parsed = ParseKeys(text);
    if (!parsed.ok()) {
        d_.MsgBox("記入文字のキー表記に誤りがあるため、記入しませんでした。\r\n" + parsed.error,
                  platform::MsgOk, ErrorTitle);
        return;
    }
    if (state_.options.confirmBeforeFill) {
        // What will be typed, not the notation: a + or ~ in the text acts as a key, and the
        // user must see that before saying yes.
        auto shiftedOf = [this](char32_t c) { return d_.ShiftedChar(c); };
        const std::string typed = StrokesAsRead(StrokesToSend(parsed.strokes, shiftedOf).strokes);
        int answer = d_.MsgBox("[ " + typed + " ]をフォームに記入します。",
                               platform::MsgOkCancelInfo, AppTitle);
        if (answer == platform::MsgAnswerCancel) return;
    }
    WindowId target = AppActivate(browser_.caption);
    if (!target) {
        d_.MsgBox(MsgBrowserNotRecognised, platform::MsgOk, ErrorTitle);
        return;
    }
    SendOutcome tab = SendKeys("{TAB}", target);
    SendOutcome body = tab.result == SendResult::Sent ? SendKeys(text, target) : tab;
    switch (body.result) {
        case SendResult::Sent:
        case SendResult::BadNotation:  // cannot happen: parsed above
            break;
        case SendResult::FocusLost:
            d_.MsgBox("記入先のウィンドウが切り替わったため、記入を中止しました。", platform::MsgOk,
                      ErrorTitle);
            break;
        case SendResult::ModifiersHeld:
            d_.MsgBox("Shift・Ctrl・Alt キーが押されたままのため、記入しませんでした。",
                      platform::MsgOk, ErrorTitle);
            break;
    }
}
