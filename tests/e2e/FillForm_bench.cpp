// Prints how exactly and how fast entries are typed into each browser, with the Japanese input
// method off and on: 1,000 mixed characters, and the latency of activation, Tab and ten
// Japanese characters.
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/AppState.h"
#include "core/FillCommand.h"
#include "e2e/support/Browser.h"
#include "e2e/support/FormServer.h"
#include "platform/x11/X11Desktop.h"
#include "support/ScratchDir.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// 1,000 characters (the ones no key carries go by paste, a run at a time): kanji, kana, half-width kana, full-width digits, ASCII with notation
// characters escaped.
std::string MixedText(std::string& expected) {
    const char* pieces[][2] = {{"山田太郎", "山田太郎"}, {"やまだ", "やまだ"},
                               {"ｷｬﾝｾﾙ", "ｷｬﾝｾﾙ"},       {"１２３", "１２３"},
                               {"{+}{^}{%}", "+^%"},     {"taro@example.jp ", "taro@example.jp "},
                               {"東京都", "東京都"},     {"Ab-9", "Ab-9"}};
    std::string text;
    expected.clear();
    for (int i = 0; expected.size() < 2600; ++i) {  // UTF-8 bytes; counted in characters below
        text += pieces[i % 8][0];
        expected += pieces[i % 8][1];
    }
    return text;
}

size_t Chars(const std::string& s) {
    return static_cast<size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

void Run(platform::X11Desktop& desktop, e2e::Browser browser, bool im) {
    const char* name = e2e::BrowserName(browser);
    const char* mode = im ? "input method on" : "input method off";
    ScratchDir dir("bench");
    e2e::FormServer server(dir.path());
    e2e::BrowserOptions options;
    options.inputMethod = im;
    e2e::BrowserSession b(browser, server, "form.html", dir.path(), options);
    b.WaitReady("お申し込みフォーム");
    b.WaitLayout();
    if (im) {
        // Penrika shares the session's bus with the input method.
        qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(b.BusAddress()));
        b.ClickToFocus("zip");
        if (!b.SetInputMethod(true)) {
            std::printf("%s, %s: the input method could not be switched on\n", name, mode);
            return;
        }
    }
    AppState state;
    FillCommand road(desktop.Parts(), state, {});
    road.SetBrowser({b.window(), b.display().Title(b.window()), false});

    // Latency: activation, Tab and ten Japanese characters (the page reports the field's
    // value as it changes; the time is taken when FillForm returns, after the keys were had).
    std::vector<double> latency;
    for (const char* label : {"l-zip", "l-tel", "l-name", "l-name-sp", "l-mail"}) {
        b.TripleClick(label);
        auto t0 = Clock::now();
        road.FillForm("山田太郎やまだたろう");
        latency.push_back(Ms(Clock::now() - t0));
    }
    std::sort(latency.begin(), latency.end());

    std::string expected;
    const std::string text = MixedText(expected);
    const int before = server.LastSeq();
    b.TripleClick("l-name-idsp");
    const std::uint64_t mapsBefore = desktop.keyboard().mapChanges();
    auto t0 = Clock::now();
    road.FillForm(text + "~");
    double took = Ms(Clock::now() - t0);
    const std::uint64_t maps = desktop.keyboard().mapChanges() - mapsBefore;
    std::optional<e2e::Event> sent = b.WaitSubmission(before, 120s);
    std::string got = sent ? sent->fields["name_idsp"] : "";
    size_t exact = 0;
    while (exact < got.size() && exact < expected.size() && got[exact] == expected[exact]) ++exact;
    std::printf(
        "%s, %s: %zu characters typed %s (%zu of %zu bytes exact), %.0f characters/s, "
        "%llu keyboard map changes; activation + Tab + 10 Japanese characters: median %.0f ms\n",
        name, mode, Chars(expected), got == expected ? "exactly" : "WITH ERRORS", exact,
        expected.size(), Chars(expected) / (took / 1000.0), static_cast<unsigned long long>(maps),
        latency[latency.size() / 2]);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    platform::X11Desktop desktop;
    // Other paces with an input method can be tried without a rebuild:
    // PENRIKA_IM_TIMING="remapSettleMs,remapAfterMs,staleMapMs,keyGapMs".
    if (const char* t = std::getenv("PENRIKA_IM_TIMING")) {
        platform::X11Keyboard::Timing* im = &desktop.keyboard().timing(true);
        if (std::sscanf(t, "%d,%d,%d,%d", &im->remapSettleMs, &im->remapAfterMs, &im->staleMapMs,
                        &im->keyGapMs) == 4) {
            std::printf("input method pace: settle %d ms, after %d ms, stale %d ms, gap %d ms\n",
                        im->remapSettleMs, im->remapAfterMs, im->staleMapMs, im->keyGapMs);
        }
    }
    const char* only = std::getenv("PENRIKA_BENCH_ONLY");  // "off" or "on"
    // Each figure is printed as soon as it is known, and a run that fails does not lose the
    // others.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int failed = 0;
    for (e2e::Browser b : {e2e::Browser::Chromium, e2e::Browser::Firefox}) {
        if (!e2e::BrowserInstalled(b)) continue;
        for (bool im : {false, true}) {
            if (only && std::string(only) != (im ? "on" : "off")) continue;
            try {
                Run(desktop, b, im);
            } catch (const std::exception& e) {
                std::printf("%s, input method %s: failed: %s\n", e2e::BrowserName(b),
                            im ? "on" : "off", e.what());
                ++failed;
            }
        }
    }
    return failed ? 1 : 0;
}
