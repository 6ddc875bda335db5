#include "platform/SettingsStore.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "globals.h"
#include "modMainForm.h"
#include "support/TempHome.h"

namespace {

std::string Read(const char* key, const char* name) {
    return ReadSetting(HKEY_CURRENT_USER, key, name);
}
long Write(const char* key, const char* name, const std::string& value) {
    return WriteSetting(REG_SZ_TEXT, HKEY_CURRENT_USER, key, name, value);
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
    LoadOptions();
    EXPECT_FALSE(Options[AlwaysOnTop]);
    EXPECT_FALSE(Options[ConfirmBeforeFill]);
    ASSERT_EQ(Write(OptionKey, "Op_1", "True"), 0);
    LoadOptions();
    EXPECT_TRUE(Options[AlwaysOnTop]);
    EXPECT_FALSE(Options[ConfirmBeforeFill]) << "a missing Op_2 is off";
    ASSERT_EQ(Write(OptionKey, "Op_1", "False"), 0);
    ASSERT_EQ(Write(OptionKey, "Op_2", "-1"), 0);
    LoadOptions();
    EXPECT_FALSE(Options[AlwaysOnTop]);
    EXPECT_TRUE(Options[ConfirmBeforeFill]) << "numeric text is on unless zero";
    for (const char* off : {"0", "", "yes", "0.0"}) EXPECT_FALSE(OptionTextIsOn(off)) << off;
    for (const char* on : {"True", "1", "2", "-1"}) EXPECT_TRUE(OptionTextIsOn(on)) << on;
}
