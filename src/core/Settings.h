// The program's settings in the per-user settings store: the entry count and the editor's
// column widths under SettingKey, the two options under OptionKey. Values are text: numbers
// in decimal, booleans "True"/"False".
#pragma once

#include <string>

#include "core/AppState.h"

inline constexpr const char* SettingKey = "Software\\Tamsel\\Penrika\\Setting";
inline constexpr const char* OptionKey = "Software\\Tamsel\\Penrika\\Option";

// Stores one text value; 0 on success, an errno value otherwise.
int WriteSetting(const std::string& key, const std::string& name, const std::string& value);
// Reads one text value up to its first NUL; "0" (which every reader takes as "not set") when
// it is missing or cannot be read.
std::string ReadSetting(const std::string& key, const std::string& name);

// Where the fill shortcut is stored, under OptionKey; missing or empty when there is none.
inline constexpr const char* FillShortcutValue = "FillShortcut";

// The options as stored (Op_1, Op_2, FillShortcut).
Options LoadOptions();
// The boolean reading of a stored option text: "True" on, "False"/"0" off, other numbers on.
bool OptionTextIsOn(const std::string& text);
