#include "platform/SettingsStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <random>

#include "core/AppState.h"
#include "core/FillCommand.h"
#include "core/Settings.h"
#include "support/Launch.h"
#include "support/TempHome.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The program's entries and options, as start-up makes them.
AppState state;

std::string Read(const char* key, const char* name) {
    return ReadSetting(key, name);
}
long Write(const char* key, const char* name, const std::string& value) {
    return WriteSetting(key, name, value);
}

// What stands at a path, to tell that nothing replaced it: a link's target, else the bytes.
std::string WhatIsAt(const fs::path& p) {
    return fs::is_symlink(p) ? "link to " + fs::read_symlink(p).string() : TempHome::ReadFile(p);
}

// `count` bytes drawn from `alphabet` (all 256 bytes when it is empty).
std::string Garbage(size_t count, const std::string& alphabet = {}) {
    std::mt19937 rng(7);
    std::string out(count, '\0');
    for (char& c : out) {
        const auto r = rng();
        c = alphabet.empty() ? static_cast<char>(r) : alphabet[r % alphabet.size()];
    }
    return out;
}

}  // namespace

TEST(SettingsStore, MissingValuesReadAsZeroAndTheReadCreatesTheSectionEmpty) {
    TempHome home;
    EXPECT_FALSE(std::filesystem::exists(home.settingsFile()));
    EXPECT_EQ(Read(SettingKey, "Set_6"), "0");
    EXPECT_EQ(Read(OptionKey, "Op_1"), "0");
    std::string file = TempHome::ReadFile(home.settingsFile());
    EXPECT_NE(file.find("[Setting]"), std::string::npos);
    EXPECT_NE(file.find("[Option]"), std::string::npos);
    EXPECT_EQ(file.find('='), std::string::npos) << "no value is written by reading";
}

TEST(SettingsStore, ValuesRoundTripInTheirOwnSections) {
    TempHome home;
    ASSERT_EQ(Write(SettingKey, "Set_6", "3"), 0);
    ASSERT_EQ(Write(OptionKey, "Op_1", "True"), 0);
    ASSERT_EQ(Write(SettingKey, "Set_7", "1234"), 0);
    ASSERT_EQ(Write(SettingKey, "Set_6", "4"), 0);  // replaces, does not add
    ASSERT_EQ(Write(SettingKey, "Empty", ""), 0);
    EXPECT_EQ(Read(SettingKey, "Set_6"), "4");
    EXPECT_EQ(Read(SettingKey, "Set_7"), "1234");
    EXPECT_EQ(Read(OptionKey, "Op_1"), "True");
    EXPECT_EQ(Read(SettingKey, "Op_1"), "0") << "sections are separate keys";
    EXPECT_EQ(Read(SettingKey, "Empty"), "");
    EXPECT_EQ(TempHome::ReadFile(home.settingsFile()),
              "[Setting]\nSet_6=4\nSet_7=1234\nEmpty=\n\n[Option]\nOp_1=True\n");
}

TEST(SettingsStore, ATextEndsAtItsFirstNulAndLineBreaksCannotForgeValues) {
    TempHome home;
    ASSERT_EQ(Write(SettingKey, "A",
                    std::string("12\0"
                                "34",
                                5)),
              0);
    EXPECT_EQ(Read(SettingKey, "A"), "12");
    ASSERT_EQ(Write(SettingKey, "B", "x\nSet_6=999\n[Option]\nOp_1=True"), 0);
    EXPECT_EQ(Read(SettingKey, "B"), "x\nSet_6=999\n[Option]\nOp_1=True");
    EXPECT_EQ(Read(SettingKey, "Set_6"), "0");
    EXPECT_EQ(Read(OptionKey, "Op_1"), "0");
}

