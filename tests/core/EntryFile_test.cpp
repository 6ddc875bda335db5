#include "core/EntryFile.h"
#include "core/AppState.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <random>

#include "core/FillCommand.h"
#include "core/Settings.h"
#include "core/Utf8.h"
#include "platform/Paths.h"
#include "platform/SettingsStore.h"
#include "support/TempHome.h"

namespace {
// The program's entries and options, as start-up makes them.
AppState state;
}  // namespace

namespace fs = std::filesystem;

namespace {

const std::vector<Entry> kRows = {
    {"お名前", "山田太郎", ""},
    {"住所", "東京都千代田区1-1, ①ビル", "会社"},
    {"ｷｬﾝｾﾙ", "a\"b～", "メモ"},
};

// The three rows above as the data file holds them: code page 932, quotes, commas, CR LF,
// the quote inside a text doubled.
const std::string kGolden =
    "\x22\x82\xA8\x96\xBC\x91\x4F\x22\x2C\x22\x8E\x52\x93\x63\x91\xBE\x98\x59\x22\x2C\x22\x22"
    "\x0D\x0A\x22\x8F\x5A\x8F\x8A\x22\x2C\x22\x93\x8C\x8B\x9E\x93\x73\x90\xE7\x91\xE3\x93\x63"
    "\x8B\xE6\x31\x2D\x31\x2C\x20\x87\x40\x83\x72\x83\x8B\x22\x2C\x22\x89\xEF\x8E\xD0\x22\x0D"
    "\x0A\x22\xB7\xAC\xDD\xBE\xD9\x22\x2C\x22\x61\x22\x22\x62\x81\x60\x22\x2C\x22\x83\x81\x83"
    "\x82\x22\x0D\x0A";

void StoreCount(const std::string& n) {
    ASSERT_EQ(WriteSetting(SettingKey, "Set_6", n), 0);
}

void SetTable(const std::vector<Entry>& rows) {
    state.entries.Resize(static_cast<std::int16_t>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) state.entries[i] = rows[i];
}

std::vector<Entry> Table() {
    return {state.entries.begin(), state.entries.begin() + state.entries.count()};
}

#ifndef _WIN32
// `n` distinct rows, for the tests further down that run on POSIX systems only.
std::vector<Entry> Rows(int n, const std::string& tag) {
    std::vector<Entry> rows;
    for (int i = 0; i < n; ++i) {
        rows.push_back({"項目" + tag + std::to_string(i), "記入文字" + tag, i % 3 ? "" : "メモ"});
    }
    return rows;
}

// Runs `save` in a child process whose files cannot grow past `maxBytes`, as on a full disk.
// True when the child reported the save as failed.
bool SaveFailsWithFileSizeLimit(const std::vector<Entry>& rows, rlim_t maxBytes) {
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{maxBytes, maxBytes};
        setrlimit(RLIMIT_FSIZE, &lim);
        SetTable(rows);
        try {
            SaveEntries(state.entries);
        } catch (const EntryFileError&) {
            _exit(7);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 7;
}
#endif

}  // namespace

TEST(EntryFile, WritesTheGoldenBytesAndReadsThemBack) {
    EXPECT_EQ(EncodeEntries(kRows, 3), kGolden);
    EXPECT_EQ(DecodeEntries(kGolden, "f"), kRows);
    // Only the counted rows are written.
    EXPECT_EQ(EncodeEntries(kRows, 1), kGolden.substr(0, kGolden.find("\r\n") + 2));
}

TEST(EntryFile, TextWithoutACodePage932FormIsKeptAsUtf8) {
    std::vector<Entry> rows = {{"絵文字", "😀 〜 ok", ""}, {"お名前", "山田", "m"}};
    std::string bytes = EncodeEntries(rows, 2);
    EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(bytes.substr(3), "\"絵文字\",\"😀 〜 ok\",\"\"\r\n\"お名前\",\"山田\",\"m\"\r\n");
    EXPECT_EQ(DecodeEntries(bytes, "f"), rows);
}

TEST(EntryFile, NoEntryChangesBySavingEvenWhereCodePage932HasAOneWayForm) {
    TempHome home;
    // Each has a code page 932 form that reads back as another character (‾ as "~", which
    // the key notation types as Enter).
    for (const char* c : {"〜", "¥", "−", "—", "‖", "¢", "£", "¬", "‾"}) {
        for (size_t field = 0; field < 3; ++field) {
            SCOPED_TRACE(std::string(c) + " in field " + std::to_string(field));
            std::vector<Entry> rows = kRows;
            rows[1][field] = std::string("9:00") + c + "17:00";
            SetTable(rows);
            SaveEntries(state.entries);
            const std::string bytes = TempHome::ReadFile(home.appDir() / "Penrika.dat");
            EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF") << "kept as UTF-8";
            EXPECT_EQ(LoadEntries(state.entries), "") << "the file and its count agree";
            EXPECT_EQ(Table(), rows);
        }
    }
    // Without them the file stays code page 932.
    SetTable(kRows);
    SaveEntries(state.entries);
    EXPECT_EQ(TempHome::ReadFile(home.appDir() / "Penrika.dat"), kGolden);
}

TEST(EntryFile, ReadsFieldsAsOneStreamAndToleratesHandEditedLines) {
    // A line with fewer fields takes the rest of its record from the next line; unquoted
    // fields lose surrounding blanks; LF alone ends a line too; line breaks inside quotes stay.
    std::string text =
        "\"a\",\"b\"\r\n\"c\"\r\n  plain , 42 ,\"x\"\n\"multi\r\nline\",\"\",\"\"\r\n";
    std::vector<Entry> rows = DecodeEntries(text, "f");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (Entry{"a", "b", "c"}));
    EXPECT_EQ(rows[1], (Entry{"plain", "42", "x"}));
    EXPECT_EQ(rows[2], (Entry{"multi\r\nline", "", ""}));
    // Blank lines between records and after the last one, or a last line without its line
    // break, make no record and take no field.
    EXPECT_EQ(DecodeEntries("\"a\",\"b\",\"c\"\r\n\r\n\"d\",\"e\",\"f\"\r\n\r\n \x1A", "f"),
              (std::vector<Entry>{{"a", "b", "c"}, {"d", "e", "f"}}));
    EXPECT_EQ(DecodeEntries("\"a\",\"b\",\"c\"", "f"), (std::vector<Entry>{{"a", "b", "c"}}));
    EXPECT_TRUE(DecodeEntries("\r\n", "f").empty());
    EXPECT_TRUE(DecodeEntries("", "f").empty());
}

