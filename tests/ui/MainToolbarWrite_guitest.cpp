// The Write button's road against a scripted desktop: which window is taken for the browser,
// what is copied, what is typed, and what the user is told.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

#include "core/AppState.h"
#include "core/FillCommand.h"
#include "support/FakeDesktop.h"
#include "support/GuiApp.h"
#include "ui/CandidateList.h"
#include "ui/MainToolbar.h"
#include "ui/WindowUtil.h"

namespace {

// The program's entries and options, as start-up makes them.
AppState state;

QApplication& App() {
    return GuiApp();
}

const char* const kNotRecognised = "プラウザが認識できません。";
const char* const kNoItem = "項目が認識できません。";
const char* const kNotRegistered = "項目は登録されていません。";

void SetEntries(std::initializer_list<Entry> rows) {
    state.entries.Resize(static_cast<std::int16_t>(rows.size()));
    std::size_t i = 0;
    for (const Entry& r : rows) state.entries[i++] = r;
}

class WriteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        state.options = {};
        SetEntries({{"お名前", "山田太郎", ""},
                    {"郵便番号", "100-0001", "自宅"},
                    {"電話番号", "03-1111-2222", ""},
                    {"郵便", "〒", ""}});
        BuildOn(desk_);
    }
    void TearDown() override {
        main_.reset();
        state.entries.Resize(0);
    }

    // A fresh toolbar over `desk`.
    void BuildOn(fake::FakeDesktop& desk) {
        main_ = std::make_unique<MainToolbar>(state, desk.shell());
        self_ = IdOf(main_.get());
    }
    // The toolbar on top, then `below` in order.
    void Stack(std::vector<platform::WindowId> below) {
        below.insert(below.begin(), self_);
        desk_.SetStack(below);
    }
    platform::WindowId Browser(const std::string& highlight) {
        fake::Window w{.caption = "フォーム - Chromium"};
        w.selection = highlight;
        return desk_.AddWindow(w);
    }
    void PressWrite() { main_->RunCommandNamed("Write"); }

    void ExpectOneMessage(const std::string& prompt, const std::string& title) {
        ASSERT_EQ(desk_.msgBoxes().size(), 1u);
        EXPECT_EQ(desk_.msgBoxes()[0].prompt, prompt);
        EXPECT_EQ(desk_.msgBoxes()[0].style, 0);
        EXPECT_EQ(desk_.msgBoxes()[0].title, title);
    }
    // The last thing the press did to the clipboard, the browser or the user, leaving out the
    // toolbar's return to its band, which ends every press.
    static std::string LastBesidesTheBand(const std::vector<std::string>& log) {
        auto it = std::find_if(log.rbegin(), log.rend(),
                               [](const std::string& l) { return !l.starts_with("topmost "); });
        return it == log.rend() ? std::string() : *it;
    }
    bool Logged(const std::string& line) const {
        const auto& log = desk_.log();
        return std::find(log.begin(), log.end(), line) != log.end();
    }

    fake::FakeDesktop desk_;
    std::unique_ptr<MainToolbar> main_;
    platform::WindowId self_ = 0;
};

