#include "platform/Paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <system_error>

namespace platform {
namespace fs = std::filesystem;

namespace {
std::optional<std::string> g_testDir;

fs::path HomeDir() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

fs::path XdgDir(const char* var, const char* fallback) {
    // The XDG rules ignore relative paths.
    if (const char* v = std::getenv(var); v && *v == '/') return v;
    return HomeDir() / fallback;
}
}  // namespace

std::string ExecutableDir() {
    if (g_testDir) return *g_testDir;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return fs::current_path().string();
    std::string dir = exe.parent_path().string();
    return dir.empty() ? "/" : dir;
}

void SetExecutableDirForTesting(const std::string& dir) {
    g_testDir = dir;
}

fs::path ConfigHome() {
    return XdgDir("XDG_CONFIG_HOME", ".config");
}
fs::path DataHome() {
    return XdgDir("XDG_DATA_HOME", ".local/share");
}

fs::path CacheHome() {
    return XdgDir("XDG_CACHE_HOME", ".cache");
}

bool IsPortableDir(const fs::path& dir) {
    const std::string s = dir.string() + "/";
    // An installed copy never writes beside itself, even when run by root.
    for (const char* sys : {"/usr/", "/bin/", "/sbin/", "/lib/", "/opt/", "/snap/"}) {
        if (s.rfind(sys, 0) == 0) return false;
    }
    return ::access(dir.c_str(), W_OK) == 0;
}

}  // namespace platform

std::string AppDir() {
    std::string dir = platform::ExecutableDir();
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}