TEST(EntryFile, AFileCutInsideARecordIsRefusedWithTheFileAndTheLine) {
    // Cut anywhere inside the third record: after a field, inside a quoted field, after its
    // opening quote.
    const size_t third = kGolden.rfind("\r\n", kGolden.size() - 3) + 2;
    for (size_t end = third + 1; end < kGolden.size() - 2; ++end) {
        SCOPED_TRACE(end);
        try {
            DecodeEntries(kGolden.substr(0, end), "/x/Penrika.dat");
            FAIL() << "a file cut inside a record must be refused";
        } catch (const EntryFileError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("/x/Penrika.dat が途中で終わっています"), std::string::npos) << what;
            EXPECT_NE(what.find("3 件目（3 行目）"), std::string::npos) << what;
        }
    }
    // Cut just after a record: that many records.
    EXPECT_EQ(DecodeEntries(kGolden.substr(0, third), "f"),
              (std::vector<Entry>{kRows[0], kRows[1]}));
    EXPECT_EQ(DecodeEntries(kGolden.substr(0, third - 2), "f"),
              (std::vector<Entry>{kRows[0], kRows[1]}));
}

TEST(EntryFile, EachFileIsReadInTheEncodingItsBytesAreAndSavedBackUnchanged) {
    TempHome home;
    const fs::path file = home.appDir() / "Penrika.dat";
    // What every Linux editor writes: UTF-8 without a byte-order mark. Its kana and kanji
    // also pass for other code page 932 characters ("あい" for "縺ゅ＞"); 〜 has no exact form
    // there at all.
    const std::vector<Entry> japanese = {{"お名前", "山田太郎", "あい"},
                                         {"営業時間", "9:00〜17:00", "ｶﾀｶﾅ"}};
    // Plain ASCII is both encodings alike.
    const std::vector<Entry> ascii = {{"name", "Yamada, Taro", ""}, {"tel", "03-1234", "x"}};
    for (const auto& rows : {japanese, ascii}) {
        std::string utf8;
        for (const Entry& r : rows) utf8 += "\"" + r[0] + "\",\"" + r[1] + "\",\"" + r[2] + "\"\n";
        SCOPED_TRACE(utf8);
        EXPECT_EQ(DecodeEntries(utf8, "f"), rows);
        TempHome::WriteFile(file, utf8);
        StoreCount(std::to_string(rows.size()));
        EXPECT_EQ(LoadEntries(state.entries), "");
        EXPECT_EQ(Table(), rows);
        SaveEntries(state.entries);
        EXPECT_EQ(LoadEntries(state.entries), "");
        EXPECT_EQ(Table(), rows) << "saved and read back exactly";
    }
    // Code page 932 whose bytes are not UTF-8 (every kanji here) stays code page 932.
    EXPECT_EQ(DecodeEntries(kGolden, "f"), kRows);
}