TEST(SettingsStore, AnEditByAnotherProgramIsSeenAtTheNextRead) {
    TempHome home;
    ASSERT_EQ(Write(OptionKey, "Op_1", "False"), 0);
    EXPECT_EQ(Read(OptionKey, "Op_1"), "False");
    TempHome::WriteFile(home.settingsFile(), "; edited by hand\n[Option]\nOp_1 = True\r\n");
    EXPECT_EQ(Read(OptionKey, "Op_1"), "True");
    // A later write keeps what the other program wrote.
    ASSERT_EQ(Write(OptionKey, "Op_2", "True"), 0);
    std::string file = TempHome::ReadFile(home.settingsFile());
    EXPECT_NE(file.find("; edited by hand"), std::string::npos);
    EXPECT_EQ(Read(OptionKey, "Op_1"), "True");
}

TEST(SettingsStore, TwoProcessesWritingAtOnceLoseNoValue) {
    TempHome home;
    constexpr int kWriters = 4, kValues = 40;
    std::vector<pid_t> kids;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int v = 0; v < kValues; ++v) {
                std::string name = "W" + std::to_string(w) + "_" + std::to_string(v);
                if (Write(SettingKey, name.c_str(), std::to_string(v)) != 0) _exit(1);
            }
            _exit(0);
        }
        kids.push_back(pid);
    }
    for (pid_t pid : kids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < kWriters; ++w) {
        for (int v = 0; v < kValues; ++v) {
            std::string name = "W" + std::to_string(w) + "_" + std::to_string(v);
            EXPECT_EQ(Read(SettingKey, name.c_str()), std::to_string(v)) << name;
        }
    }
}

TEST(SettingsStore, OptionsReadTheStoredWords) {
    TempHome home;
    state.options = LoadOptions();
    EXPECT_FALSE(state.options.alwaysOnTop);
    EXPECT_FALSE(state.options.confirmBeforeFill);
    ASSERT_EQ(Write(OptionKey, "Op_1", "True"), 0);
    state.options = LoadOptions();
    EXPECT_TRUE(state.options.alwaysOnTop);
    EXPECT_FALSE(state.options.confirmBeforeFill) << "a missing Op_2 is off";
    ASSERT_EQ(Write(OptionKey, "Op_1", "False"), 0);
    ASSERT_EQ(Write(OptionKey, "Op_2", "-1"), 0);
    state.options = LoadOptions();
    EXPECT_FALSE(state.options.alwaysOnTop);
    EXPECT_TRUE(state.options.confirmBeforeFill) << "numeric text is on unless zero";
    for (const char* off : {"0", "", "yes", "0.0"}) EXPECT_FALSE(OptionTextIsOn(off)) << off;
    for (const char* on : {"True", "1", "2", "-1"}) EXPECT_TRUE(OptionTextIsOn(on)) << on;
}

TEST(SettingsStore, EveryValueReadsBackExactlyAsStoredAndCarriageReturnsNeverChangeMeaning) {
    TempHome home;
    for (std::string v : {" 3", "a ", "\t", "  ", " a b ", "x\\s", "\\", "a\\t\t", "=", "[x]",
                          "\\x41", "日本語", "\xff", "a\xC0\xAFz", "\xE3\x81", "\xED\xA0\x80"}) {
        ASSERT_EQ(Write(SettingKey, "V", v), 0);
        EXPECT_EQ(Read(SettingKey, "V"), v) << "[" << v << "]";
        // Bytes that are not UTF-8 are stored so that the file stays settings text.
        EXPECT_EQ(platform::SettingsReadError(), 0) << "[" << v << "]";
    }
    // Hand-written blanks around the "=" still do not count, as before.
    TempHome::WriteFile(home.settingsFile(), "[Setting]\r\nSet_7 =  12 \r\r\nSet_8=ab\r\r\r\n");
    EXPECT_EQ(Read(SettingKey, "Set_7"), "12");
    EXPECT_EQ(Read(SettingKey, "Set_8"), "ab");
    ASSERT_EQ(Write(OptionKey, "Op_1", "True"), 0);  // an unrelated write rewrites every line
    EXPECT_EQ(Read(SettingKey, "Set_7"), "12");
    EXPECT_EQ(Read(SettingKey, "Set_8"), "ab");
}

