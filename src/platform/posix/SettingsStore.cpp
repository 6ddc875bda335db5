#include "platform/SettingsStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"

namespace platform {
namespace fs = std::filesystem;

namespace {

// Backslash escapes for what a line cannot hold as it is. Blanks at a value's ends are escaped
// too: the reader trims blanks around the "=", as hand-edited files expect.
std::string Escape(const std::string& v) {
    std::string out;
    const size_t first = v.find_first_not_of(" \t");
    const size_t last = v.find_last_not_of(" \t");
    for (size_t i = 0; i < v.size(); ++i) {
        const char c = v[i];
        if ((c == ' ' || c == '\t') && (first == std::string::npos || i < first || i > last)) {
            out += c == ' ' ? "\\s" : "\\t";
            continue;
        }
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Unescape(const std::string& v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            out += v[i];
            continue;
        }
        char n = v[++i];
        out += n == 'n'   ? '\n'
               : n == 'r' ? '\r'
               : n == '0' ? '\0'
               : n == 's' ? ' '
               : n == 't' ? '\t'
                          : n;
    }
    return out;
}

// Reads the settings file's lines. 0 when read, ENOENT when there is no file (a first start),
// another errno value when a file is there but cannot be read: that is never an empty file.
int ReadLines(const fs::path& file, std::vector<std::string>& lines) {
    lines.clear();
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int err = S_ISDIR(st.st_mode) ? EISDIR : errno != 0 ? errno : EINVAL;
        ::close(fd);
        return err;
    }
    std::string text;
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            return err;
        }
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    for (size_t from = 0; from < text.size();) {
        size_t nl = text.find('\n', from);
        std::string line = text.substr(from, nl == std::string::npos ? nl : nl - from);
        // However many CRs end a line, none is part of it: a rewrite writes LF alone.
        while (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        if (nl == std::string::npos) break;
        from = nl + 1;
    }
    return 0;
}

// Reads for a rewrite: a missing file is an empty one, an unreadable one is an error.
int ReadLinesForRewrite(const fs::path& file, std::vector<std::string>& lines) {
    int err = ReadLines(file, lines);
    return err == ENOENT ? 0 : err;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// Index of the "[section]" line, or -1.
long FindSection(const std::vector<std::string>& lines, const std::string& section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (Trim(lines[i]) == "[" + section + "]") return static_cast<long>(i);
    }
    return -1;
}

bool IsSectionHeader(const std::string& line) {
    std::string t = Trim(line);
    return t.size() >= 2 && t.front() == '[' && t.back() == ']';
}

// Index of the "name=" line inside the section that starts at `header`, or -1.
long FindValue(const std::vector<std::string>& lines, long header, const std::string& name) {
    for (size_t i = static_cast<size_t>(header) + 1; i < lines.size(); ++i) {
        if (IsSectionHeader(lines[i])) break;
        size_t eq = lines[i].find('=');
        if (eq != std::string::npos && Trim(lines[i].substr(0, eq)) == name)
            return static_cast<long>(i);
    }
    return -1;
}

// Holds an exclusive lock on the settings file's lock file for one read-modify-write.
class FileLock {
  public:
    explicit FileLock(const fs::path& file) {
        fd_ = ::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_ = -1;
};

int WriteLinesAtomically(const fs::path& file, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return ReplaceFile(file, text);
}

// Makes sure the section exists in `lines`; returns its header index.
long EnsureSection(std::vector<std::string>& lines, const std::string& section, bool& changed) {
    long header = FindSection(lines, section);
    if (header >= 0) return header;
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
    lines.push_back("[" + section + "]");
    changed = true;
    return static_cast<long>(lines.size()) - 1;
}

}  // namespace

fs::path SettingsFilePath() {
    return ConfigHome() / "Tamsel" / "Penrika.ini";
}

std::string SettingsPlaceText() {
    return "設定ファイル " + SettingsFilePath().string();
}

std::string SectionOfKey(const std::string& keyPath) {
    size_t slash = keyPath.find_last_of('\\');
    return slash == std::string::npos ? keyPath : keyPath.substr(slash + 1);
}

namespace {
// Sets (or, with nullopt, removes) one value in `lines`.
void SetInLines(std::vector<std::string>& lines, const std::string& section,
                const std::string& name, const std::optional<std::string>& value) {
    bool changed = false;
    long header = value ? EnsureSection(lines, section, changed) : FindSection(lines, section);
    if (header < 0) return;
    long at = FindValue(lines, header, name);
    if (!value) {
        if (at >= 0) lines.erase(lines.begin() + at);
        return;
    }
    std::string line = name + "=" + Escape(*value);
    if (at >= 0) {
        lines[static_cast<size_t>(at)] = line;
        return;
    }
    // After the section's last value, before any blank lines that separate sections.
    size_t pos = static_cast<size_t>(header) + 1;
    for (size_t i = pos; i < lines.size() && !IsSectionHeader(lines[i]); ++i) {
        if (!Trim(lines[i]).empty()) pos = i + 1;
    }
    lines.insert(lines.begin() + static_cast<long>(pos), line);
}
}  // namespace

int StoreValues(const std::string& keyPath, const std::vector<ValueChange>& changes) {
    const fs::path file = SettingsFilePath();
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (ec) return ec.value();
    FileLock lock(file);
    std::vector<std::string> lines;
    // A file that is there but cannot be read is never replaced by one holding only these.
    if (int err = ReadLinesForRewrite(file, lines)) return err;
    for (const ValueChange& c : changes) SetInLines(lines, SectionOfKey(keyPath), c.name, c.value);
    int err = WriteLinesAtomically(file, lines);
    if (err == 0) RemoveLeftoverTemporaries(file);
    return err;
}

int StoreValue(const std::string& keyPath, const std::string& name, const std::string& value) {
    return StoreValues(keyPath, {{name, value}});
}

int SettingsReadError() {
    std::vector<std::string> lines;
    int err = ReadLines(SettingsFilePath(), lines);
    return err == ENOENT ? 0 : err;
}

std::optional<std::string> FetchValue(const std::string& keyPath, const std::string& name) {
    const fs::path file = SettingsFilePath();
    const std::string section = SectionOfKey(keyPath);
    std::vector<std::string> lines;
    int err = ReadLines(file, lines);
    if (err != 0 && err != ENOENT) return std::nullopt;
    long header = FindSection(lines, section);
    if (header < 0) {
        // Create the missing section, empty, as opening a registry key would.
        std::error_code ec;
        fs::create_directories(file.parent_path(), ec);
        if (!ec) {
            FileLock lock(file);
            if (ReadLinesForRewrite(file, lines) == 0) {
                bool changed = false;
                EnsureSection(lines, section, changed);
                if (changed) WriteLinesAtomically(file, lines);
            }
        }
        return std::nullopt;
    }
    long at = FindValue(lines, header, name);
    if (at < 0) return std::nullopt;
    const std::string& l = lines[static_cast<size_t>(at)];
    std::string raw = Trim(l.substr(l.find('=') + 1));
    return Unescape(raw);
}

}  // namespace platform
