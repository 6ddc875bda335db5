// Proves the end-to-end harness on each browser: the page loads in a fresh profile, a real
// triple-click selects a label, Tab from that selection reaches the label's field, typing and
// Enter submit the form, and the form server's log shows exactly what arrived.
#include <gtest/gtest.h>

#include <QClipboard>
#include <filesystem>

#include "e2e/support/Browser.h"
#include "e2e/support/FormServer.h"
#include "e2e/support/UserSession.h"
#include "e2e/support/Util.h"
#include "e2e/support/XDisplay.h"
#include "e2e/support/Xdotool.h"
#include "support/GuiApp.h"
#include "support/ScratchDir.h"
#include "ui/WindowUtil.h"

namespace {

using e2e::Browser;
using namespace std::chrono_literals;

std::string Trimmed(std::string s) {
    auto blank = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.back())) s.pop_back();
    while (!s.empty() && blank(s.front())) s.erase(0, 1);
    return s;
}

class Harness : public ::testing::TestWithParam<Browser> {
  protected:
    void SetUp() override {
        if (!e2e::BrowserInstalled(GetParam())) GTEST_SKIP() << "browser not installed";
    }
};

TEST_P(Harness, TripleClickTabTypeAndEnterReachTheServer) {
    ScratchDir dir("harness");
    e2e::FormServer server(dir.path());
    e2e::BrowserSession b(GetParam(), server, "form.html", dir.path());
    b.WaitReady("お申し込みフォーム");
    e2e::Event layout = b.WaitLayout();
    ASSERT_EQ(layout.rects.count("l-zip"), 1u) << layout.raw;

    // The label, selected the way a user selects it, and Tab from there into its field.
    EXPECT_EQ(Trimmed(b.TripleClick("l-zip")), "郵便番号");
    e2e::XdoKey("Tab");
    e2e::XdoType("1234567");

    b.ClickToFocus("mail");
    e2e::XdoType("taro@example.jp");
    const int before = server.LastSeq();
    e2e::XdoKey("Return");

    std::optional<e2e::Event> sent = b.WaitSubmission(before);
    ASSERT_TRUE(sent) << "no submission\n" << b.Log();
    EXPECT_EQ(sent->page, "form.html");
    EXPECT_EQ(sent->fields["zip"], "1234567") << sent->raw;
    EXPECT_EQ(sent->fields["mail"], "taro@example.jp") << sent->raw;
    EXPECT_EQ(sent->fields["tel"], "") << sent->raw;
    EXPECT_EQ(sent->fields.size(), 7u) << sent->raw;

    // The server sends the browser back to the form, ready for the next case.
    b.WaitLayout();
    EXPECT_EQ(Trimmed(b.TripleClick("l-name-idsp")), "お　名前");
}

// The fixtures later tests rely on: the confirmation field refuses a paste that the field
// before it takes, and the second page has two fields one Tab apart.
TEST_P(Harness, PagesRefusePasteWhereAskedAndHaveTwoFieldsInARow) {
    ScratchDir dir("harness-pages");
    e2e::FormServer server(dir.path());
    e2e::BrowserSession b(GetParam(), server, "form.html", dir.path());
    b.WaitReady("お申し込みフォーム");
    b.WaitLayout();
    b.ClickToFocus("mail");
    e2e::XdoType("hanako@example.jp");
    e2e::XdoKey("ctrl+a ctrl+c");
    b.ClickToFocus("tel");
    e2e::XdoKey("ctrl+v");
    b.ClickToFocus("mail2");
    e2e::XdoKey("ctrl+v");
    int before = server.LastSeq();
    e2e::XdoKey("Return");
    std::optional<e2e::Event> sent = b.WaitSubmission(before);
    ASSERT_TRUE(sent) << b.Log();
    EXPECT_EQ(sent->fields["tel"], "hanako@example.jp") << sent->raw;
    EXPECT_EQ(sent->fields["mail2"], "") << sent->raw;

    e2e::BrowserSession two(GetParam(), server, "twofields.html", dir.path() / "two");
    two.WaitReady("氏名の入力");
    two.WaitLayout();
    EXPECT_EQ(Trimmed(two.TripleClick("l-fullname")), "氏名");
    e2e::XdoKey("Tab");
    e2e::XdoType("Yamada");
    e2e::XdoKey("Tab");
    e2e::XdoType("Taro");
    before = server.LastSeq();
    e2e::XdoKey("Return");
    sent = two.WaitSubmission(before);
    ASSERT_TRUE(sent) << two.Log();
    EXPECT_EQ(sent->page, "twofields.html");
    EXPECT_EQ(sent->fields["sei"], "Yamada") << sent->raw;
    EXPECT_EQ(sent->fields["mei"], "Taro") << sent->raw;
}

INSTANTIATE_TEST_SUITE_P(Browsers, Harness, ::testing::Values(Browser::Chromium, Browser::Firefox),
                         [](const auto& info) {
                             return std::string(e2e::BrowserName(info.param));
                         });

}  // namespace