TEST(SettingsStore, SeveralChangesGoInOneWriteAndAValueCanBeRemoved) {
    TempHome home;
    ASSERT_EQ(Write(SettingKey, "Set_6", "3"), 0);
    ASSERT_EQ(platform::StoreValues(SettingKey, {{"Set_6", "4"}, {"P", "x"}, {"Q", std::nullopt}}),
              0);
    EXPECT_EQ(Read(SettingKey, "Set_6"), "4");
    EXPECT_EQ(Read(SettingKey, "P"), "x");
    ASSERT_EQ(platform::StoreValues(SettingKey, {{"P", std::nullopt}}), 0);
    EXPECT_EQ(TempHome::ReadFile(home.settingsFile()), "[Setting]\nSet_6=4\n");
}

TEST(SettingsStore, AFileThatCannotBeReadIsNeverRewritten) {
    TempHome home;
    // A directory where the file should be.
    std::filesystem::create_directories(home.settingsFile());
    EXPECT_EQ(platform::SettingsReadError(), EISDIR);
    EXPECT_NE(Write(SettingKey, "Set_6", "0"), 0);
    EXPECT_EQ(Read(SettingKey, "Set_6"), "0");
    EXPECT_TRUE(std::filesystem::is_directory(home.settingsFile()));
    std::filesystem::remove(home.settingsFile());
    EXPECT_EQ(platform::SettingsReadError(), 0) << "a missing file is a first start";

    // A file this user may not read, in a folder the user may write to.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to stand in for a second user";
    TempHome::WriteFile(home.settingsFile(), "[Setting]\nSet_6=5\n");
    ::chmod(home.settingsFile().c_str(), 0600);
    ::chmod(home.root().c_str(), 0755);
    ::chmod(home.configHome().c_str(), 0777);
    ::chmod(home.settingsFile().parent_path().c_str(), 0777);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(3);
        const bool refused =
            platform::SettingsReadError() == EACCES && Write(OptionKey, "Op_1", "True") == EACCES;
        Read(OptionKey, "Op_1");  // a read that would create the section
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(TempHome::ReadFile(home.settingsFile()), "[Setting]\nSet_6=5\n");
}

TEST(SettingsStore, LeftoversOfAKilledWriteAreRemovedButNotALiveOneOrTheUsersFiles) {
    TempHome home;
    const auto dir = home.settingsFile().parent_path();
    TempHome::WriteFile(dir / "Penrika.ini.tmp-Ab3xYz", "[Setting]\nSet_6=1\n");
    TempHome::WriteFile(dir / "Penrika.ini.tmp-L1ve00", "");
    TempHome::WriteFile(dir / "Penrika.ini.backup", "mine");
    // A writer in another process holds its temporary file locked while it fills it.
    int live = ::open((dir / "Penrika.ini.tmp-L1ve00").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);
    ASSERT_EQ(Write(SettingKey, "Set_6", "2"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "Penrika.ini.tmp-Ab3xYz"));
    EXPECT_TRUE(std::filesystem::exists(dir / "Penrika.ini.tmp-L1ve00"));
    EXPECT_TRUE(std::filesystem::exists(dir / "Penrika.ini.backup"));
    ::close(live);
}

