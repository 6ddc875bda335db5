#include "platform/SettingsStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"

namespace platform {
namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool IsSectionHeader(const std::string& line) {
    std::string t = Trim(line);
    return t.size() >= 2 && t.front() == '[' && t.back() == ']';
}

bool IsIniLine(const std::string& line) {
    if (IsSectionHeader(line)) return true;
    const size_t eq = line.find('=');
    return eq != std::string::npos && !Trim(line.substr(0, eq)).empty();
}

// The length of the UTF-8 sequence that starts at `at`, 0 when none does there.
size_t Utf8SequenceLength(std::string_view s, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = byte(at);
    if (c < 0x80) return 1;
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
    else
        return 0;
    if (at + n > s.size() || byte(at + 1) < lo || byte(at + 1) > hi) return 0;
    for (size_t i = at + 2; i < at + n; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return n;
}

// Backslash escapes for what a line cannot hold as it is: line breaks, NULs and bytes that are
// not UTF-8 (a file holding those would not read as settings text). Blanks at a value's ends
// are escaped too: the reader trims blanks around the "=", as hand-edited files expect.
std::string Escape(const std::string& v) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    const size_t first = v.find_first_not_of(" \t");
    const size_t last = v.find_last_not_of(" \t");
    for (size_t i = 0; i < v.size(); ++i) {
        const char c = v[i];
        if ((c == ' ' || c == '\t') && (first == std::string::npos || i < first || i > last)) {
            out += c == ' ' ? "\\s" : "\\t";
            continue;
        }
        if (static_cast<unsigned char>(c) >= 0x80) {
            const size_t n = Utf8SequenceLength(v, i);
            if (n == 0) {
                const auto b = static_cast<unsigned char>(c);
                out += {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
            } else {
                out.append(v, i, n);
                i += n - 1;
            }
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

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Unescape(const std::string& v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            out += v[i];
            continue;
        }
        char n = v[++i];
        if (n == 'x' && i + 2 < v.size() && HexDigit(v[i + 1]) >= 0 && HexDigit(v[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(v[i + 1]) * 16 + HexDigit(v[i + 2]));
            i += 2;
            continue;
        }
        out += n == 'n'   ? '\n'
               : n == 'r' ? '\r'
               : n == '0' ? '\0'
               : n == 's' ? ' '
               : n == 't' ? '\t'
                          : n;
    }
    return out;
}

// Whether `text` is UTF-8 throughout: no overlong forms, surrogates or code points past U+10FFFF.
bool IsUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8SequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

// What a settings file's bytes give: 0 and its lines, or EILSEQ when they are not text (a NUL,
// invalid UTF-8) or, not being blank, hold not one line of the INI form: garbage, or a device's
// output, must not pass for a file without settings.
int SplitSettingsText(std::string_view text, std::vector<std::string>& lines) {
    // A BOM that an editor put first is not part of the first line.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (text.find('\0') != std::string_view::npos || !IsUtf8(text)) return EILSEQ;
    bool blank = true, ini = false;
    for (size_t from = 0; from < text.size();) {
        size_t nl = text.find('\n', from);
        std::string line(text.substr(from, nl == std::string_view::npos ? nl : nl - from));
        // However many CRs end a line, none is part of it: a rewrite writes LF alone.
        while (!line.empty() && line.back() == '\r') line.pop_back();
        blank = blank && line.find_first_not_of(" \t") == std::string::npos;
        ini = ini || IsIniLine(line);
        lines.push_back(std::move(line));
        if (nl == std::string_view::npos) break;
        from = nl + 1;
    }
    if (!blank && !ini) {
        lines.clear();
        return EILSEQ;
    }
    return 0;
}

// Reads the settings file's lines. 0 when read, ENOENT when there is no file (a first start),
// another errno value when something is there that cannot be read as settings: that is never
// an empty file. EISDIR for a folder, EINVAL for anything else that is not a regular file (a
// device, a FIFO, a socket), EILSEQ for a file that is not settings text.
int ReadLines(const fs::path& file, std::vector<std::string>& lines) {
    lines.clear();
    // Not blocking: a FIFO at this name would otherwise hold start-up until a writer came.
    int fd;
    do {
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int err = errno;
        // A socket cannot be opened at all (ENXIO): named for what it is, not a device.
        struct stat st {};
        if (err != ENOENT && ::stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode) &&
            !S_ISDIR(st.st_mode))
            return EINVAL;
        return err;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    }
    std::string text;
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return err;
        }
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return SplitSettingsText(text, lines);
}

// Reads for a rewrite: a missing file is an empty one, an unreadable one is an error.
int ReadLinesForRewrite(const fs::path& file, std::vector<std::string>& lines) {
    int err = ReadLines(file, lines);
    return err == ENOENT ? 0 : err;
}

// Index of the "[section]" line, or -1.
long FindSection(const std::vector<std::string>& lines, const std::string& section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (Trim(lines[i]) == "[" + section + "]") return static_cast<long>(i);
    }
    return -1;
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

// Where a rewrite goes: through a link, to the file it names, so that settings kept elsewhere
// (a folder of dotfiles) stay linked rather than being replaced by a copy beside the link.
fs::path WriteTarget(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_symlink(file, ec)) return file;
    fs::path target = fs::canonical(file, ec);
    return ec ? file : target;
}

int WriteLinesAtomically(const fs::path& file, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    const fs::path target = WriteTarget(file);
    const int err = ReplaceFile(target, text);
    if (err == 0) RemoveLeftoverTemporaries(target);
    return err;
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
    return WriteLinesAtomically(file, lines);
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
