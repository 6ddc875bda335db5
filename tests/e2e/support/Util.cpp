#include "e2e/support/Util.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace e2e {

std::runtime_error Error(const std::string& what) {
    return std::runtime_error("e2e: " + what);
}

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
    if (!out) throw Error("cannot write " + p.string());
}

std::string Tail(const std::string& s, std::size_t n) {
    return s.size() <= n ? s : s.substr(s.size() - n);
}

fs::path SourceDir() {
#ifdef PENRIKA_SOURCE_DIR
    return PENRIKA_SOURCE_DIR;
#else
    return fs::path(__FILE__).parent_path().parent_path().parent_path().parent_path();
#endif
}

}  // namespace e2e
