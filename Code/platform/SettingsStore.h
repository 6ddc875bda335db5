// The per-user settings file that stands in for the registry: one INI file with a section per
// key ([Setting], [Option]). Every call reads or writes the file afresh; writes are atomic and
// serialised between processes, so concurrent writers lose no value.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

// $XDG_CONFIG_HOME/Tamsel/Penrika.ini
std::filesystem::path SettingsFilePath();

// The section that stands for a key path: its last component ("...\\Setting" -> "Setting").
std::string SectionOfKey(const std::string& keyPath);

// Stores one value; 0 on success, an errno value otherwise.
int StoreValue(const std::string& keyPath, const std::string& name, const std::string& value);
// Fetches one value; nullopt when the file, section or value is missing or unreadable.
// Like opening a registry key, a read creates the file and the section when they are missing.
std::optional<std::string> FetchValue(const std::string& keyPath, const std::string& name);

}  // namespace platform

namespace platform {
// The settings file's path as text, for messages.
inline std::string SettingsFilePathText() {
    return SettingsFilePath().string();
}
}  // namespace platform
