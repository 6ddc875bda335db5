// Where the program and its per-user files live.
#pragma once

#include <filesystem>
#include <string>

namespace platform {

// Directory of the running executable, without a trailing separator (a root keeps its own:
// "/", "C:\\"). UTF-8 text: make a path of it with PathFromUtf8.
std::string ExecutableDir();
// Tests run the program's logic in-process against a directory of their own.
void SetExecutableDirForTesting(const std::string& dir);

// $XDG_CONFIG_HOME, else ~/.config. Windows: the roaming application data folder (%APPDATA%).
std::filesystem::path ConfigHome();
// $XDG_DATA_HOME, else ~/.local/share. Windows: %APPDATA%, as above.
std::filesystem::path DataHome();
// $XDG_CACHE_HOME, else ~/.cache. Windows: the local application data folder (%LOCALAPPDATA%).
std::filesystem::path CacheHome();

// A portable copy keeps its data beside itself: the directory is writable and is not part of
// the system's installed tree.
bool IsPortableDir(const std::filesystem::path& dir);

// A path as UTF-8 text, for messages, and a path from UTF-8 text (the plain narrow conversions
// would go through Windows' ANSI code page).
inline std::string PathText(const std::filesystem::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}
inline std::filesystem::path PathFromUtf8(const std::string& s) {
    return std::filesystem::path(std::u8string(s.begin(), s.end()));
}

}  // namespace platform

// The program's directory with exactly one trailing separator ('/', on Windows '\\').
std::string AppDir();