TEST_F(WriteTest, NoUsableWindowBelowSendsNothing) {
    struct Case {
        const char* name;
        fake::Window window;
    } cases[] = {
        {"owned dialog", {.caption = "ファイルを開く", .owner = 0x999}},
        {"empty caption", {.caption = ""}},
        {"caption False", {.caption = "False"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            fake::FakeDesktop desk;
            BuildOn(desk);
            desk.SetClipboard("お名前");
            platform::WindowId w = desk.AddWindow(c.window);
            desk.SetStack({self_, w});
            PressWrite();
            ASSERT_EQ(desk.msgBoxes().size(), 1u);
            EXPECT_EQ(desk.msgBoxes()[0].prompt, kNotRecognised);
            EXPECT_EQ(desk.msgBoxes()[0].title, "Penrika：エラー");
            EXPECT_TRUE(desk.typeCalls().empty());
            EXPECT_TRUE(desk.activationRequests().empty());
            EXPECT_EQ(desk.Clipboard(), std::optional<std::string>("お名前")) << "left untouched";
        }
        BuildOn(desk_);  // the scoped fake is gone
    }
    // Nothing at all below the toolbar: the walk ends instead of running on.
    Stack({});
    PressWrite();
    ExpectOneMessage(kNotRecognised, "Penrika：エラー");
    EXPECT_FALSE(FindBrowser(desk_, self_).Recognised());
    EXPECT_TRUE(desk_.typeCalls().empty());
}

TEST_F(WriteTest, TakesTheFirstVisibleWindowThatIsNotOurs) {
    platform::WindowId ours =
        desk_.AddWindow({.caption = "Penrika  for IE - データー編集", .own = true});
    platform::WindowId hidden = desk_.AddWindow({.caption = "隠れた窓", .visible = false});
    platform::WindowId browser = Browser("お名前");
    platform::WindowId other = desk_.AddWindow({.caption = "端末"});
    Stack({ours, hidden, browser, other});
    PressWrite();
    const BrowserTarget found = FindBrowser(desk_, self_);
    EXPECT_EQ(found.caption, "フォーム - Chromium");
    EXPECT_EQ(found.window, browser);
    EXPECT_TRUE(desk_.msgBoxes().empty());
    EXPECT_EQ(desk_.TypedText(browser), "^c{RIGHT}{TAB}山田太郎");
    EXPECT_EQ(desk_.TypedText(other), "");
}

TEST_F(WriteTest, OneMatchTypesTabAndTheText) {
    platform::WindowId browser = Browser("郵便番号");
    Stack({browser});
    state.options.alwaysOnTop = true;
    PressWrite();
    EXPECT_TRUE(desk_.msgBoxes().empty());
    EXPECT_EQ(desk_.TypedText(browser), "^c{RIGHT}{TAB}100-0001");
    EXPECT_FALSE(desk_.Clipboard().has_value()) << "the copied label is not left behind";
    // Out of the band for the walk, back into it before the browser is touched.
    ASSERT_GE(desk_.topmostCalls().size(), 2u);
    EXPECT_EQ(desk_.topmostCalls()[0], (fake::TopmostCall{self_, false, true}));
    EXPECT_EQ(desk_.topmostCalls()[1], (fake::TopmostCall{self_, true, true}));
}

// What the user had on the clipboard is taken before it is cleared for the copy and put back
// as the very last step, whichever way the press ends; the old content is never looked up.
TEST_F(WriteTest, TheUsersClipboardIsPutBackHoweverThePressEnds) {
    struct Case {
        const char* name;
        std::optional<std::string> highlight;  // what the browser copies
        bool refusesFocus = false;
        const char* message = nullptr;  // the one message box the press shows
        const char* typed = "";
    } cases[] = {
        {"filled", "お名前", false, nullptr, "^c{RIGHT}{TAB}山田太郎"},
        {"nothing copied", std::nullopt, false, kNoItem, "^c{RIGHT}"},
        {"not registered", "メールアドレス", false, kNotRegistered, "^c{RIGHT}"},
        {"browser gone", "お名前", true, kNotRecognised, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakeDesktop desk;
        BuildOn(desk);
        fake::Window w{.caption = "フォーム - Chromium", .refusesFocus = c.refusesFocus};
        w.selection = c.highlight;
        platform::WindowId browser = desk.AddWindow(w);
        desk.SetStack({self_, browser});
        // Stale text that would match an entry: never typed.
        desk.SetClipboard("電話番号");
        PressWrite();
        EXPECT_EQ(desk.TypedText(browser), c.typed);
        ASSERT_EQ(desk.msgBoxes().size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(desk.msgBoxes()[0].prompt, c.message);
        }
        EXPECT_EQ(desk.Clipboard(), std::optional<std::string>("電話番号"));

        const auto& log = desk.log();
        auto first = [&](const std::function<bool(const std::string&)>& match) {
            return std::find_if(log.begin(), log.end(), match) - log.begin();
        };
        auto save = first([](const std::string& l) { return l == "clipboard save"; });
        auto clear = first([](const std::string& l) { return l == "clipboard clear"; });
        auto activate = first([](const std::string& l) { return l.starts_with("activate "); });
        EXPECT_LT(save, clear);
        EXPECT_LT(clear, activate) << "cleared before the browser can copy";
        EXPECT_EQ(std::count(log.begin(), log.end(), "clipboard restore"), 1);
        EXPECT_EQ(LastBesidesTheBand(log), "clipboard restore")
            << "after the typing and the message box";
    }
    BuildOn(desk_);  // the scoped fakes are gone
}

TEST_F(WriteTest, FocusDroppingRightAfterActivationStillCopiesOnce) {
    // The window manager drops the active window just as the copy is about to be typed.
    platform::WindowId browser = Browser("お名前");
    Stack({browser});
    desk_.LoseFocusAfter(0, 0);
    PressWrite();
    EXPECT_TRUE(desk_.msgBoxes().empty());
    EXPECT_EQ(desk_.TypedText(), "^c{RIGHT}{TAB}山田太郎");
    EXPECT_GE(desk_.activationRequests().size(), 2u);
}

TEST_F(WriteTest, NothingCopiedIsReportedEvenWithAStaleClipboard) {
    // The browser copies nothing; the clipboard still holds a label from before.
    platform::WindowId browser = desk_.AddWindow({.caption = "フォーム - Chromium"});
    Stack({browser});
    desk_.SetClipboard("お名前");
    PressWrite();
    ExpectOneMessage(kNoItem, "Penrika：エラー");
    EXPECT_EQ(desk_.TypedText(browser), "^c{RIGHT}");
}

TEST_F(WriteTest, SecondPressWithoutNewHighlightFindsNoItem) {
    fake::Window w{.caption = "フォーム - Chromium"};
    w.selection = "お名前";
    platform::WindowId browser = desk_.AddWindow(w);
    Stack({browser});
    PressWrite();
    EXPECT_EQ(desk_.TypedText(browser), "^c{RIGHT}{TAB}山田太郎");
    desk_.Get(browser).selection.reset();
    PressWrite();
    ExpectOneMessage(kNoItem, "Penrika：エラー");
}

TEST_F(WriteTest, NoMatchSaysNotRegistered) {
    platform::WindowId browser = Browser("メールアドレス");
    Stack({browser});
    PressWrite();
    ExpectOneMessage(kNotRegistered, "Penrika");
    EXPECT_EQ(desk_.TypedText(browser), "^c{RIGHT}");
    EXPECT_FALSE(desk_.Clipboard().has_value());
    // Without any entries the same message.
    state.entries.Resize(0);
    desk_.Get(browser).selection = "お名前";
    PressWrite();
    ASSERT_EQ(desk_.msgBoxes().size(), 2u);
    EXPECT_EQ(desk_.msgBoxes()[1].prompt, kNotRegistered);
}

TEST_F(WriteTest, BrowserThatWillNotComeForwardGetsNothing) {
    fake::Window w{.caption = "フォーム - Chromium", .refusesFocus = true};
    w.selection = "お名前";
    platform::WindowId browser = desk_.AddWindow(w);
    Stack({browser});
    PressWrite();
    ExpectOneMessage(kNotRecognised, "Penrika：エラー");
    EXPECT_TRUE(desk_.typeCalls().empty());
}

TEST_F(WriteTest, SeveralMatchesOpenTheListAndDownEnterPicksTheSecond) {
    platform::WindowId browser = Browser("番号");
    Stack({browser});
    state.options.alwaysOnTop = true;
    QStringList rows;
    bool sawDrop = false;
    QTimer::singleShot(0, [&] {
        EXPECT_SOON(qobject_cast<CandidateList*>(QApplication::activeModalWidget()));
        auto* dlg = qobject_cast<CandidateList*>(QApplication::activeModalWidget());
        if (!dlg) return;
        for (int i = 0; i < dlg->List()->count(); ++i) rows << dlg->List()->item(i)->text();
        // The toolbar left the band again before the list opened.
        const auto& calls = desk_.topmostCalls();
        sawDrop = calls.size() >= 3 && calls[2] == fake::TopmostCall{self_, false, true};
        QTest::keyClick(dlg->List(), Qt::Key_Down);
        QTest::keyClick(dlg->List(), Qt::Key_Return);
    });
    PressWrite();
    EXPECT_EQ(rows, (QStringList{"自宅", "03-1111-2222"}));
    EXPECT_TRUE(sawDrop);
    EXPECT_TRUE(desk_.msgBoxes().empty());
    EXPECT_EQ(desk_.TypedText(browser), "^c{RIGHT}{TAB}03-1111-2222");
    EXPECT_FALSE(desk_.Clipboard().has_value());
}

TEST_F(WriteTest, TheClipboardComesBackOnlyOnceTheListIsClosed) {
    for (bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "picked");
        fake::FakeDesktop desk;
        BuildOn(desk);
        fake::Window w{.caption = "フォーム - Chromium"};
        w.selection = "番号";
        platform::WindowId browser = desk.AddWindow(w);
        desk.SetStack({self_, browser});
        desk.SetClipboard("ユーザーのコピー");
        std::size_t restoresWhileOpen = 1;
        QTimer::singleShot(0, [&] {
            EXPECT_SOON(qobject_cast<CandidateList*>(QApplication::activeModalWidget()));
            auto* dlg = qobject_cast<CandidateList*>(QApplication::activeModalWidget());
            if (!dlg) return;
            restoresWhileOpen =
                std::count(desk.log().begin(), desk.log().end(), "clipboard restore");
            QTest::keyClick(dlg->List(), cancel ? Qt::Key_Escape : Qt::Key_Return);
        });
        PressWrite();
        EXPECT_EQ(restoresWhileOpen, 0u);
        EXPECT_EQ(desk.TypedText(browser), cancel ? "^c{RIGHT}" : "^c{RIGHT}{TAB}100-0001");
        EXPECT_EQ(desk.Clipboard(), std::optional<std::string>("ユーザーのコピー"));
        EXPECT_EQ(LastBesidesTheBand(desk.log()), "clipboard restore");
    }
    BuildOn(desk_);
}

}  // namespace