// Only a regular file of settings text is read as settings. Anything else at its name (a link to
// a device, garbage, text that is not settings) must neither pass for "no settings" nor be
// replaced: the entries' count and the data file depend on it.
TEST(SettingsStore, WhatIsNotASettingsFileIsRefusedAndLeftAsItIs) {
    TempHome home;
    const fs::path file = home.settingsFile();
    fs::create_directories(file.parent_path());
    const std::string ini = "[Setting]\nSet_6=3\n";
    struct Case {
        const char* what;
        std::function<void()> plant;
        int err;
    } cases[] = {
        {"a link to /dev/zero", [&] { fs::create_symlink("/dev/zero", file); }, EINVAL},
        {"1 MB of random bytes", [&] { TempHome::WriteFile(file, Garbage(1 << 20)); }, EILSEQ},
        {"1 MB of letters and line ends",
         [&] { TempHome::WriteFile(file, Garbage(1 << 20, "abc xyz\n")); }, EILSEQ},
        {"a NUL", [&] { TempHome::WriteFile(file, ini + std::string(1, '\0') + "\n"); }, EILSEQ},
        {"a byte that is not UTF-8", [&] { TempHome::WriteFile(file, ini + "A=\xff\n"); }, EILSEQ},
        {"an overlong UTF-8 form", [&] { TempHome::WriteFile(file, ini + "A=\xC0\xAF\n"); },
         EILSEQ},
        {"a UTF-8 sequence cut short", [&] { TempHome::WriteFile(file, ini + "A=\xE3\x81"); },
         EILSEQ},
        {"text without a section or a value",
         [&] { TempHome::WriteFile(file, "; notes\nSet_6 3\n=1\n[Setting\n"); }, EILSEQ},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant();
        const std::string before = WhatIsAt(file);
        errno = ENOENT;  // as a failed look-up elsewhere leaves it: must not count
        EXPECT_EQ(platform::SettingsReadError(), c.err);
        EXPECT_EQ(Write(SettingKey, "Set_6", "0"), c.err);
        EXPECT_EQ(platform::StoreValues(OptionKey, {{"Op_1", "True"}}), c.err);
        EXPECT_EQ(Read(SettingKey, "Set_6"), "0");
        EXPECT_EQ(Read(OptionKey, "Op_1"), "0") << "a read that would create the section";
        EXPECT_TRUE(WhatIsAt(file) == before) << "replaced";
        fs::remove(file);
    }
}

TEST(SettingsStore, ABlankFileHoldsNoSettingsAndALinkToAFileIsReadAndWrittenThrough) {
    TempHome home;
    const fs::path file = home.settingsFile();
    fs::create_directories(file.parent_path());
    for (const char* blank : {"", "\n", " \t\r\n\n"}) {
        TempHome::WriteFile(file, blank);
        EXPECT_EQ(platform::SettingsReadError(), 0) << "[" << blank << "]";
        EXPECT_EQ(Read(SettingKey, "Set_6"), "0");
        EXPECT_EQ(Write(SettingKey, "Set_6", "1"), 0);
        EXPECT_EQ(Read(SettingKey, "Set_6"), "1");
    }
    // An editor's byte-order mark, and a file kept elsewhere behind a link.
    const fs::path kept = home.root() / "dotfiles" / "Penrika.ini";
    TempHome::WriteFile(kept, "\xEF\xBB\xBF[Option]\nOp_1=True\n");
    fs::remove(file);
    fs::create_symlink(kept, file);
    EXPECT_EQ(platform::SettingsReadError(), 0);
    EXPECT_EQ(Read(OptionKey, "Op_1"), "True");
    ASSERT_EQ(Write(OptionKey, "Op_2", "True"), 0);
    EXPECT_TRUE(fs::is_symlink(file)) << "the link was replaced";
    EXPECT_EQ(TempHome::ReadFile(kept), "[Option]\nOp_1=True\nOp_2=True\n");
}

// A FIFO would hold a blocking open until some writer came, before any window and deaf to
// SIGTERM; a socket cannot be opened at all. Both are refused at once, in a child process so
// that a read that blocks fails the test instead of hanging it.
TEST(SettingsStore, AFifoOrASocketIsRefusedWithoutWaiting) {
    TempHome home;
    const fs::path file = home.settingsFile();
    fs::create_directories(file.parent_path());
    struct Case {
        const char* what;
        std::function<void()> plant;
    } cases[] = {
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }},
        {"a socket",
         [&] {
             sockaddr_un addr = {};
             addr.sun_family = AF_UNIX;
             ASSERT_LT(file.string().size(), sizeof addr.sun_path);
             std::strcpy(addr.sun_path, file.c_str());
             int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
             ::close(fd);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant();
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const bool refused = platform::SettingsReadError() == EINVAL &&
                                 Write(SettingKey, "Set_6", "0") == EINVAL &&
                                 Read(SettingKey, "Set_6") == "0";
            _exit(refused ? 0 : 1);
        }
        int status = 0;
        const bool ended = WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 10s);
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(ended) << "the read waited";
        EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0);
        struct stat st {};
        EXPECT_EQ(::lstat(file.c_str(), &st), 0);
        EXPECT_FALSE(S_ISREG(st.st_mode)) << "replaced by a file";
        fs::remove(file);
    }
}