TEST(EntryFile, BytesThatNeitherEncodingReadsAreRefusedAndNeverWrittenOver) {
    TempHome home;
    const fs::path file = home.appDir() / "Penrika.dat";
    // Line 2: a lead byte of code page 932 before a quote, which is neither that nor UTF-8;
    // an unassigned code of code page 932 (0x85 0x40) among UTF-8; UTF-8 cut short after its
    // byte-order mark.
    const std::string bad[] = {
        kGolden.substr(0, kGolden.find("\r\n") + 2) + "\"x\x82\",\"\",\"\"\r\n",
        "\"名前\",\"\",\"\"\r\n\"\x85\x40\",\"\",\"\"\r\n",
        "\xEF\xBB\xBF\"名前\",\"\",\"\"\r\n\"\xE5\x90\",\"\",\"\"\r\n",
    };
    for (const std::string& bytes : bad) {
        SCOPED_TRACE(bytes);
        TempHome::WriteFile(file, bytes);
        StoreCount("2");
        SetTable(kRows);
        try {
            (void)LoadEntries(state.entries);
            FAIL() << "bytes that are no text must be refused";
        } catch (const EntryFileError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(file.string() + " の 2 行目"), std::string::npos) << what;
            EXPECT_TRUE(IsValidUtf8(what));
        }
        EXPECT_EQ(Table(), kRows) << "the table is left as it was";
        EXPECT_EQ(TempHome::ReadFile(file), bytes);
    }
}

TEST(EntryFile, CountsThatAreNotADecimalFrom0To32767AreFatal) {
    EXPECT_EQ(ParseEntryCount("0"), 0);
    EXPECT_EQ(ParseEntryCount("32767"), 32767);
    for (const char* bad : {"", "-1", "32768", "99999", "1.5", " 3", "abc", "123456"}) {
        EXPECT_THROW(ParseEntryCount(bad), EntryFileError) << bad;
    }
    try {
        ParseEntryCount("x");
    } catch (const EntryFileError& e) {
        EXPECT_NE(std::string(e.what()).find("Set_6"), std::string::npos);
    }
    // Bytes that are not text are shown, not pasted into the message.
    try {
        ParseEntryCount("1\xFF\x01");
        FAIL();
    } catch (const EntryFileError& e) {
        EXPECT_TRUE(IsValidUtf8(e.what())) << e.what();
        EXPECT_NE(std::string(e.what()).find("\"1\\xFF^A\""), std::string::npos) << e.what();
    }
}

