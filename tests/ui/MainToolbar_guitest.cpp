// The life of the main toolbar, driven from outside as a user and the desktop would: a
// portable copy of the real program on a private X server.
#include <gtest/gtest.h>
#include <signal.h>

#include "core/EntryFile.h"
#include "core/FillCommand.h"
#include "core/Settings.h"
#include "support/Launch.h"
#include "support/TempHome.h"

namespace fs = std::filesystem;

namespace {

const std::vector<Entry> kRows = {
    {"お名前", "山田太郎", ""}, {"電話番号", "03-1234-5678", "自宅"}, {"古い", "消える", ""}};

std::string WaitForToolbar() {
    std::string id;
    WaitUntil([&] {
        auto ids = WindowsNamed("^Penrika$");
        if (ids.size() == 1) id = ids[0];
        return !id.empty();
    });
    return id;
}

void Store(const char* key, const char* name, const std::string& value) {
    ASSERT_EQ(WriteSetting(key, name, value), 0);
}

}  // namespace

TEST(MainWindow, FirstLaunchShowsTheToolbarOutsideTheBandAndWritesNothing) {
    TempHome home;
    PortableCopy app(home.root() / "portable");
    pid_t pid = app.Start();
    std::string id = WaitForToolbar();
    ASSERT_FALSE(id.empty()) << "the toolbar window did not appear";
    EXPECT_EQ(WindowState(id).find("_NET_WM_STATE_ABOVE"), std::string::npos);
    // Both keys exist, empty; no value and no data file were written by starting.
    std::string settings = TempHome::ReadFile(home.settingsFile());
    EXPECT_NE(settings.find("[Setting]"), std::string::npos);
    EXPECT_NE(settings.find("[Option]"), std::string::npos);
    EXPECT_EQ(settings.find('='), std::string::npos) << settings;
    EXPECT_FALSE(fs::exists(app.dataFile()));

    ::kill(pid, SIGTERM);
    EXPECT_EQ(app.WaitExit(pid), 0);
    EXPECT_EQ(ReadSetting(SettingKey, "Set_6"), "0");
    EXPECT_FALSE(fs::exists(app.dataFile())) << "no entries, no file";
}

TEST(MainWindow, AlwaysOnTopPutsTheToolbarInTheBand) {
    TempHome home;
    Store(OptionKey, "Op_1", "True");
    PortableCopy app(home.root() / "portable");
    pid_t pid = app.Start();
    std::string id = WaitForToolbar();
    ASSERT_FALSE(id.empty());
    EXPECT_TRUE(
        WaitUntil([&] { return WindowState(id).find("_NET_WM_STATE_ABOVE") != std::string::npos; },
                  std::chrono::seconds(5)))
        << WindowState(id);
    ::kill(pid, SIGTERM);
    EXPECT_EQ(app.WaitExit(pid), 0);
}

