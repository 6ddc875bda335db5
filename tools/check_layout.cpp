// Checks the source tree's layering at build time, so that a wrong include fails the build:
// core (entries, settings, notation, the fill road) includes neither the windows nor a
// platform's own folder; no platform header includes core (the platform lies below it, and the
// keys it presses are its own vocabulary); a platform's folder includes no window; the windows
// reach a platform only through its interfaces (only main.cpp picks the implementation); no
// window reaches another through a singleton (a window gets the windows it needs handed down);
// and no two files include each other, directly or round about.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
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
    if (StartsWith(from, "ui/") && IsPlatformFolder(to))
        return "a window includes a platform's own folder (only main.cpp picks it)";
    if (StartsWith(from, "platform/") && !IsPlatformFolder(from) && IsPlatformFolder(to))
        return "an interface includes an implementation";
    return "";
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Stem(const std::string& file) {
    return file.substr(0, file.rfind('.'));
}

// The singleton accessors the window headers declare: a function without parameters that hands
// out a window, a static member of the window's own class ("MainToolbar::Instance") or a free
// function ("HelpWindow"), each with the header that declares it.
std::vector<std::pair<std::string, std::string>> Singletons(
    const std::map<std::string, std::string>& uiText) {
    std::vector<std::pair<std::string, std::string>> found;
    const std::regex member(R"re(static\s+(\w+)\s*\*\s*(\w+)\s*\(\s*\)\s*;)re");
    const std::regex freeFunction(R"re((?:^|\n)(\w+)\s*\*\s*(\w+)\s*\(\s*\)\s*;)re");
    for (const auto& [file, text] : uiText) {
        if (!file.ends_with(".h")) continue;
        for (std::sregex_iterator m(text.begin(), text.end(), member), end; m != end; ++m) {
            const std::string cls = (*m)[1];
            if (text.find("class " + cls) != std::string::npos)
                found.push_back({cls + "::" + (*m)[2].str(), file});
        }
        for (std::sregex_iterator m(text.begin(), text.end(), freeFunction), end; m != end; ++m) {
            const std::string type = (*m)[1];
            if (type == "QWidget" || type == "QDialog" ||
                text.find("class " + type) != std::string::npos)
                found.push_back({(*m)[2].str(), file});
        }
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const fs::path src = argv[1];
    std::map<std::string, std::vector<std::string>> includes;
    std::map<std::string, std::string> uiText;
    const std::regex include(R"re(^\s*#\s*include\s+"([^"]+)")re");
    for (const auto& e : fs::recursive_directory_iterator(src)) {
        const std::string ext = e.path().extension().string();
        if (!e.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
        const std::string file = fs::relative(e.path(), src).generic_string();
        if (StartsWith(file, "ui/")) uiText[file] = ReadAll(e.path());
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
    // A window that asks another window's class for its one instance is tied to it in a way
    // the includes do not show (and may find it gone, or another one).
    for (const auto& [name, header] : Singletons(uiText)) {
        const std::regex use("\\b" + name + "\\s*\\(");
        for (const auto& [file, text] : uiText) {
            if (Stem(file) == Stem(header) || !std::regex_search(text, use)) continue;
            std::cerr << "src/" << file << ": names " << name << "() of " << header
                      << ": a window reaches another through its singleton (hand it down)\n";
            ++faults;
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