TEST(EntryFile, ACountThatDisagreesWithTheFileLosesNoRecordAndInventsNone) {
    TempHome home;
    const fs::path file = home.appDir() / "Penrika.dat";
    // A count too small (the other copy's), too large, missing (the settings are new), and
    // not a number: the file's three records stand and the user is told once.
    for (const char* count : {"2", "5", "", "many"}) {
        SCOPED_TRACE(count);
        TempHome::WriteFile(file, kGolden);
        if (*count) {
            StoreCount(count);
        } else {
            ASSERT_EQ(platform::StoreValues(SettingKey, {{"Set_6", std::nullopt}}), 0);
        }
        const std::string notice = LoadEntries(state.entries);
        EXPECT_EQ(Table(), kRows);
        ASSERT_EQ(state.entries.size(), 4u) << "one spare row";
        EXPECT_EQ(state.entries[3], Entry{});
        EXPECT_NE(notice.find(file.string() + " には 3 件"), std::string::npos) << notice;
        EXPECT_NE(notice.find(platform::SettingsPlaceText()), std::string::npos) << notice;
        if (*count == '2' || *count == '5') {
            EXPECT_NE(notice.find(std::string("Set_6）は ") + count + " 件"), std::string::npos)
                << notice;
        }
        // The save writes the consistent pair, so it is said once.
        SaveEntries(state.entries);
        EXPECT_EQ(TempHome::ReadFile(file), kGolden);
        EXPECT_EQ(ReadSetting(SettingKey, "Set_6"), "3");
        EXPECT_EQ(LoadEntries(state.entries), "");
        EXPECT_EQ(Table(), kRows);
    }
}

TEST(EntryFile, SavingNoEntriesEmptiesTheFileSoThatNoneComeBack) {
    TempHome home;
    const fs::path file = home.appDir() / "Penrika.dat";
    SetTable(kRows);
    SaveEntries(state.entries);
    SetTable({});
    SaveEntries(state.entries);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(TempHome::ReadFile(file), "");
    EXPECT_EQ(ReadSetting(SettingKey, "Set_6"), "0");
    EXPECT_EQ(LoadEntries(state.entries), "");
    EXPECT_EQ(state.entries.count(), 0);
}

TEST(EntryFile, FirstLaunchCreatesNoDataFile) {
    TempHome home;
    EXPECT_EQ(LoadEntries(state.entries), "");
    SaveEntries(state.entries);
    EXPECT_FALSE(fs::exists(home.appDir() / "Penrika.dat"));
    EXPECT_FALSE(fs::exists(home.dataHome() / "Penrika" / "Penrika.dat"));
}

TEST(EntryFile, AMissingFileStartsAnEmptyTableSaysSoOnceAndMakesNoFile) {
    TempHome home;
    const fs::path file = home.appDir() / "Penrika.dat";
    StoreCount("3");
    SetTable(kRows);
    const std::string notice = LoadEntries(state.entries);
    EXPECT_EQ(state.entries.count(), 0);
    EXPECT_NE(notice.find(file.string() + " が見つかりません"), std::string::npos) << notice;
    SaveEntries(state.entries);
    EXPECT_FALSE(fs::exists(file)) << "no file until there are entries to save";
    EXPECT_EQ(ReadSetting(SettingKey, "Set_6"), "0");
    EXPECT_EQ(LoadEntries(state.entries), "") << "said once";
}

TEST(EntryFile, SavedFileIsPrivateAndReplacesTheOldOneWhole) {
    TempHome home;
    const fs::path file = home.appDir() / "Penrika.dat";
    TempHome::WriteFile(file, std::string(10000, 'x'));
    SetTable(kRows);
    SaveEntries(state.entries);
    EXPECT_EQ(TempHome::ReadFile(file), kGolden);
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
    // No temporary file is left behind.
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(home.appDir())) ++files;
    EXPECT_EQ(files, 1);
}

