#include "core/EntryFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "core/CodePage932.h"
#include "core/Settings.h"
#include "core/Utf8.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/SettingsStore.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// A save in progress: "<count> <size>-<hash>" of the data file it is about to put in place.
constexpr const char* kPendingValue = "Set_6_Pending";
constexpr const char* kCountValue = "Set_6";

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

// The text as it can stand in a message: bytes that are not UTF-8 as \xNN, control
// characters as ^X.
std::string Printable(std::string_view text) {
    std::string out;
    char32_t cp;
    for (size_t i = 0, n; i < text.size(); i += n) {
        n = DecodeUtf8(text, i, cp);
        if (n == 0) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[i]));
            out += hex;
            n = 1;
        } else if (cp < 0x20 || cp == 0x7F) {
            out += '^';
            out += static_cast<char>(cp ^ 0x40);
        } else {
            out.append(text.substr(i, n));
        }
    }
    return out;
}

}  // namespace

std::string SaveFingerprint(std::string_view bytes) {
    // FNV-1a: only has to tell this save's bytes from whatever file was there before.
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) h = (h ^ c) * 0x100000001b3ull;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%zu-%016llx", bytes.size(), static_cast<unsigned long long>(h));
    return buf;
}

namespace {

struct PendingSave {
    std::int16_t count = 0;
    std::string fingerprint;
};

std::optional<PendingSave> ParsePending(const std::string& text) {
    const size_t space = text.find(' ');
    if (space == std::string::npos) return std::nullopt;
    try {
        return PendingSave{ParseEntryCount(text.substr(0, space)), text.substr(space + 1)};
    } catch (const EntryFileError&) {
        return std::nullopt;
    }
}

std::optional<std::string> FetchSetting(const char* name) {
    return platform::FetchValue(SettingKey, name);
}

// The whole file; nullopt when there is none. Throws EntryFileError when it cannot be read.
std::optional<std::string> ReadDataFile(const fs::path& file) {
#ifdef _WIN32
    std::FILE* f = ::_wfopen(file.c_str(), L"rb");
#else
    std::FILE* f = std::fopen(file.c_str(), "rb");
#endif
    if (!f) {
        if (errno == ENOENT) return std::nullopt;
        throw EntryFileError("データーファイル " + platform::PathText(file) + " を開けません（" +
                             SystemError(errno) + "）。");
    }
    std::string bytes;
    std::error_code ec;
    if (fs::is_regular_file(file, ec)) {
        const std::uintmax_t size = fs::file_size(file, ec);
        if (!ec) bytes.reserve(static_cast<size_t>(size));
    }
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    const bool failed = std::ferror(f);
    const int err = errno;
    std::fclose(f);
    if (failed) {
        throw EntryFileError("データーファイル " + platform::PathText(file) + " を読めません（" +
                             SystemError(err) + "）。");
    }
    return bytes;
}

std::string SettingsError(const std::string& what, int err) {
    return platform::SettingsPlaceText() + " " + what + "（" +
           SystemError(err) + "）。";
}

}  // namespace

fs::path DataDir() {
    fs::path app = platform::PathFromUtf8(AppDir());
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
        throw EntryFileError(platform::SettingsPlaceText() +
                             " の Set_6（登録件数）が 0 から 32767 までの数ではありません: \"" +
                             Printable(text) + "\"");
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
    // Code page 932 only when it gives back exactly what it was given: a few characters (〜 ¥
    // − — ‖ ¢ £ ¬ ‾) have a form there that reads back as another character.
    if (std::optional<std::string> ansi = ToCp932Exactly(utf8)) return *ansi;
    return std::string(kBom) + utf8;
}

std::vector<Entry> DecodeEntries(std::string_view bytes, std::size_t count,
                                 const std::string& fileName) {
    // Code page 932 is read field by field: the delimiters (quote, comma, CR, LF, blanks) are
    // never the second byte of a character there, so no character spans two fields, and the
    // file's text is never held twice.
    const bool utf8 = bytes.substr(0, kBom.size()) == kBom;
    const std::string_view text = utf8 ? bytes.substr(kBom.size()) : bytes;
    FieldReader reader(text);
    std::vector<Entry> rows(count);
    for (std::size_t r = 0; r < count; ++r) {
        for (int c = 0; c < 3; ++c) {
            std::string& field = rows[r][static_cast<size_t>(c)];
            if (!reader.Next(field)) {
                throw EntryFileError("データーファイル " + fileName + " が途中で終わっています。" +
                                     std::to_string(count) + " 件のうち " + std::to_string(r) +
                                     " 件しか読めませんでした。");
            }
            if (!utf8) field = FromCp932(field);
        }
    }
    return rows;
}

