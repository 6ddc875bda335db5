#include "support/ScratchDir.h"

#include <cstdlib>
#include <random>

namespace fs = std::filesystem;

fs::path ScratchDir::Base() {
#ifndef _WIN32
    // A Linux path: under Wine it would name nothing.
    const char* work = std::getenv("PENRIKA_TEST_WORK");
    if (work && *work) return work;
#endif
    return fs::temp_directory_path();
}

ScratchDir::ScratchDir(const std::string& prefix) {
    const fs::path base = Base();
    std::random_device random;
    do {
        path_ = base / (prefix + "." + std::to_string(random()));
    } while (!fs::create_directory(path_));
    fs::permissions(path_, fs::perms::owner_all);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}