TEST(EntryFile, AFileWrittenElsewhereIsReadAndWrittenBackByteForByte) {
    // The same bytes whichever system wrote them: a copy moved between Linux and Windows
    // keeps its entries, and a save changes nothing in the file.
    TempHome home;
    const fs::path file = home.appDir() / "Penrika.dat";
    TempHome::WriteFile(file, kGolden);
    StoreCount("3");
    EXPECT_EQ(LoadEntries(state.entries), "") << "the original pair: a count equal to the lines";
    EXPECT_EQ(Table(), kRows);
    SaveEntries(state.entries);
    EXPECT_EQ(TempHome::ReadFile(file), kGolden);
    EXPECT_EQ(ReadSetting(SettingKey, "Set_6"), "3");
    EXPECT_EQ(ReadSetting(SettingKey, "Set_6_Pending"), "0") << "no save left half done";
}

#ifndef _WIN32
// What follows needs POSIX: processes killed or limited at will, file modes, the settings file.
TEST(EntryFile, AnInstalledCopyKeepsItsDataInTheUsersDataDirectory) {
    TempHome home;
    platform::SetExecutableDirForTesting("/usr/bin");
    EXPECT_EQ(DataFilePath(), home.dataHome() / "Penrika" / "Penrika.dat");
    SetTable(kRows);
    SaveEntries(state.entries);
    EXPECT_EQ(TempHome::ReadFile(home.dataHome() / "Penrika" / "Penrika.dat"), kGolden);
    platform::SetExecutableDirForTesting(home.appDir().string());
    EXPECT_EQ(DataFilePath(), home.appDir() / "Penrika.dat");
}

// One count per user, a data file per copy: a portable and an installed copy (or a portable
// one whose build folder went) take turns, and no entry is lost or made up.
TEST(EntryFile, CopiesWithDataFilesOfTheirOwnShareTheCountAndLoseNothing) {
    TempHome home;
    const fs::path portable = home.appDir() / "Penrika.dat";
    const fs::path installed = home.dataHome() / "Penrika" / "Penrika.dat";
    auto run = [&](const std::string& dir, const std::vector<Entry>& expected, bool told,
                   const std::vector<Entry>& next) {
        SCOPED_TRACE(dir);
        platform::SetExecutableDirForTesting(dir);
        const std::string notice = LoadEntries(state.entries);
        EXPECT_EQ(Table(), expected);
        EXPECT_EQ(!notice.empty(), told) << notice;
        SetTable(next);
        SaveEntries(state.entries);
    };
    const std::string app = home.appDir().string();
    const std::vector<Entry> five = Rows(5, "p"), two = Rows(2, "i");
    run(app, {}, false, kRows);
    run("/usr/bin", {}, true, {});  // the installed copy has no file yet: it makes none
    EXPECT_FALSE(fs::exists(installed));
    run(app, kRows, true, five);  // the count "0" hides nothing
    run("/usr/bin", {}, true, two);
    run(app, five, true, five);
    run("/usr/bin", two, true, two);
    // The build folder removed: the portable copy starts empty and writes no file.
    fs::remove(portable);
    run(app, {}, true, {});
    EXPECT_FALSE(fs::exists(portable));
    run("/usr/bin", two, true, two);
    EXPECT_EQ(TempHome::ReadFile(installed), EncodeEntries(two, 2));
    platform::SetExecutableDirForTesting(app);
}