// The building blocks for runs with a Japanese input method: the browser runs as an
// unprivileged user beside fcitx5 + mozc, the test switches mozc on, and romaji typed on the
// keyboard composes kana that the page sees being composed and committed.
TEST_P(Harness, InputMethodSessionTurnsRomajiIntoKana) {
    ScratchDir dir("harness-im");
    e2e::FormServer server(dir.path());
    e2e::BrowserOptions options;
    options.inputMethod = true;
    e2e::BrowserSession b(GetParam(), server, "form.html", dir.path(), options);
    b.WaitReady("お申し込みフォーム");
    b.WaitLayout();
    b.ClickToFocus("name");
    ASSERT_TRUE(b.SetInputMethod(true)) << "state " << b.InputMethodState() << "\n" << b.Log();

    // Key by key, each waited for in the page's composition, so that a slow machine is no
    // reason to fail; a key the input method lost still is.
    const std::vector<std::pair<std::string, std::string>> keys = {
        {"a", "あ"}, {"i", "あい"}, {"u", "あいう"}, {"e", "あいうえ"}, {"o", "あいうえお"}};
    for (const auto& [key, preedit] : keys) {
        const int before = server.LastSeq();
        e2e::XdoKey(key);
        EXPECT_TRUE(server.WaitEvent(
            "composition", before, 10s, b.tag(),
            [&](const e2e::Event& e) { return e.phase == "update" && e.text == preedit; }))
            << "after " << key << ": " << server.Events().back().raw;
    }
    int before = server.LastSeq();
    e2e::XdoKey("Return");  // the first Enter only commits the composition
    EXPECT_TRUE(server.WaitEvent("composition", before, 10s, b.tag(), [](const e2e::Event& e) {
        return e.phase == "end" && e.text == "あいうえお";
    }));
    ASSERT_TRUE(b.SetInputMethod(false));
    before = server.LastSeq();
    e2e::XdoKey("Return");
    std::optional<e2e::Event> sent = b.WaitSubmission(before);
    ASSERT_TRUE(sent) << "no submission\n" << b.Log();
    EXPECT_EQ(sent->fields["name"], "あいうえお") << sent->raw;
}

// The same session around the program itself: with mozc on, romaji typed into the entry
// editor's 記入項目 box is composed by the input method and committed as kana, as it is for a
// user on a Japanese desktop (the Qt 6 module of fcitx5 must be installed for that).
TEST(InputMethodSession, RomajiInTheEditorsLabelBoxIsCommittedAsKana) {
    GuiApp();  // reads the clipboard
    ScratchDir dir("editor-im");
    e2e::UserSession user(dir.path(), "penrika", /*inputMethod=*/true);
    // A portable copy in the user's home, which keeps its entries and settings there.
    const std::filesystem::path exe = user.home() / "app" / "penrika";
    std::filesystem::create_directories(exe.parent_path());
    std::filesystem::copy_file(PENRIKA_BINARY, exe);
    user.Start({exe.string()});

    e2e::XDisplay x;
    auto find = [&](const std::string& title) -> std::uint32_t {
        for (std::uint32_t w : x.ClientWindows())
            if (x.Viewable(w) && x.Title(w) == title) return w;
        return 0;
    };
    std::uint32_t toolbar = 0, editor = 0;
    ASSERT_TRUE(WaitUntil([&] { return (toolbar = find("Penrika")) != 0; }, 30s)) << user.Log();
    std::vector<int> f = x.Frame(toolbar);
    ASSERT_EQ(f.size(), 4u);
    x.Click(f[0] + f[2] * 3 / 12, f[1] + f[3] / 2);  // データー編集, the second of six buttons
    ASSERT_TRUE(WaitUntil(
        [&] {
            editor = find("Penrika for IE - データー編集");
            return editor && x.ActiveWindow() == editor;
        },
        10s))
        << user.Log();
    f = x.Frame(editor);
    ASSERT_EQ(f.size(), 4u);
    x.Click(f[0] + TwipsToPxX(1365 + 5790 / 2), f[1] + TwipsToPxY(315 + 330 / 2));  // 記入項目
    // Fails with state 0 when the box has no input context: no Qt module for fcitx5.
    ASSERT_TRUE(user.SetInputMethod(true)) << "state " << user.InputMethodState() << "\n"
                                           << user.Log();

    // The first Enter commits the composition. Then the box's text goes to the clipboard: with
    // nothing being composed, mozc hands these keys to the box, after the keys before them.
    e2e::XdoKey("a i u Return");
    e2e::XdoKey("ctrl+a ctrl+c");
    QString copied;
    EXPECT_TRUE(WaitUntil(
        [&] {
            copied = QGuiApplication::clipboard()->text();
            return copied == "あいう";
        },
        10s))
        << "the box holds \"" << copied.toStdString() << "\"\n"
        << user.Log();
}
