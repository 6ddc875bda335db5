// Proves the end-to-end harness in a Wayland session (tests/support/sway-session.sh): each
// browser runs natively on Wayland in a fresh profile, the page is found on the output from
// where the compositor's virtual pointer is, a real triple-click selects a label and a real
// click focuses a field; the Japanese input method runs there too and switches on and off.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "e2e/support/Browser.h"
#include "e2e/support/FormServer.h"
#include "e2e/support/SwayScreen.h"
#include "e2e/support/Util.h"
#include "support/ScratchDir.h"

namespace {

using e2e::Browser;
using namespace std::chrono_literals;

std::string Trimmed(std::string s) {
    auto blank = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.back())) s.pop_back();
    while (!s.empty() && blank(s.front())) s.erase(0, 1);
    return s;
}

class SwayHarness : public ::testing::TestWithParam<Browser> {
  protected:
    void SetUp() override {
        if (!e2e::BrowserInstalled(GetParam())) GTEST_SKIP() << "browser not installed";
    }

    // The browser's window as sway has it: a Wayland window of its own, not one of Xwayland.
    static void ExpectNative(e2e::BrowserSession& b) {
        auto* sway = dynamic_cast<e2e::SwayScreen*>(&b.screen());
        ASSERT_NE(sway, nullptr) << "not in a sway session";
        EXPECT_EQ(sway->Node(b.window()).value("shell").toString().toStdString(), "xdg_shell");
    }
};

TEST_P(SwayHarness, RealClicksSelectALabelAndFocusFieldsOfANativeWindow) {
    ScratchDir dir("sway-harness");
    e2e::FormServer server(dir.path());
    e2e::BrowserSession b(GetParam(), server, "form.html", dir.path());
    b.WaitReady("お申し込みフォーム");
    ExpectNative(b);
    e2e::Event layout = b.WaitLayout();
    ASSERT_EQ(layout.rects.count("l-zip"), 1u) << layout.raw;

    EXPECT_EQ(Trimmed(b.TripleClick("l-zip")), "郵便番号");
    b.ClickToFocus("mail");
    b.ClickToFocus("tel");
    EXPECT_EQ(Trimmed(b.TripleClick("l-name-idsp")), "お　名前");

    // Moved elsewhere on the output, the window is found again.
    auto& sway = dynamic_cast<e2e::SwayScreen&>(b.screen());
    ASSERT_TRUE(sway.Command(b.window(), "move position 200 80"));
    b.WaitLayout();
    EXPECT_EQ(Trimmed(b.TripleClick("l-mail")), "メール");
}

// The input method in the same session: fcitx5 + mozc beside the browser (both as the session's
// user), reached through fcitx5's Wayland frontend. Switched on in a field the pointer focused,
// romaji typed on the compositor's keyboard compose kana that the page sees being composed and
// committed; switched off, keys reach the page as they are.
TEST_P(SwayHarness, InputMethodSwitchesOnAndOffInAFieldOfTheNativeWindow) {
    ScratchDir dir("sway-harness-im");
    e2e::FormServer server(dir.path());
    e2e::BrowserOptions options;
    options.inputMethod = true;
    e2e::BrowserSession b(GetParam(), server, "form.html", dir.path(), options);
    b.WaitReady("お申し込みフォーム");
    ExpectNative(b);
    b.WaitLayout();
    b.ClickToFocus("name");
    ASSERT_TRUE(b.SetInputMethod(true)) << "state " << b.InputMethodState() << "\n" << b.Log();

    const std::vector<std::pair<std::string, std::string>> keys = {
        {"a", "あ"}, {"i", "あい"}, {"u", "あいう"}};
    for (const auto& [key, preedit] : keys) {
        const int before = server.LastSeq();
        b.screen().Key(key);
        EXPECT_TRUE(server.WaitEvent(
            "composition", before, 10s, b.tag(),
            [&](const e2e::Event& e) { return e.phase == "update" && e.text == preedit; }))
            << "after " << key << ": " << server.Events().back().raw << "\n"
            << b.Log();
    }
    int before = server.LastSeq();
    b.screen().Key("Return");  // the first Enter only commits the composition
    EXPECT_TRUE(server.WaitEvent("composition", before, 10s, b.tag(), [](const e2e::Event& e) {
        return e.phase == "end" && e.text == "あいう";
    }));

    ASSERT_TRUE(b.SetInputMethod(false)) << "state " << b.InputMethodState() << "\n" << b.Log();
    b.screen().Type("eo");
    before = server.LastSeq();
    b.screen().Key("Return");
    std::optional<e2e::Event> sent = b.WaitSubmission(before);
    ASSERT_TRUE(sent) << "no submission\n" << b.Log();
    EXPECT_EQ(sent->fields["name"], "あいうeo") << sent->raw;
}

INSTANTIATE_TEST_SUITE_P(Browsers, SwayHarness,
                         ::testing::Values(Browser::Chromium, Browser::Firefox),
                         [](const auto& info) {
                             return std::string(e2e::BrowserName(info.param));
                         });

}  // namespace