TEST(EntryFile, MessagesGiveTheSystemsReasonInJapanese) {
    TempHome home;
    fs::create_directories(home.appDir() / "Penrika.dat");  // a folder where the file should be
    try {
        (void)LoadEntries(state.entries);
        FAIL() << "a data file that cannot be read is fatal";
    } catch (const EntryFileError& e) {
        EXPECT_NE(std::string(e.what()).find("を読めません（フォルダーです）"), std::string::npos)
            << e.what();
    }
    SetTable(kRows);
    try {
        SaveEntries(state.entries);
        FAIL() << "a folder in the file's place cannot be replaced";
    } catch (const EntryFileError& e) {
        EXPECT_NE(std::string(e.what()).find("を保存できません（フォルダーです）"),
                  std::string::npos)
            << e.what();
    }
#ifndef _WIN32
    // A pipe in the file's place is refused at once, not waited on.
    fs::remove(home.appDir() / "Penrika.dat");
    ASSERT_EQ(::mkfifo((home.appDir() / "Penrika.dat").c_str(), 0600), 0);
    try {
        (void)LoadEntries(state.entries);
        FAIL() << "a pipe holds no entries";
    } catch (const EntryFileError& e) {
        EXPECT_NE(std::string(e.what()).find("を読めません（ファイルの種類が正しくありません）"),
                  std::string::npos)
            << e.what();
    }
#endif
}

TEST(EntryFile, AFailedSaveLeavesTheOldTableWhicheverStoreFailsAndWhicheverWayItChanges) {
    TempHome home;
    const fs::path file = home.appDir() / "Penrika.dat";
    const fs::path config = home.settingsFile().parent_path();
    for (auto [from, to] : {std::pair{100, 300}, std::pair{300, 100}}) {
        SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
        const std::vector<Entry> old = Rows(from, "old"), next = Rows(to, "new");
        SetTable(old);
        SaveEntries(state.entries);
        // The data disk is full: the small settings file can be written, the data file not.
        EXPECT_TRUE(SaveFailsWithFileSizeLimit(next, 1024)) << "the failure is reported";
        EXPECT_EQ(LoadEntries(state.entries), "");
        EXPECT_EQ(Table(), old);
        // The settings cannot be written (their folder is gone and a file stands there).
        fs::rename(config, config.string() + ".away");
        TempHome::WriteFile(config, "");
        SetTable(next);
        EXPECT_THROW(SaveEntries(state.entries), EntryFileError);
        fs::remove(config);
        fs::rename(config.string() + ".away", config);
        EXPECT_EQ(LoadEntries(state.entries), "");
        EXPECT_EQ(Table(), old);
        EXPECT_EQ(TempHome::ReadFile(file), EncodeEntries(old, old.size()));
    }
}

TEST(EntryFile, AStartAfterASaveWasCutShortTakesTheTableWhoseFileIsInPlace) {
    TempHome home;
    const fs::path file = home.appDir() / "Penrika.dat";
    const std::vector<Entry> old = Rows(5, "old"), next = Rows(8, "new");
    const std::string nextBytes = EncodeEntries(next, next.size());
    auto setPending = [](const std::string& v) {
        ASSERT_EQ(WriteSetting(SettingKey, "Set_6_Pending", v), 0);
    };
    auto pending = [] { return ReadSetting(SettingKey, "Set_6_Pending"); };
    for (const std::string& record :
         {"8 " + SaveFingerprint(nextBytes), std::string("8 junk"), std::string("x")}) {
        SCOPED_TRACE(record);
        SetTable(old);
        SaveEntries(state.entries);
        // Stopped after recording the save, before the file was replaced: the old table.
        setPending(record);
        EXPECT_EQ(LoadEntries(state.entries), "");
        EXPECT_EQ(Table(), old);
        EXPECT_EQ(pending(), "0") << "the record is dropped";
    }
    // Stopped after the file was replaced, before the count was stored: the new table. A later
    // save that fails keeps that record, so the new table still stands.
    setPending("8 " + SaveFingerprint(nextBytes));
    WriteFileAtomically(file, nextBytes);
    EXPECT_TRUE(SaveFailsWithFileSizeLimit(Rows(300, "later"), 1024));
    EXPECT_EQ(pending(), "8 " + SaveFingerprint(nextBytes));
    EXPECT_EQ(LoadEntries(state.entries), "");
    EXPECT_EQ(Table(), next);
    EXPECT_EQ(ReadSetting(SettingKey, "Set_6"), "8") << "the save is finished";
    EXPECT_EQ(pending(), "0");
}

