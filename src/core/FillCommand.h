// Settings, window placement, help, and typing an entry into the browser.
#pragma once

#include <string>

#include "platform/WindowId.h"

// Where settings live: the two keys of the per-user settings store.
inline constexpr const char* SettingKey = "Software\\Tamsel\\Penrika\\Setting";
inline constexpr const char* OptionKey = "Software\\Tamsel\\Penrika\\Option";
inline constexpr long HKEY_CURRENT_USER = static_cast<long>(0x80000001);
inline constexpr const char* REG_SZ_TEXT = "1";

// Stores one text value; returns 0 on success, a non-zero error code otherwise.
long WriteSetting(const std::string& valueType, long hive, const std::string& keyPath,
                  const std::string& valueName, const std::string& value);
// Reads one text value; "0" when it cannot be read.
std::string ReadSetting(long hive, const std::string& keyPath, const std::string& valueName);
// Refills Options from Op_1 and Op_2.
void LoadOptions();
// The boolean reading of a stored option text: "True" on, "False"/"0" off, other numbers on.
bool OptionTextIsOn(const std::string& text);

// Takes the window out of the topmost band (showing it) when AlwaysOnTop is on.
void DropTopmost(platform::WindowId hwnd);
// Puts the window into the band when AlwaysOnTop is on, out of it otherwise; never shows it.
void ApplyTopmost(platform::WindowId hwnd);
// Opens help topic `context`.
void ShowHelp(platform::WindowId hwnd, long context);

// Titles and texts the fill road shows.
inline constexpr const char* AppTitle = "Penrika";
inline constexpr const char* ErrorTitle = "Penrika：エラー";
inline constexpr const char* MsgBrowserNotRecognised = "プラウザが認識できません。";

// Brings the window titled `title` to the front (an equal title preferred, else one that
// begins with it; BrowserWindow first while its title still matches) and waits, bounded, until
// it is active. Returns that window, or 0 when none became active.
platform::WindowId AppActivate(const std::string& title);

enum class SendResult { Sent, BadNotation, FocusLost, ModifiersHeld };
struct SendOutcome {
    SendResult result = SendResult::Sent;
    std::string error;  // the parser's message for BadNotation
};
// Parses `keys` completely, then types them into `target`, which must stay the active window.
// Returns only after the target has had them.
SendOutcome SendKeys(const std::string& keys, platform::WindowId target);

// Types an entry's text into the field after the highlighted label: confirmation when
// ConfirmBeforeFill is on, activation of the browser, Tab, then the text.
void FillForm(const std::string& text);
