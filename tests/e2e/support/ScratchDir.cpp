#include "e2e/support/ScratchDir.h"

#include <stdlib.h>

#include "e2e/support/Util.h"

namespace fs = std::filesystem;

namespace e2e {

ScratchDir::ScratchDir(const std::string& prefix) {
    const fs::path base = ScratchBase();
    std::string tmpl = (base / (prefix + ".XXXXXX")).string();
    if (!::mkdtemp(tmpl.data())) throw Error("mkdtemp failed in " + base.string());
    path_ = tmpl;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

}  // namespace e2e