namespace {

// With 常に手前に表示する on, the press ends with the toolbar back in the band, over the browser it
// activated, whichever way it ended: a show() of the visible toolbar would restack nothing.
TEST_F(WriteTest, EveryPressEndsWithTheToolbarBackInTheBand) {
    struct Case {
        const char* name;
        std::optional<std::string> highlight;
        Qt::Key listKey;  // how the candidate list is left; Key_unknown: no list opens
    } cases[] = {
        {"one match", "お名前", Qt::Key_unknown},
        {"list pick", "番号", Qt::Key_Return},
        {"list cancel", "番号", Qt::Key_Escape},
        {"not registered", "メールアドレス", Qt::Key_unknown},
        {"nothing copied", std::nullopt, Qt::Key_unknown},
    };
    state.options.alwaysOnTop = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakeDesktop desk;
        BuildOn(desk);
        fake::Window w{.caption = "フォーム - Chromium"};
        w.selection = c.highlight;
        const platform::WindowId browser = desk.AddWindow(w);
        desk.SetStack({self_, browser});
        bool listShown = false;
        if (c.listKey != Qt::Key_unknown) {
            QTimer::singleShot(0, [&] {
                EXPECT_SOON(qobject_cast<CandidateList*>(QApplication::activeModalWidget()));
                auto* dlg = qobject_cast<CandidateList*>(QApplication::activeModalWidget());
                if (!dlg) return;
                listShown = true;
                QTest::keyClick(dlg->List(), c.listKey);
            });
        }
        PressWrite();
        EXPECT_EQ(listShown, c.listKey != Qt::Key_unknown);
        const auto& log = desk.log();
        const std::string placed = "topmost " + std::to_string(self_) + " above show";
        const std::string dropped = "topmost " + std::to_string(self_) + " normal show";
        const std::string activated = "activate " + std::to_string(browser);
        auto last = [&](const std::string& line) {
            auto it = std::find(log.rbegin(), log.rend(), line);
            return it == log.rend() ? -1 : static_cast<long>(log.rend() - it);
        };
        ASSERT_GE(last(activated), 0);
        EXPECT_GT(last(placed), last(activated)) << "back in the band after the browser came up";
        EXPECT_GT(last(placed), last(dropped));
    }
    BuildOn(desk_);
}

}  // namespace
