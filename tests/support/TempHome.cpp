#include "support/TempHome.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/Paths.h"

namespace fs = std::filesystem;

TempHome::TempHome() {
    std::string tmpl = (fs::temp_directory_path() / "penrika-test.XXXXXX").string();
    root_ = ::mkdtemp(tmpl.data());
    fs::create_directories(appDir());
    fs::create_directories(configHome());
    fs::create_directories(dataHome());
    if (const char* v = std::getenv("XDG_CONFIG_HOME")) hadConfig_ = true, oldConfig_ = v;
    if (const char* v = std::getenv("XDG_DATA_HOME")) hadData_ = true, oldData_ = v;
    ::setenv("XDG_CONFIG_HOME", configHome().c_str(), 1);
    ::setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
    platform::SetExecutableDirForTesting(appDir().string());
}

TempHome::~TempHome() {
    if (hadConfig_)
        ::setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    if (hadData_)
        ::setenv("XDG_DATA_HOME", oldData_.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
    std::error_code ec;
    fs::remove_all(root_, ec);
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
