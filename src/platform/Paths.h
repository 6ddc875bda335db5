// Where the program and its per-user files live.
#pragma once

#include <filesystem>
#include <string>

namespace platform {

// Directory of the running executable, without a trailing '/' (the root stays "/").
std::string ExecutableDir();
// Tests run the program's logic in-process against a directory of their own.
void SetExecutableDirForTesting(const std::string& dir);

// $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path ConfigHome();
// $XDG_DATA_HOME, else ~/.local/share.
std::filesystem::path DataHome();
// $XDG_CACHE_HOME, else ~/.cache.
std::filesystem::path CacheHome();

// A portable copy keeps its data beside itself: the directory is writable and is not part of
// the system's installed tree.
bool IsPortableDir(const std::filesystem::path& dir);

}  // namespace platform

// The program's directory with exactly one trailing '/'.
std::string AppDir();
