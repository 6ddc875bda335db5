#include "core/FillCommand.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "core/AppState.h"
#include "core/KeyNotation.h"
#include "platform/Desktop.h"
#include "platform/SettingsStore.h"

using platform::TheDesktop;
using platform::WindowId;

long WriteSetting(const std::string& valueType, long hive, const std::string& keyPath,
                  const std::string& valueName, const std::string& value) {
    // Only text values in the current user's store exist on this platform.
    if (valueType != REG_SZ_TEXT || hive != HKEY_CURRENT_USER) return 87;  // invalid parameter
    return platform::StoreValue(keyPath, valueName, value);
}

std::string ReadSetting(long hive, const std::string& keyPath, const std::string& valueName) {
    if (hive != HKEY_CURRENT_USER) return "0";
    std::optional<std::string> v = platform::FetchValue(keyPath, valueName);
    if (!v) return "0";
    // A stored text ends at its first NUL, as a string value does.
    return v->substr(0, v->find('\0'));
}

bool OptionTextIsOn(const std::string& text) {
    if (text == "True") return true;
    if (text == "False") return false;
    // Numeric text is on unless it is zero; anything else is off.
    std::string t = text;
    t.erase(0, t.find_first_not_of(' '));
    t.erase(t.find_last_not_of(' ') + 1);
    if (t.empty()) return false;
    size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
    bool digit = false, nonZero = false;
    for (; i < t.size(); ++i) {
        if (t[i] == '.') continue;
        if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
        digit = true;
        nonZero |= t[i] != '0';
    }
    return digit && nonZero;
}

void LoadOptions() {
    for (int n = 1; n <= 2; ++n) {
        Options[static_cast<size_t>(n - 1)] =
            OptionTextIsOn(ReadSetting(HKEY_CURRENT_USER, OptionKey, "Op_" + std::to_string(n)));
    }
}

void DropTopmost(WindowId hwnd) {
    if (Options[AlwaysOnTop]) TheDesktop().SetTopmost(hwnd, false, true);
}

void ApplyTopmost(WindowId hwnd) {
    TheDesktop().SetTopmost(hwnd, Options[AlwaysOnTop], false);
}

void ShowHelp(WindowId hwnd, long context) {
    TheDesktop().ShowHelp(hwnd, static_cast<int>(context));
}

namespace {
// How long the browser may take to become active after the request.
constexpr int kActivateTimeoutMs = 1000;
// How long the user may still hold a modifier before typing is given up.
constexpr int kModifierTimeoutMs = 2000;
}  // namespace

WindowId AppActivate(const std::string& title) {
    platform::Desktop& d = TheDesktop();
    WindowId target = 0;
    // The recognised window first, while its title still matches.
    if (BrowserWindow) {
        std::string c = d.Caption(BrowserWindow);
        if (!c.empty() && c.rfind(title, 0) == 0) target = BrowserWindow;
    }
    if (!target) {
        WindowId prefix = 0;
        for (WindowId w : d.TopLevelWindows()) {
            if (d.IsOwnWindow(w)) continue;
            std::string c = d.Caption(w);
            if (c == title) {
                target = w;
                break;
            }
            if (!prefix && c.rfind(title, 0) == 0) prefix = w;
        }
        if (!target) target = prefix;
    }
    if (!target || title.empty()) return 0;
    if (d.IsMinimized(target)) d.Restore(target);
    d.RequestActivate(target);
    return d.WaitActive(target, kActivateTimeoutMs) ? target : 0;
}

SendOutcome SendKeys(const std::string& keys, WindowId target) {
    KeyParseResult parsed = ParseKeys(keys);
    if (!parsed.ok()) return {SendResult::BadNotation, parsed.error};
    platform::Desktop& d = TheDesktop();
    if (d.ActiveWindow() != target) return {SendResult::FocusLost, {}};
    if (!d.WaitModifiersReleased(kModifierTimeoutMs)) return {SendResult::ModifiersHeld, {}};
    if (d.Type(parsed.strokes, target) != parsed.strokes.size()) return {SendResult::FocusLost, {}};
    return {};
}

void FillForm(const std::string& text) {
    platform::Desktop& d = TheDesktop();
    // Check the notation before anything reaches the browser: a bad text types nothing.
    KeyParseResult parsed = ParseKeys(text);
    if (!parsed.ok()) {
        d.MsgBox("記入文字のキー表記に誤りがあるため、記入しませんでした。\r\n" + parsed.error,
                 platform::MsgOk, ErrorTitle);
        return;
    }
    if (Options[ConfirmBeforeFill]) {
        int answer = d.MsgBox("[ " + text + " ]をフォームに記入します。", platform::MsgOkCancelInfo,
                              AppTitle);
        if (answer == platform::MsgAnswerCancel) return;
    }
    WindowId target = AppActivate(BrowserCaption);
    if (!target) {
        d.MsgBox(MsgBrowserNotRecognised, platform::MsgOk, ErrorTitle);
        return;
    }
    SendOutcome tab = SendKeys("{TAB}", target);
    SendOutcome body = tab.result == SendResult::Sent ? SendKeys(text, target) : tab;
    switch (body.result) {
        case SendResult::Sent:
        case SendResult::BadNotation:  // cannot happen: parsed above
            break;
        case SendResult::FocusLost:
            d.MsgBox("記入先のウィンドウが切り替わったため、記入を中止しました。", platform::MsgOk,
                     ErrorTitle);
            break;
        case SendResult::ModifiersHeld:
            d.MsgBox("Shift・Ctrl・Alt キーが押されたままのため、記入しませんでした。",
                     platform::MsgOk, ErrorTitle);
            break;
    }
}