void LoadEntries(EntryTable& table) {
    if (int err = platform::SettingsReadError()) {
        // Taking it for a first start would replace the entries with an empty table.
        throw EntryFileError(SettingsError("を読めません", err));
    }
    const std::string countText = ReadSetting(SettingKey, kCountValue);
    const fs::path file = DataFilePath();
    std::optional<std::string> bytes;
    std::optional<std::int16_t> pendingCount;
    // A save that was cut short: if its file is in place the new table stands, else the old.
    if (std::optional<std::string> text = FetchSetting(kPendingValue)) {
        std::optional<PendingSave> pending = ParsePending(*text);
        bytes = ReadDataFile(file);
        if (pending && bytes && SaveFingerprint(*bytes) == pending->fingerprint) {
            pendingCount = pending->count;
        }
        std::vector<platform::ValueChange> finish = {{kPendingValue, std::nullopt}};
        if (pendingCount) finish.push_back({kCountValue, std::to_string(*pendingCount)});
        // Should this fail, the record stays and the next start decides the same way.
        platform::StoreValues(SettingKey, finish);
    }
    const std::int16_t count = pendingCount ? *pendingCount : ParseEntryCount(countText);
    platform::RemoveLeftoverTemporaries(file);
    // The table is only touched once everything has been read: a load that fails leaves it as
    // it was, so that nothing half-read can be saved over the file.
    EntryTable loaded;
    loaded.Resize(count);
    if (count != 0) {
        if (!bytes) bytes = ReadDataFile(file);
        if (!bytes) {
            throw EntryFileError("データーファイル " + platform::PathText(file) + " を開けません（" +
                                 SystemError(ENOENT) + "）。");
        }
        std::vector<Entry> rows = DecodeEntries(*std::exchange(bytes, std::nullopt),
                                                static_cast<size_t>(count), platform::PathText(file));
        for (std::size_t r = 0; r < rows.size(); ++r) loaded[r] = std::move(rows[r]);
    }
    table = std::move(loaded);
}

void WriteFileAtomically(const fs::path& file, std::string_view bytes) {
    if (int err = platform::ReplaceFile(file, bytes)) {
        throw EntryFileError("データーファイル " + platform::PathText(file) + " を保存できません（" +
                             SystemError(err) + "）。");
    }
}

void SaveEntries(const EntryTable& table) {
    const std::string count = std::to_string(table.count());
    if (table.count() == 0) {
        // No file to write: the count alone is the table, stored in one step.
        if (int err = platform::StoreValues(SettingKey,
                                            {{kCountValue, count}, {kPendingValue, std::nullopt}}))
            throw EntryFileError(SettingsError("に登録件数を保存できません", err));
        return;
    }
    const fs::path file = DataFilePath();
    const std::string bytes = EncodeEntries(table.rows(), static_cast<size_t>(table.count()));
    // The file and the count are two stores. First record which file goes with which count, so
    // that a start after a crash at any point can tell whether the new file is in place. An
    // earlier save's record may still be what ties the file on disk to its count: it comes back
    // if this save fails.
    const std::optional<std::string> earlier = FetchSetting(kPendingValue);
    if (int err =
            platform::StoreValue(SettingKey, kPendingValue, count + " " + SaveFingerprint(bytes)))
        throw EntryFileError(SettingsError("に登録件数を保存できません", err));
    try {
        WriteFileAtomically(file, bytes);
    } catch (const EntryFileError&) {
        // The old file and count stand, with the record that belongs to them.
        platform::StoreValues(SettingKey, {{kPendingValue, earlier}});
        throw;
    }
    // The new table is in place from here on: if the count cannot be stored now, the record
    // makes the next start take it.
    platform::StoreValues(SettingKey, {{kCountValue, count}, {kPendingValue, std::nullopt}});
    platform::RemoveLeftoverTemporaries(file);
}
