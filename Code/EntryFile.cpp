#include "EntryFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "modMain.h"
#include "modMainForm.h"
#include "platform/AnsiCodePage.h"
#include "platform/Paths.h"
#include "platform/SettingsStore.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string SystemError(int err) {
    return std::strerror(err);
}

void AppendQuoted(std::string& out, const std::string& field) {
    out += '"';
    // A quote inside a field is doubled; without quotes the line is as it always was.
    for (size_t from = 0;;) {
        size_t q = field.find('"', from);
        if (q == std::string::npos) {
            out.append(field, from);
            break;
        }
        out.append(field, from, q + 1 - from);
        out += '"';
        from = q + 1;
    }
    out += '"';
}

// Reads fields one after another, as a stream: a comma and a line end both end a field.
class FieldReader {
  public:
    explicit FieldReader(std::string_view text) : s_(text) {}

    bool AtEnd() const { return i_ >= s_.size(); }

    // Reads the next field; false when the text has ended.
    bool Next(std::string& field) {
        field.clear();
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
        if (i_ >= s_.size()) return false;
        if (s_[i_] == '"') {
            ++i_;
            while (true) {
                size_t q = s_.find('"', i_);
                if (q == std::string_view::npos) {  // unclosed: the rest is the field
                    field.append(s_.substr(i_));
                    i_ = s_.size();
                    break;
                }
                field.append(s_.substr(i_, q - i_));
                i_ = q + 1;
                if (i_ < s_.size() && s_[i_] == '"') {
                    field += '"';
                    ++i_;
                } else {
                    break;
                }
            }
            // Anything between the closing quote and the delimiter is dropped.
            i_ = std::min(s_.find_first_of(",\r\n", i_), s_.size());
        } else {
            size_t end = std::min(s_.find_first_of(",\r\n", i_), s_.size());
            field.assign(s_.substr(i_, end - i_));
            field.erase(field.find_last_not_of(" \t") + 1);
            i_ = end;
        }
        SkipDelimiter();
        return true;
    }

  private:
    void SkipDelimiter() {
        if (i_ >= s_.size()) return;
        if (s_[i_] == ',') {
            ++i_;
        } else if (s_[i_] == '\r') {
            ++i_;
            if (i_ < s_.size() && s_[i_] == '\n') ++i_;
        } else if (s_[i_] == '\n') {
            ++i_;
        }
    }

    std::string_view s_;
    size_t i_ = 0;
};

}  // namespace

fs::path DataDir() {
    fs::path app = AppDir();
    if (platform::IsPortableDir(app)) return app;
    return platform::DataHome() / "Penrika";
}

fs::path DataFilePath() {
    return DataDir() / DataFileName;
}

std::int16_t ParseEntryCount(const std::string& text) {
    bool digits = !text.empty() && text.size() <= 5;
    for (char c : text) digits = digits && c >= '0' && c <= '9';
    long n = digits ? std::stol(text) : -1;
    if (n < 0 || n > 32767) {
        throw EntryFileError("設定ファイル " + platform::SettingsFilePathText() +
                             " の Set_6（登録件数）が 0 から 32767 までの数ではありません: \"" +
                             text + "\"");
    }
    return static_cast<std::int16_t>(n);
}

std::string EncodeEntries(const std::vector<Entry>& rows, std::size_t count) {
    std::string utf8;
    size_t size = 0;
    for (std::size_t r = 0; r < count; ++r) {
        size += rows[r][0].size() + rows[r][1].size() + rows[r][2].size() + 10;
    }
    utf8.reserve(size);
    for (std::size_t r = 0; r < count; ++r) {
        AppendQuoted(utf8, rows[r][ItemLabel]);
        utf8 += ',';
        AppendQuoted(utf8, rows[r][FillText]);
        utf8 += ',';
        AppendQuoted(utf8, rows[r][Memo]);
        utf8 += "\r\n";
    }
    if (std::optional<std::string> ansi = platform::ToAnsi(utf8)) return *ansi;
    return std::string(kBom) + utf8;
}

std::vector<Entry> DecodeEntries(std::string_view bytes, std::size_t count,
                                 const std::string& fileName) {
    std::string text;
    if (bytes.substr(0, kBom.size()) == kBom) {
        text.assign(bytes.substr(kBom.size()));
    } else {
        text = platform::FromAnsi(bytes);
    }
    FieldReader reader(text);
    std::vector<Entry> rows(count);
    for (std::size_t r = 0; r < count; ++r) {
        for (int c = 0; c < 3; ++c) {
            if (!reader.Next(rows[r][static_cast<size_t>(c)])) {
                throw EntryFileError("データファイル " + fileName + " が途中で終わっています。" +
                                     std::to_string(count) + " 件のうち " + std::to_string(r) +
                                     " 件しか読めませんでした。");
            }
        }
    }
    return rows;
}

void LoadEntries() {
    std::int16_t count = ParseEntryCount(ReadSetting(HKEY_CURRENT_USER, SettingKey, "Set_6"));
    ResizeEntryTable(count);
    if (count == 0) return;
    const fs::path file = DataFilePath();
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw EntryFileError("データファイル " + file.string() + " を開けません（" +
                             SystemError(errno) + "）。");
    }
    std::ostringstream buf;
    buf << in.rdbuf();
    if (in.bad()) {
        throw EntryFileError("データファイル " + file.string() + " を読めません。");
    }
    std::vector<Entry> rows = DecodeEntries(buf.str(), static_cast<size_t>(count), file.string());
    for (std::size_t r = 0; r < rows.size(); ++r) EntryTable[r] = std::move(rows[r]);
}

void WriteFileAtomically(const fs::path& file, std::string_view bytes) {
    auto fail = [&](const std::string& what, int err) {
        throw EntryFileError("データファイル " + file.string() + " を保存できません（" + what +
                             ": " + SystemError(err) + "）。");
    };
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::string tmpl = file.string() + ".tmp-XXXXXX";
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) fail("作成", errno);
    ::fchmod(fd, 0600);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(tmpl.c_str());
            fail("書き込み", err);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) {
        int err = errno;
        ::close(fd);
        ::unlink(tmpl.c_str());
        fail("書き込み", err);
    }
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(tmpl.c_str());
        fail("書き込み", err);
    }
    if (::rename(tmpl.c_str(), file.c_str()) != 0) {
        int err = errno;
        ::unlink(tmpl.c_str());
        fail("置き換え", err);
    }
    // Make the rename itself durable.
    int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void SaveEntries() {
    auto storeCount = [] {
        if (WriteSetting(REG_SZ_TEXT, HKEY_CURRENT_USER, SettingKey, "Set_6",
                         std::to_string(EntryCount)) != 0) {
            throw EntryFileError("設定ファイル " + platform::SettingsFilePathText() +
                                 " に登録件数を保存できません。");
        }
    };
    // The file and the count are two stores; order them so that a crash between the two leaves
    // a count that the file on disk can satisfy: a smaller count goes first, a larger one last.
    std::string stored = ReadSetting(HKEY_CURRENT_USER, SettingKey, "Set_6");
    bool shrinking = !stored.empty() &&
                     stored.find_first_not_of("0123456789") == std::string::npos &&
                     stored.size() <= 5 && std::stol(stored) > EntryCount;
    if (shrinking) storeCount();
    if (EntryCount != 0) {
        WriteFileAtomically(DataFilePath(),
                            EncodeEntries(EntryTable, static_cast<size_t>(EntryCount)));
    }
    if (!shrinking) storeCount();
}