TEST(EntryFile, LeftoversOfAKilledSaveAreRemovedAtStartButNotALiveOneOrTheUsersFiles) {
    TempHome home;
    SetTable(kRows);
    SaveEntries(state.entries);
    const fs::path dir = home.appDir();
    TempHome::WriteFile(dir / "Penrika.dat.tmp-Ab3xYz", kGolden);
    TempHome::WriteFile(dir / "Penrika.dat.tmp-L1ve00", "");
    TempHome::WriteFile(dir / "Penrika.dat.bak", kGolden);
    // A save in another process holds its temporary file locked while it fills it.
    int live = ::open((dir / "Penrika.dat.tmp-L1ve00").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);
    EXPECT_EQ(LoadEntries(state.entries), "");
    EXPECT_FALSE(fs::exists(dir / "Penrika.dat.tmp-Ab3xYz"));
    EXPECT_TRUE(fs::exists(dir / "Penrika.dat.tmp-L1ve00"));
    EXPECT_TRUE(fs::exists(dir / "Penrika.dat.bak"));
    ::close(live);
    TempHome::WriteFile(dir / "Penrika.dat.tmp-Ab3xYz", kGolden);
    SaveEntries(state.entries);
    EXPECT_FALSE(fs::exists(dir / "Penrika.dat.tmp-Ab3xYz")) << "and after a save";
    EXPECT_FALSE(fs::exists(dir / "Penrika.dat.tmp-L1ve00")) << "once its writer is gone";
}

TEST(EntryFile, ASettingsFileThatCannotBeReadIsFatalAndNothingIsWritten) {
    TempHome home;
    SetTable(kRows);
    SaveEntries(state.entries);
    const std::string settings = TempHome::ReadFile(home.settingsFile());
    fs::rename(home.settingsFile(), home.root() / "saved.ini");
    fs::create_directories(home.settingsFile());  // a directory in its place
    try {
        (void)LoadEntries(state.entries);
        FAIL() << "an unreadable settings file is not a first start";
    } catch (const EntryFileError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find(home.settingsFile().string()), std::string::npos) << what;
        EXPECT_NE(what.find("（フォルダーです）"), std::string::npos) << what;
    }
    EXPECT_EQ(TempHome::ReadFile(home.appDir() / "Penrika.dat"), kGolden);
    EXPECT_TRUE(fs::is_directory(home.settingsFile()));
}

TEST(EntryFile, ASaveKilledAtAnyMomentLeavesTheOldOrTheNewTable) {
    TempHome home;
    // Two tables that differ in count and content.
    const std::vector<Entry> a = Rows(4000, "A"), b = Rows(3000, "B");
    SetTable(a);
    SaveEntries(state.entries);
    std::mt19937 rng(12345);
    int sawA = 0, sawB = 0;
    for (int round = 0; round < 300; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(ready[0]);
            [[maybe_unused]] ssize_t n = write(ready[1], "r", 1);
            for (int i = round;; ++i) {
                SetTable(i % 2 ? a : b);
                SaveEntries(state.entries);
            }
        }
        close(ready[1]);
        char c;
        ASSERT_EQ(read(ready[0], &c, 1), 1);  // the child is saving from now on
        close(ready[0]);
        // The kill lands at a random point of some save.
        usleep(std::uniform_int_distribution<useconds_t>(0, 40000)(rng));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        (void)LoadEntries(state.entries);
        const std::vector<Entry> now = Table();
        ASSERT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " rows";
        (now == a ? sawA : sawB)++;
    }
    std::printf("kill loop: 300 rounds, %d old-or-A, %d B, 0 mixed\n", sawA, sawB);
}
#endif
