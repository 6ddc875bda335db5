// How long the label lookup takes over a full table (32,767 entries): the median of repeated
// runs for a highlight matching one entry, a handful, none, and a highlight of spaces that
// offers every entry.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "core/AppState.h"
#include "core/Matching.h"

namespace {

// The program's entries and options, as start-up makes them.
AppState state;

double MedianMs(const std::string& copied, int runs, int* count) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        *count = static_cast<int>(MatchEntries(state.entries, copied).size());
        auto t1 = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main() {
    const char* const kinds[] = {"お名前",         "フリガナ", "郵便番号", "ご住所", "電話番号",
                                 "メールアドレス", "生年月日", "勤務先",   "備考"};
    state.entries.Resize(32767);
    for (std::size_t i = 0; i < state.entries.size() - 1; ++i) {
        state.entries[i] = {std::string(kinds[i % 9]) + std::to_string(i),
                            "記入する文字列その" + std::to_string(i), i % 3 ? "" : "メモ欄の内容"};
    }
    const std::string one = state.entries[23456][ItemLabel];
    const std::string few =
        state.entries[1000][ItemLabel].substr(0, state.entries[1000][ItemLabel].size() - 1);
    struct Case {
        const char* name;
        std::string copied;
    } cases[] = {
        {"one label", one},
        {"a few labels", few},
        {"no label", "存在しない項目"},
        {"every entry (spaces only)", " \u3000 "},
    };
    std::printf("MatchEntries over %d entries, median of 201 runs\n",
                static_cast<int>(state.entries.count()));
    for (const Case& c : cases) {
        int count = 0;
        double ms = MedianMs(c.copied, 201, &count);
        std::printf("  %-27s %6d matches %8.3f ms\n", c.name, count, ms);
    }
    return 0;
}
