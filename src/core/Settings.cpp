#include "core/Settings.h"

#include <cctype>
#include <optional>

#include "platform/SettingsStore.h"

int WriteSetting(const std::string& key, const std::string& name, const std::string& value) {
    return platform::StoreValue(key, name, value);
}

std::string ReadSetting(const std::string& key, const std::string& name) {
    std::optional<std::string> v = platform::FetchValue(key, name);
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

Options LoadOptions() {
    Options o;
    o.alwaysOnTop = OptionTextIsOn(ReadSetting(OptionKey, "Op_1"));
    o.confirmBeforeFill = OptionTextIsOn(ReadSetting(OptionKey, "Op_2"));
    // ReadSetting's "0" is a missing value, never a combination.
    o.fillShortcut = ReadSetting(OptionKey, FillShortcutValue);
    if (o.fillShortcut == "0") o.fillShortcut.clear();
    return o;
}
