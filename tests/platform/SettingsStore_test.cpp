#include "platform/SettingsStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

#include "core/AppState.h"
#include "core/FillCommand.h"
#include "core/Settings.h"
#include "support/TempHome.h"

namespace {

// The program's entries and options, as start-up makes them.
AppState state;

std::string Read(const char* key, const char* name) {
    return ReadSetting(key, name);
}
long Write(const char* key, const char* name, const std::string& value) {
    return WriteSetting(key, name, value);
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
    for (std::string v : {" 3", "a ", "\t", "  ", " a b ", "x\\s", "\\", "a\\t\t", "=", "[x]"}) {
        ASSERT_EQ(Write(SettingKey, "V", v), 0);
        EXPECT_EQ(Read(SettingKey, "V"), v) << "[" << v << "]";
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
