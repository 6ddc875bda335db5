#include "platform/SettingsStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/Paths.h"

namespace platform {
namespace fs = std::filesystem;

namespace {

std::string Escape(const std::string& v) {
    std::string out;
    for (char c : v) {
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
        out += n == 'n' ? '\n' : n == 'r' ? '\r' : n == '0' ? '\0' : n;
    }
    return out;
}

std::vector<std::string> ReadLines(const fs::path& file, bool& exists) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    exists = static_cast<bool>(in);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
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
    std::string tmpl = file.string() + ".XXXXXX";
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return errno;
    ::fchmod(fd, 0600);
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(tmpl.c_str());
            return err;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        int err = errno;
        ::unlink(tmpl.c_str());
        return err;
    }
    if (::rename(tmpl.c_str(), file.c_str()) != 0) {
        int err = errno;
        ::unlink(tmpl.c_str());
        return err;
    }
    return 0;
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

std::string SectionOfKey(const std::string& keyPath) {
    size_t slash = keyPath.find_last_of('\\');
    return slash == std::string::npos ? keyPath : keyPath.substr(slash + 1);
}

int StoreValue(const std::string& keyPath, const std::string& name, const std::string& value) {
    const fs::path file = SettingsFilePath();
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (ec) return ec.value();
    FileLock lock(file);
    bool exists = false;
    std::vector<std::string> lines = ReadLines(file, exists);
    bool changed = false;
    long header = EnsureSection(lines, SectionOfKey(keyPath), changed);
    std::string line = name + "=" + Escape(value);
    long at = FindValue(lines, header, name);
    if (at >= 0) {
        lines[static_cast<size_t>(at)] = line;
    } else {
        // After the section's last value, before any blank lines that separate sections.
        size_t pos = static_cast<size_t>(header) + 1;
        for (size_t i = pos; i < lines.size() && !IsSectionHeader(lines[i]); ++i) {
            if (!Trim(lines[i]).empty()) pos = i + 1;
        }
        lines.insert(lines.begin() + static_cast<long>(pos), line);
    }
    return WriteLinesAtomically(file, lines);
}

std::optional<std::string> FetchValue(const std::string& keyPath, const std::string& name) {
    const fs::path file = SettingsFilePath();
    const std::string section = SectionOfKey(keyPath);
    bool exists = false;
    std::vector<std::string> lines = ReadLines(file, exists);
    long header = FindSection(lines, section);
    if (header < 0) {
        // Create the missing section, empty, as opening a registry key would.
        std::error_code ec;
        fs::create_directories(file.parent_path(), ec);
        if (!ec) {
            FileLock lock(file);
            lines = ReadLines(file, exists);
            bool changed = false;
            EnsureSection(lines, section, changed);
            if (changed) WriteLinesAtomically(file, lines);
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
