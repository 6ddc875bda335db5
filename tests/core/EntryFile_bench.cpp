// Prints how long loading and saving a full entry table takes, and how fast the program starts
// and how much memory it holds, with an empty and with a full table.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include "core/AppState.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "core/EntryFile.h"
#include "core/FillCommand.h"
#include "core/Settings.h"
#include "e2e/support/XDisplay.h"
#include "platform/AtomicFile.h"
#include "support/Launch.h"
#include "support/TempHome.h"

namespace {

// The program's entries and options, as start-up makes them.
AppState state;

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string Field(const char* stem, int i) {
    // 20 characters: 16 of kana/kanji and a 4-digit number.
    std::string s = stem;
    char n[8];
    std::snprintf(n, sizeof n, "%04d", i % 10000);
    return s + n;
}

void FillTable() {
    state.entries.Resize(32767);
    for (int i = 0; i < 32767; ++i) {
        state.entries[static_cast<size_t>(i)] = {Field("お名前ふりがな項目の名前を入力欄", i),
                                                 Field("山田太郎やまだたろうヤマダタロウ東京", i),
                                                 Field("メモ書き自宅用会社用そのほか備考欄", i)};
    }
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long PeakKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

void Launch(const char* what, bool full) {
    std::vector<double> times;
    long peak = 0;
    for (int run = 0; run < 5; ++run) {
        TempHome home;
        PortableCopy app(home.root() / "portable");
        if (full) {
            FillTable();
            SaveEntries(state.entries);
            std::filesystem::rename(home.appDir() / "Penrika.dat", app.dataFile());
        }
        // Timed to the map event itself: polling the window list would compete with the start.
        e2e::XDisplay x;
        x.WatchMaps();
        auto start = Clock::now();
        pid_t pid = app.Start();
        bool shown = x.WaitMapped("Penrika", std::chrono::seconds(10)) != 0;
        auto took = Clock::now() - start;
        if (!shown) {
            std::printf("launch (%s): the toolbar did not appear\n", what);
            return;
        }
        times.push_back(Ms(took));
        peak = std::max(peak, PeakKb(pid));
        ::kill(pid, SIGTERM);
        app.WaitExit(pid);
    }
    std::printf("launch to toolbar mapped (%s): median %.0f ms of %zu; peak memory %.1f MB\n", what,
                Median(times), times.size(), peak / 1024.0);
}

// Peak memory of loading a table of large entries, measured in a child so that the peak is the
// load's own (the table is written as bytes first, and the peak counter reset before loading).
void LargeLoadPeak() {
    pid_t pid = fork();
    if (pid != 0) {
        waitpid(pid, nullptr, 0);
        return;
    }
    {  // the child ends with _exit: its scratch folder must go before that
        TempHome home;
        double fileMb = 0;
        {
            // 32767 entries of about 10 kB of text each (kana and kanji: two bytes a character).
            std::string text;
            while (text.size() < 11100) text += "東京都千代田区千代田一丁目ヤマダ";
            state.entries.Resize(1);
            state.entries[0] = {"ラベル", text, "メモ"};
            const std::string line = EncodeEntries(state.entries.rows(), 1);
            std::string bytes;
            bytes.reserve(line.size() * 32767);
            for (int i = 0; i < 32767; ++i) bytes += line;
            WriteFileAtomically(DataFilePath(), bytes);
            fileMb = bytes.size() / 1048576.0;
            WriteSetting(SettingKey, "Set_6", "32767");
            state.entries.Resize(0);
        }
        std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak to what is held now
        const long before = PeakKb(::getpid());
        (void)LoadEntries(state.entries);
        const long peak = PeakKb(::getpid());
        std::printf(
            "LoadEntries, 32767 entries of 10 kB (%.0f MB file): peak memory %.0f MB "
            "(%.0f MB above the %.0f MB held before), %.1f times the file\n",
            fileMb, peak / 1024.0, (peak - before) / 1024.0, before / 1024.0,
            (peak - before) / 1024.0 / fileMb);
        state.entries.Resize(0);
    }
    std::fflush(stdout);
    _exit(0);
}

}  // namespace

int main() {
    LargeLoadPeak();
    {
        TempHome home;
        FillTable();
        SaveEntries(state.entries);
        // The floor a durable save cannot go below: the same bytes, and a settings file of the
        // same size, each written, flushed, renamed into place and the rename flushed.
        const std::string bytes = TempHome::ReadFile(DataFilePath());
        const std::string settings = TempHome::ReadFile(home.settingsFile());
        const std::filesystem::path floorFile = home.root() / "floor" / "Penrika.dat";
        const std::filesystem::path floorSettings = home.root() / "floor" / "Penrika.ini";
        std::vector<double> save, load, floorData, floorIni, floorBoth;
        for (int i = 0; i < 15; ++i) {
            auto t0 = Clock::now();
            SaveEntries(state.entries);
            auto t1 = Clock::now();
            (void)LoadEntries(state.entries);
            auto t2 = Clock::now();
            platform::ReplaceFile(floorFile, bytes);
            auto t3 = Clock::now();
            platform::ReplaceFile(floorSettings, settings);
            auto t4 = Clock::now();
            save.push_back(Ms(t1 - t0));
            load.push_back(Ms(t2 - t1));
            floorData.push_back(Ms(t3 - t2));
            floorIni.push_back(Ms(t4 - t3));
            floorBoth.push_back(Ms(t4 - t2));
        }
        std::printf(
            "durable replace (write, fsync, rename, folder fsync): the same %.2f MB %.1f ms, "
            "a %zu-byte settings file %.1f ms; both %.1f ms (medians of %zu)\n",
            bytes.size() / 1e6, Median(floorData), settings.size(), Median(floorIni),
            Median(floorBoth), save.size());
        std::printf(
            "SaveEntries, 32767 entries of 20-character Japanese fields (%.2f MB): "
            "median %.1f ms, %.2f times the floor\n",
            bytes.size() / 1e6, Median(save), Median(save) / Median(floorBoth));
        std::printf("LoadEntries, the same: median %.1f ms\n", Median(load));
        // The parts that take no disk: the text to bytes and back.
        std::vector<double> encode, decode;
        for (int i = 0; i < 15; ++i) {
            auto t0 = Clock::now();
            const std::string encoded = EncodeEntries(state.entries.rows(), 32767);
            auto t1 = Clock::now();
            const std::vector<Entry> decoded = DecodeEntries(encoded, "Penrika.dat");
            auto t2 = Clock::now();
            encode.push_back(Ms(t1 - t0));
            decode.push_back(Ms(t2 - t1));
        }
        std::printf("of which EncodeEntries median %.1f ms, DecodeEntries median %.1f ms\n",
                    Median(encode), Median(decode));
    }
    Launch("no entries", false);
    Launch("32767 entries", true);
    return 0;
}
