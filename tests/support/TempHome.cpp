#include "support/TempHome.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {
void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    ::_putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}
void UnsetEnv(const char* name) {
#ifdef _WIN32
    ::_putenv_s(name, "");
#else
    ::unsetenv(name);
#endif
}
// Windows keeps the settings in the user's registry: the key starts empty and ends gone. That
// is only done in a Wine prefix of the test's own, never to a real user's settings.
void ClearSettings() {
#ifdef _WIN32
    static const bool underWine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (!underWine) {
        std::fputs("These tests replace Penrika's registry settings: run them under Wine "
                   "(tests/support/with-wine.sh), not on a user's Windows.\n", stderr);
        std::abort();
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tamsel\\Penrika");
#endif
}
}  // namespace

TempHome::TempHome() {
    ClearSettings();
    fs::create_directories(appDir());
    fs::create_directories(configHome());
    fs::create_directories(dataHome());
    if (const char* v = std::getenv("XDG_CONFIG_HOME")) hadConfig_ = true, oldConfig_ = v;
    if (const char* v = std::getenv("XDG_DATA_HOME")) hadData_ = true, oldData_ = v;
    SetEnv("XDG_CONFIG_HOME", configHome().string());
    SetEnv("XDG_DATA_HOME", dataHome().string());
    platform::SetExecutableDirForTesting(platform::PathText(appDir()));
}

TempHome::~TempHome() {
    hadConfig_ ? SetEnv("XDG_CONFIG_HOME", oldConfig_) : UnsetEnv("XDG_CONFIG_HOME");
    hadData_ ? SetEnv("XDG_DATA_HOME", oldData_) : UnsetEnv("XDG_DATA_HOME");
    ClearSettings();
}

std::string TempHome::ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void TempHome::WriteFile(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}
