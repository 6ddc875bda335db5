// The per-user settings. On Windows they are in the registry below HKEY_CURRENT_USER, one
// REG_SZ value each. Elsewhere one INI file stands in for the registry, with a section per key
// ([Setting], [Option]); every call reads or writes the file afresh, and writes are atomic and
// serialised between processes, so concurrent writers lose no value.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// $XDG_CONFIG_HOME/Tamsel/Penrika.ini (not on Windows, where there is no file).
std::filesystem::path SettingsFilePath();
// Where the settings are, as messages name them: "設定ファイル <path>", or on Windows the
// registry key HKEY_CURRENT_USER\Software\Tamsel\Penrika.
std::string SettingsPlaceText();

// The section that stands for a key path: its last component ("...\\Setting" -> "Setting").
std::string SectionOfKey(const std::string& keyPath);

// Stores one value; 0 on success, an errno value otherwise. A settings file that exists but
// cannot be read is left as it is (the error is returned).
int StoreValue(const std::string& keyPath, const std::string& name, const std::string& value);

// One value to set, or with no value, to remove.
struct ValueChange {
    std::string name;
    std::optional<std::string> value;
};
// Applies all the changes to one section in a single replace of the file: after a crash the
// file holds all of them or none. The registry stores value by value: there the values set go
// in first, then the removals, and the first failure stops the rest.
int StoreValues(const std::string& keyPath, const std::vector<ValueChange>& changes);

// 0 when the settings file (the registry key and its subkeys) can be read or does not exist
// yet; otherwise the errno value that reading it gives (a directory in its place, no
// permission, an I/O error). Only a regular file is read as settings: anything else there
// (a device, a FIFO) is EINVAL, and a file that is not text (NUL bytes, invalid UTF-8) or that,
// not being blank, holds no "[section]" or "name=value" line at all is EILSEQ.
int SettingsReadError();
// Fetches one value; nullopt when the file, section or value is missing or unreadable.
// An unreadable file is never written to.
// Like opening a registry key, a read creates the file and the section when they are missing.
std::optional<std::string> FetchValue(const std::string& keyPath, const std::string& name);

}  // namespace platform