// Each way of ending the program saves the entries: a file that an editor wrote as UTF-8 is
// written back as the program writes it.
TEST(MainWindow, ExitSignalsAndTheCloseButtonSaveTheEntries) {
    std::string utf8;
    for (const Entry& r : kRows) utf8 += "\"" + r[0] + "\",\"" + r[1] + "\",\"" + r[2] + "\"\r\n";
    struct Way {
        const char* name;
        std::function<void(pid_t, const std::string&)> end;
    } ways[] = {
        {"SIGTERM", [](pid_t pid, const std::string&) { ::kill(pid, SIGTERM); }},
        {"SIGHUP", [](pid_t pid, const std::string&) { ::kill(pid, SIGHUP); }},
        {"終了 button",
         [](pid_t, const std::string& id) {
             // The sixth of the toolbar's 23-pixel buttons, clicked with the real pointer.
             Capture("xdotool mousemove --window " + id + " 126 11 click 1");
         }},
        {"close button",
         [](pid_t, const std::string& id) {
             // openbox closes the active window on Alt+F4 with a polite WM_DELETE_WINDOW.
             Capture("xdotool windowactivate --sync " + id + " key --clearmodifiers alt+F4");
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        TempHome home;
        PortableCopy app(home.root() / "portable");
        TempHome::WriteFile(app.dataFile(), utf8);
        Store(SettingKey, "Set_6", "3");
        pid_t pid = app.Start();
        std::string id = WaitForToolbar();
        ASSERT_FALSE(id.empty());
        way.end(pid, id);
        EXPECT_EQ(app.WaitExit(pid), 0);
        EXPECT_EQ(TempHome::ReadFile(app.dataFile()), EncodeEntries(kRows, 3));
        EXPECT_EQ(ReadSetting(SettingKey, "Set_6"), "3");
    }
}

// A count that disagrees with the file is told over the running toolbar; the file's records
// stand, and a termination request while the message is open still saves them.
TEST(MainWindow, ACountThatDisagreesWithTheFileIsToldAndNoRecordIsLost) {
    TempHome home;
    PortableCopy app(home.root() / "portable");
    TempHome::WriteFile(app.dataFile(), EncodeEntries(kRows, 3));
    Store(SettingKey, "Set_6", "2");
    pid_t pid = app.Start();
    // The toolbar and the message box over it.
    ASSERT_TRUE(WaitUntil([] { return WindowsNamed("^Penrika$").size() == 2; }))
        << "no notice over the toolbar";
    ::kill(pid, SIGTERM);
    EXPECT_EQ(app.WaitExit(pid), 0);
    EXPECT_EQ(TempHome::ReadFile(app.dataFile()), EncodeEntries(kRows, 3));
    EXPECT_EQ(ReadSetting(SettingKey, "Set_6"), "3");
}

// A data file that cannot be used stops the start with a message; nothing is written, whether
// the user confirms the message or the session ends while it is open.
TEST(MainWindow, AnUnusableFileIsReportedAndNothingIsWritten) {
    const std::string golden = EncodeEntries(kRows, 3);
    const std::string broken[] = {golden.substr(0, golden.size() - 5),  // cut inside a record
                                  golden + "\"\x82\",\"\",\"\"\r\n"};   // no encoding's bytes
    for (const std::string& bytes : broken) {
        for (bool confirm : {true, false}) {
            SCOPED_TRACE(confirm ? "confirmed" : "SIGTERM");
            TempHome home;
            PortableCopy app(home.root() / "portable");
            TempHome::WriteFile(app.dataFile(), bytes);
            Store(SettingKey, "Set_6", "3");
            const std::string settingsBefore = TempHome::ReadFile(home.settingsFile());
            pid_t pid = app.Start();
            std::string box;
            ASSERT_TRUE(WaitUntil([&] {
                auto ids = WindowsNamed("^Penrika：エラー$");
                if (!ids.empty()) box = ids[0];
                return !box.empty();
            })) << "no error message";
            EXPECT_TRUE(WindowsNamed("^Penrika$").empty()) << "the toolbar must not appear";
            if (confirm) {
                Capture("xdotool windowactivate --sync " + box + " key Return");
                EXPECT_EQ(app.WaitExit(pid), 1);
            } else {
                ::kill(pid, SIGTERM);
                EXPECT_EQ(app.WaitExit(pid), 128 + SIGTERM) << "ended as a terminated program";
            }
            EXPECT_EQ(TempHome::ReadFile(app.dataFile()), bytes);
            EXPECT_EQ(TempHome::ReadFile(home.settingsFile()), settingsBefore);
        }
    }
}

TEST(MainWindow, ASaveThatFailsAtCloseKeepsTheProgramRunning) {
    TempHome home;
    PortableCopy app(home.root() / "portable");
    TempHome::WriteFile(app.dataFile(), EncodeEntries(kRows, 2));
    Store(SettingKey, "Set_6", "2");
    pid_t pid = app.Start();
    std::string id = WaitForToolbar();
    ASSERT_FALSE(id.empty());
    // The directory becomes unwritable (root ignores mode bits: replace it by a file instead).
    fs::path dir = app.dir();
    fs::rename(app.dataFile(), home.root() / "moved.dat");
    fs::create_directory(app.dataFile());  // a directory where the file should go
    ::kill(pid, SIGTERM);
    std::string box;
    ASSERT_TRUE(WaitUntil([&] {
        auto ids = WindowsNamed("^Penrika：エラー$");
        if (!ids.empty()) box = ids[0];
        return !box.empty();
    })) << "the failed save must be reported";
    Capture("xdotool windowactivate --sync " + box + " key Return");
    EXPECT_TRUE(WaitUntil([&] { return WindowsNamed("^Penrika：エラー$").empty(); }));
    EXPECT_TRUE(app.Running(pid)) << "entries only in memory: the program must stay";
    // Once the way is clear again, closing saves.
    fs::remove(app.dataFile());
    ::kill(pid, SIGTERM);
    EXPECT_EQ(app.WaitExit(pid), 0);
    EXPECT_EQ(TempHome::ReadFile(app.dataFile()), EncodeEntries(kRows, 2));
}

// --version and --help answer on the terminal, in Japanese, with no display and no window.
TEST(MainWindow, VersionAndHelpAnswerWithoutADisplay) {
    auto run = [](const std::string& args, int& status) {
        std::string out;
        FILE* p = ::popen(("env -u DISPLAY " PENRIKA_BINARY " " + args + " 2>&1").c_str(), "r");
        char buf[512];
        for (size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        status = p ? ::pclose(p) : -1;
        return out;
    };
    int status = -1;
    const std::string version = run("--version", status);
    EXPECT_EQ(status, 0) << version;
    EXPECT_EQ(version.rfind("penrika 1.", 0), 0u) << version;
    const std::string help = run("--help", status);
    EXPECT_EQ(status, 0) << help;
    for (const char* part : {"使い方", "-h, --help", "このヘルプを表示する。", "-v, --version",
                             "ブラウザーのフォームに"}) {
        EXPECT_NE(help.find(part), std::string::npos) << part << "\n" << help;
    }
    EXPECT_EQ(help.find("Displays"), std::string::npos) << help;
    run("--version --no-such-option", status);
    EXPECT_NE(status, 0);
}
