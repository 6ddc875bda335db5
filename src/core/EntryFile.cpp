#include "core/EntryFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "core/CodePage932.h"
#include "core/Settings.h"
#include "core/SystemReason.h"
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
    return SystemReason(err);
}

// What may follow the last record: line breaks, blanks and the end-of-file mark of old editors.
constexpr std::string_view kBlankTail = " \t\r\n\x1A";

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

    // Only line breaks and blanks are left: no further record.
    bool AtBlankTail() const {
        return s_.find_first_not_of(kBlankTail, i_) == std::string_view::npos;
    }
    // Blank lines between records are no records.
    void SkipBlankLines() { i_ = std::min(s_.find_first_not_of(kBlankTail, i_), s_.size()); }
    size_t Position() const { return i_; }
    // The last field opened a quote that the text never closed.
    bool Unclosed() const { return unclosed_; }

    // Reads the next field; false when the text has ended. `field` is a view of the text
    // itself, or of `buf` when the field holds doubled quotes.
    bool Next(std::string_view& field, std::string& buf) {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
        if (i_ >= s_.size()) return false;
        if (s_[i_] == '"') {
            ++i_;
            size_t q = s_.find('"', i_);
            if (q == std::string_view::npos) {  // unclosed: the rest is the field
                field = s_.substr(i_);
                i_ = s_.size();
                unclosed_ = true;
                return true;
            }
            field = s_.substr(i_, q - i_);
            i_ = q + 1;
            if (i_ < s_.size() && s_[i_] == '"') {
                // A doubled quote stands for one.
                buf.assign(field);
                while (i_ < s_.size() && s_[i_] == '"') {
                    buf += '"';
                    q = s_.find('"', i_ + 1);
                    if (q == std::string_view::npos) {
                        buf.append(s_.substr(i_ + 1));
                        i_ = s_.size();
                        unclosed_ = true;
                        break;
                    }
                    buf.append(s_.substr(i_ + 1, q - i_ - 1));
                    i_ = q + 1;
                }
                field = buf;
            }
            // Anything between the closing quote and the delimiter is dropped.
            i_ = std::min(s_.find_first_of(",\r\n", i_), s_.size());
        } else {
            size_t end = std::min(s_.find_first_of(",\r\n", i_), s_.size());
            field = s_.substr(i_, end - i_);
            field = field.substr(0, field.find_last_not_of(" \t") + 1);
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
    bool unclosed_ = false;
};

// 1 for the first line.
size_t LineAt(std::string_view text, size_t offset) {
    const std::string_view before = text.substr(0, offset);
    return 1 + static_cast<size_t>(std::count(before.begin(), before.end(), '\n'));
}

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
    // Only a regular file holds entries: a pipe in its place would hold the start up for good.
    std::error_code statError;
    const fs::file_status st = fs::status(file, statError);
    if (!statError && fs::exists(st) && !fs::is_regular_file(st)) {
        throw EntryFileError("データーファイル " + platform::PathText(file) + " を読めません（" +
                             SystemError(fs::is_directory(st) ? EISDIR : EINVAL) + "）。");
    }
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
    return platform::SettingsPlaceText() + " " + what + "（" + SystemError(err) + "）。";
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

namespace {
// Rows [from, to) as code page 932, quoted; nullopt when a text has no exact form there.
std::optional<std::string> EncodeCp932(const std::vector<Entry>& rows, std::size_t from,
                                       std::size_t to) {
    // The UTF-8 size, which code page 932 never exceeds, and one byte of scratch.
    size_t size = 1;
    for (std::size_t r = from; r < to; ++r) {
        for (const std::string& field : rows[r]) {
            size += field.size();
            for (size_t q = field.find('"'); q != std::string::npos; q = field.find('"', q + 1))
                ++size;  // doubled
        }
        size += 10;
    }
    std::string out(size, '\0');
    char* p = out.data();
    for (std::size_t r = from; r < to; ++r) {
        for (int c = 0; c < 3; ++c) {
            std::string_view field = rows[r][static_cast<size_t>(c)];
            *p++ = '"';
            // Quotes inside are doubled; the text between them is converted as it stands.
            for (size_t q; (q = field.find('"')) != std::string_view::npos;
                 field.remove_prefix(q + 1)) {
                if (!(p = PutCp932Exactly(field.substr(0, q), p))) return std::nullopt;
                *p++ = '"';
                *p++ = '"';
            }
            if (!(p = PutCp932Exactly(field, p))) return std::nullopt;
            *p++ = '"';
            *p++ = c < 2 ? ',' : '\r';
        }
        *p++ = '\n';
    }
    out.resize(static_cast<size_t>(p - out.data()));
    return out;
}

// A large table is encoded in parts on as many threads as there are cores (up to four): the
// lookups are all a save computes, and they take as long as the disk.
std::optional<std::string> EncodeCp932(const std::vector<Entry>& rows, std::size_t count) {
    const unsigned cores = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
    const std::size_t parts = count < 4096 ? 1 : cores;
    if (parts == 1) return EncodeCp932(rows, 0, count);
    struct Part {
        std::optional<std::string> bytes;
        bool done = false;
    };
    std::vector<Part> encoded(parts);
    auto range = [&](std::size_t i) {
        return EncodeCp932(rows, count * i / parts, count * (i + 1) / parts);
    };
    auto encode = [&](std::size_t i) noexcept {
        try {
            encoded[i].bytes = range(i);
            encoded[i].done = true;
        } catch (...) {
            // Out of memory: tried again below, where the failure reaches the caller.
        }
    };
    std::vector<std::thread> threads;
    try {
        for (std::size_t i = 1; i < parts; ++i) threads.emplace_back(encode, i);
    } catch (const std::system_error&) {
        // No more threads to be had: the parts not started are encoded below.
    }
    encode(0);
    for (std::thread& t : threads) t.join();
    size_t size = 0;
    for (std::size_t i = 0; i < parts; ++i) {
        if (!encoded[i].done) encoded[i].bytes = range(i);
        if (!encoded[i].bytes) return std::nullopt;
        size += encoded[i].bytes->size();
    }
    std::string out;
    out.reserve(size);
    for (const Part& e : encoded) out += *e.bytes;
    return out;
}
}  // namespace

std::string EncodeEntries(const std::vector<Entry>& rows, std::size_t count) {
    // Code page 932 only when it gives back exactly what it was given: a few characters (〜 ¥
    // − — ‖ ¢ £ ¬ ‾) have a form there that reads back as another character.
    if (std::optional<std::string> ansi = EncodeCp932(rows, count)) return std::move(*ansi);
    std::string utf8(kBom);
    for (std::size_t r = 0; r < count; ++r) {
        AppendQuoted(utf8, rows[r][ItemLabel]);
        utf8 += ',';
        AppendQuoted(utf8, rows[r][FillText]);
        utf8 += ',';
        AppendQuoted(utf8, rows[r][Memo]);
        utf8 += "\r\n";
    }
    return utf8;
}

std::vector<Entry> DecodeEntries(std::string_view bytes, const std::string& fileName) {
    // UTF-8 when the file says so, or when its bytes are UTF-8 and nothing else: text that
    // is not ASCII is practically never UTF-8 by chance, while UTF-8 kana and kanji often
    // pass for (other) code page 932 characters. Code page 932 otherwise, and never with a
    // character put in for bytes that are neither: that text would be saved over the file.
    const bool bom = bytes.substr(0, kBom.size()) == kBom;
    const std::string_view text = bom ? bytes.substr(kBom.size()) : bytes;
    const size_t notUtf8 = Utf8InvalidAt(text);
    const bool utf8 = notUtf8 == std::string_view::npos;
    std::string scratch;
    auto refuse = [&](size_t offset) {
        throw EntryFileError(
            "データーファイル " + fileName + " の " + std::to_string(LineAt(text, offset)) +
            " 行目は、" +
            (bom ? std::string("UTF-8")
                 : std::string("シフト JIS（コードページ 932）としても UTF-8 としても")) +
            "読めない文字を含んでいます。");
    };
    if (bom && !utf8) refuse(notUtf8);
    // Code page 932 is read field by field: the delimiters (quote, comma, CR, LF, blanks) are
    // never the second byte of a character there, so no character spans two fields, and the
    // file's text is never held twice.
    FieldReader reader(text);
    std::vector<Entry> rows;
    rows.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    std::string buf;
    std::string_view field;
    while (!reader.AtBlankTail()) {
        reader.SkipBlankLines();
        const size_t recordStart = reader.Position();
        Entry& row = rows.emplace_back();
        for (int c = 0; c < 3; ++c) {
            // A quote left open ran to the end of the file: the file was cut inside it.
            if (!reader.Next(field, buf) || reader.Unclosed()) {
                throw EntryFileError("データーファイル " + fileName + " が途中で終わっています。" +
                                     std::to_string(rows.size()) + " 件目（" +
                                     std::to_string(LineAt(text, recordStart)) +
                                     " 行目）の途中までしか読めませんでした。");
            }
            if (utf8) {
                row[static_cast<size_t>(c)].assign(field);
            } else if (FromCp932Exactly(field, row[static_cast<size_t>(c)], scratch) !=
                       std::string_view::npos) {
                // Where the text stops being code page 932, or UTF-8 if that got further.
                std::string ignored;
                const size_t notCp932 = FromCp932Exactly(text, ignored, scratch);
                refuse(std::max(notCp932, notUtf8));
            }
        }
    }
    return rows;
}

namespace {

std::string CountMismatchNotice(const std::string& countText, std::optional<std::int16_t> count,
                                size_t records, const fs::path& file) {
    const std::string stored = count ? std::to_string(*count) + " 件"
                                     : "\"" + Printable(countText) + "\"（数ではありません）";
    return platform::SettingsPlaceText() + " の登録件数（Set_6）は " + stored +
           "ですが、データーファイル " + platform::PathText(file) + " には " +
           std::to_string(records) + " 件の登録がありました。\r\nファイルにある " +
           std::to_string(records) + " 件を読み込みました。登録件数は次に保存するときに直します。";
}

}  // namespace

std::string LoadEntries(EntryTable& table) {
    if (int err = platform::SettingsReadError()) {
        // Taking it for a first start would replace the entries with an empty table.
        throw EntryFileError(SettingsError("を読めません", err));
    }
    const std::string countText = ReadSetting(SettingKey, kCountValue);
    const fs::path file = DataFilePath();
    std::optional<std::string> bytes = ReadDataFile(file);
    std::optional<std::int16_t> count;
    // A save cut short by an earlier version, which recorded the new file's fingerprint first:
    // if that file is in place, the recorded count is the one saved with it.
    if (std::optional<std::string> text = FetchSetting(kPendingValue)) {
        std::optional<PendingSave> pending = ParsePending(*text);
        if (pending && bytes && SaveFingerprint(*bytes) == pending->fingerprint) {
            count = pending->count;
        }
        std::vector<platform::ValueChange> finish = {{kPendingValue, std::nullopt}};
        if (count) finish.push_back({kCountValue, std::to_string(*count)});
        // Should this fail, the record stays and the next start decides the same way.
        platform::StoreValues(SettingKey, finish);
    }
    if (!count) {
        try {
            count = ParseEntryCount(countText);
        } catch (const EntryFileError&) {
            // Only a cross-check now: the file's records stand all the same.
        }
    }
    platform::RemoveLeftoverTemporaries(file);
    // The table is only touched once everything has been read: a load that fails leaves it as
    // it was, so that nothing half-read can be saved over the file.
    std::string notice;
    std::vector<Entry> rows;
    if (!bytes) {
        if (count != 0) {
            notice =
                "データーファイル " + platform::PathText(file) + " が見つかりません（" +
                platform::SettingsPlaceText() + " の登録件数 Set_6 は " +
                (count ? std::to_string(*count) + " 件" : "\"" + Printable(countText) + "\"") +
                "です）。\r\n登録のない状態で始めます。登録を保存するまで、ファイルは作りません。";
        }
    } else {
        rows = DecodeEntries(*std::exchange(bytes, std::nullopt), platform::PathText(file));
        if (rows.size() > 32767) {
            throw EntryFileError("データーファイル " + platform::PathText(file) + " には " +
                                 std::to_string(rows.size()) +
                                 " 件の登録があります。読み込めるのは 32767 件までです。");
        }
        if (!count || static_cast<size_t>(*count) != rows.size())
            notice = CountMismatchNotice(countText, count, rows.size(), file);
    }
    EntryTable loaded;
    loaded.Resize(static_cast<std::int16_t>(rows.size()));
    for (std::size_t r = 0; r < rows.size(); ++r) loaded[r] = std::move(rows[r]);
    table = std::move(loaded);
    return notice;
}

void WriteFileAtomically(const fs::path& file, std::string_view bytes) {
    if (int err = platform::ReplaceFile(file, bytes)) {
        throw EntryFileError("データーファイル " + platform::PathText(file) +
                             " を保存できません（" + SystemError(err) + "）。");
    }
}

void SaveEntries(const EntryTable& table) {
    const std::string count = std::to_string(table.count());
    const fs::path file = DataFilePath();
    std::error_code ec;
    // No entries and no file: nothing to write, and no file to make. With no entries an
    // existing file is emptied, not left with records that the next start would read.
    const bool writeFile = table.count() != 0 || (fs::exists(fs::symlink_status(file, ec)) && !ec);
    // The count goes first, in the store that refuses to overwrite unreadable settings, so
    // that a save which cannot store it leaves everything as it was. The file's records are
    // the table: a crash before the file is replaced leaves the old file, which the next start
    // reads whole (and reports against the count).
    const std::optional<std::string> earlierCount = FetchSetting(kCountValue);
    const std::optional<std::string> earlierPending = FetchSetting(kPendingValue);
    auto restore = [&] {
        platform::StoreValues(SettingKey,
                              {{kCountValue, earlierCount}, {kPendingValue, earlierPending}});
    };
    int err = 0;
    auto storeCount = [&]() noexcept {
        try {
            err = platform::StoreValues(SettingKey,
                                        {{kCountValue, count}, {kPendingValue, std::nullopt}});
        } catch (...) {
            err = ENOMEM;
        }
    };
    // The count's store and the encoding need nothing of each other: the store's flush runs
    // while the rows are encoded.
    std::thread store;
    if (writeFile) {
        try {
            store = std::thread(storeCount);
        } catch (const std::system_error&) {
        }
    }
    if (!store.joinable()) storeCount();
    std::string bytes;
    try {
        if (writeFile) bytes = EncodeEntries(table.rows(), static_cast<size_t>(table.count()));
    } catch (...) {
        if (store.joinable()) store.join();
        if (err == 0) restore();
        throw;
    }
    if (store.joinable()) store.join();
    if (err) throw EntryFileError(SettingsError("に登録件数を保存できません", err));
    if (!writeFile) return;
    try {
        WriteFileAtomically(file, bytes);
    } catch (const EntryFileError&) {
        // The old file stands, with the count (and any record) that belongs to it.
        restore();
        throw;
    }
    platform::RemoveLeftoverTemporaries(file);
}
