// Checks the source tree's layering at build time, so that a wrong include fails the build:
// core (entries, settings, notation, the fill road) includes neither the windows nor a
// platform's own folder; no platform header includes core (the platform lies below it, and the
// keys it presses are its own vocabulary); a platform's folder includes no window; the windows
// reach a platform only through its interfaces (only main.cpp picks the implementation); and no
// two files include each other, directly or round about.
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool IsPlatformFolder(const std::string& p) {
    return StartsWith(p, "platform/") && p.find('/', 9) != std::string::npos;
}

// Why `from` may not include `to` (both relative to src/), or "" when it may.
std::string Forbidden(const std::string& from, const std::string& to) {
    if (StartsWith(from, "core/")) {
        if (StartsWith(to, "ui/")) return "core includes a window";
        if (IsPlatformFolder(to)) return "core includes a platform's own folder";
    }
    if (StartsWith(from, "platform/") && StartsWith(to, "core/") && from.ends_with(".h"))
        return "a platform header includes core (core is built on the platform, not under it)";
    if (IsPlatformFolder(from) && StartsWith(to, "ui/")) return "a platform includes a window";
    if (StartsWith(from, "ui/") && IsPlatformFolder(to) && !StartsWith(to, "platform/qt/"))
        return "a window includes a platform's own folder (only main.cpp picks it)";
    if (StartsWith(from, "platform/") && !IsPlatformFolder(from) && IsPlatformFolder(to))
        return "an interface includes an implementation";
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const fs::path src = argv[1];
    std::map<std::string, std::vector<std::string>> includes;
    const std::regex include(R"re(^\s*#\s*include\s+"([^"]+)")re");
    for (const auto& e : fs::recursive_directory_iterator(src)) {
        const std::string ext = e.path().extension().string();
        if (!e.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
        const std::string file = fs::relative(e.path(), src).generic_string();
        std::ifstream in(e.path());
        std::vector<std::string>& list = includes[file];
        for (std::string line; std::getline(in, line);) {
            std::smatch m;
            if (std::regex_search(line, m, include) && fs::exists(src / m[1].str()))
                list.push_back(m[1].str());
        }
    }
    int faults = 0;
    for (const auto& [file, list] : includes) {
        for (const std::string& to : list) {
            if (std::string why = Forbidden(file, to); !why.empty()) {
                std::cerr << "src/" << file << ": includes " << to << ": " << why << "\n";
                ++faults;
            }
        }
    }
    // Include cycles, by depth-first search.
    std::map<std::string, int> state;  // 1 on the path, 2 done
    std::vector<std::string> path;
    std::function<void(const std::string&)> visit = [&](const std::string& f) {
        state[f] = 1;
        path.push_back(f);
        for (const std::string& to : includes[f]) {
            if (state[to] == 1) {
                std::cerr << "include cycle:";
                for (auto it = std::find(path.begin(), path.end(), to); it != path.end(); ++it)
                    std::cerr << " " << *it << " ->";
                std::cerr << " " << to << "\n";
                ++faults;
            } else if (state[to] == 0) {
                visit(to);
            }
        }
        path.pop_back();
        state[f] = 2;
    };
    for (const auto& [file, list] : includes)
        if (state[file] == 0) visit(file);
    return faults == 0 ? 0 : 1;
}
