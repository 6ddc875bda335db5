// The per-user settings file that stands in for the registry: one INI file with a section per
// key ([Setting], [Option]). Every call reads or writes the file afresh; writes are atomic and
// serialised between processes, so concurrent writers lose no value.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// $XDG_CONFIG_HOME/Tamsel/Penrika.ini
std::filesystem::path SettingsFilePath();

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
// file holds all of them or none.
int StoreValues(const std::string& keyPath, const std::vector<ValueChange>& changes);

// 0 when the settings file can be read or does not exist yet; otherwise the errno value that
// reading it gives (a directory in its place, no permission, an I/O error).
int SettingsReadError();
// Fetches one value; nullopt when the file, section or value is missing or unreadable.
// An unreadable file is never written to.
// Like opening a registry key, a read creates the file and the section when they are missing.
std::optional<std::string> FetchValue(const std::string& keyPath, const std::string& name);

}  // namespace platform

namespace platform {
// The settings file's path as text, for messages.
inline std::string SettingsFilePathText() {
    return SettingsFilePath().string();
}
}  // namespace platform
