// The fill road against a scripted desktop: what reaches which window, in which
// order, and what the user is told.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/AppState.h"
#include "core/FillCommand.h"
#include "core/Placement.h"
#include "platform/Session.h"
#include "support/FakeDesktop.h"

namespace {

// The program's entries and options, as start-up makes them.
AppState state;

using fake::FakeDesktop;
using platform::WindowId;
using Strokes = std::vector<std::string>;

class FillRoad : public ::testing::Test {
  protected:
    void SetUp() override {
        state.options = {};
        toolbar = d.AddWindow({.caption = "Penrika", .own = true, .topmost = true});
        browser = d.AddWindow({.caption = "お申し込み - Chromium"});
        other = d.AddWindow({.caption = "端末"});
        d.SetActive(toolbar);
        recognised = browser;
    }
    void TearDown() override { state.options = {}; }

    // The road with the browser FindBrowser recognised, on `desk`.
    FillCommand Road(FakeDesktop& desk) {
        FillCommand road(desk.Parts(), state, desk.RoadToolbar(toolbar));
        road.SetBrowser({recognised, kCaption, false});
        return road;
    }
    FillCommand Road() { return Road(d); }

    const std::string kCaption = "お申し込み - Chromium";
    FakeDesktop d;
    WindowId toolbar = 0, browser = 0, other = 0, recognised = 0;
};

TEST_F(FillRoad, WithoutConfirmationActivatesThenTypesTabThenTheText) {
    Road().FillForm("山田太郎");
    EXPECT_TRUE(d.msgBoxes().empty());
    EXPECT_EQ(d.activationRequests(), std::vector<WindowId>{browser});
    EXPECT_EQ(d.Typed(browser), (Strokes{"{TAB}", "山", "田", "太", "郎"}));
    // The Tab is its own waited-for run, before the text.
    ASSERT_EQ(d.typeCalls().size(), 2u);
    EXPECT_EQ(d.typeCalls()[0].requested.size(), 1u);
    EXPECT_EQ(d.log().front(), "activate " + std::to_string(browser));
    // No window of ours had the keyboard: nothing to wait for before the keys.
    EXPECT_EQ(d.log().size(), 3u);
}

// After the list (and after a question, below), the keys wait until the desktop has handed the
// keyboard back to the browser (GNOME says nothing of it).
TEST_F(FillRoad, AfterTheCandidateListTheKeysWaitForTheKeyboardBack) {
    const std::vector<std::string> expected = {
        "activate " + std::to_string(browser), "handed back " + std::to_string(browser),
        "type " + std::to_string(browser) + " {TAB}", "type " + std::to_string(browser) + " 03"};
    state.entries.Resize(2);
    state.entries[0] = {"郵便番号", "100", ""};
    state.entries[1] = {"電話番号", "03", ""};
    FillCommand::Toolbar picksTheSecond = d.RoadToolbar(toolbar);
    picksTheSecond.choose = [](const std::vector<Candidate>& found,
                               const std::function<void(const std::string&)>& pick) {
        pick(found.at(1).fillText);
    };
    FillCommand road(d.Parts(), state, picksTheSecond);
    road.SetBrowser({recognised, kCaption, false});
    road.MatchItem("番号");
    EXPECT_EQ(d.log(), expected);

    state.entries.Resize(0);
}

TEST_F(FillRoad, ConfirmationShowsWhatWillBeTypedAndOkTypes) {
    state.options.confirmBeforeFill = true;
    d.AnswerMsgBoxes({MsgAnswerOk});
    Road().FillForm("a+b{TAB}");
    ASSERT_EQ(d.msgBoxes().size(), 1u);
    EXPECT_EQ(d.msgBoxes()[0].prompt, "[ aB［Tab］ ]をフォームに記入します。");
    EXPECT_EQ(d.msgBoxes()[0].style, 65);
    EXPECT_EQ(d.msgBoxes()[0].title, "Penrika");
    EXPECT_EQ(d.TypedText(browser), "{TAB}aB{TAB}");
    // Asked before the browser came forward, which gets the keyboard back before the keys.
    EXPECT_EQ(d.log().front().rfind("msgbox 65", 0), 0u);
    ASSERT_GE(d.log().size(), 4u);
    EXPECT_EQ(d.log()[2], "handed back " + std::to_string(browser));
}

// The confirmation reads the text as this keyboard will type it, not as the notation is written:
// the user sees the Enter a ~ presses and the character a Shift makes.
TEST_F(FillRoad, TheConfirmationShowsTheKeysTheTextPresses) {
    state.options.confirmBeforeFill = true;
    d.SetShifted({{U'1', U'!'}});
    const std::pair<const char*, const char*> cases[] = {
        {"山田太郎", "[ 山田太郎 ]"},
        {"taro+shop@example.com", "[ taroShop@example.com ]"},
        {"https://example.jp/~taro", "[ https://example.jp/［Enter］taro ]"},
        {"(03)1234", "[ 031234 ]"},
        {"pass+1", "[ pass! ]"},
        {"^a{DEL}{TAB 2}", "[ ［Ctrl+A］［Delete］［Tab］［Tab］ ]"},
        {"{+}{~}{(}{)}{{}{}}", "[ +~(){} ]"},
    };
    for (const auto& [text, shown] : cases) {
        d.AnswerMsgBoxes({MsgAnswerCancel});
        Road().FillForm(text);
        ASSERT_FALSE(d.msgBoxes().empty());
        EXPECT_EQ(d.msgBoxes().back().prompt, std::string(shown) + "をフォームに記入します。");
    }
    EXPECT_TRUE(d.typeCalls().empty());
}

TEST_F(FillRoad, CancelInTheConfirmationTypesNothingAndActivatesNothing) {
    state.options.confirmBeforeFill = true;
    d.AnswerMsgBoxes({MsgAnswerCancel});
    Road().FillForm("山田太郎");
    EXPECT_EQ(d.msgBoxes().size(), 1u);
    EXPECT_TRUE(d.activationRequests().empty());
    EXPECT_TRUE(d.typeCalls().empty());
}

TEST_F(FillRoad, TextsTypeAsTheirNotationSays) {
    struct Case {
        std::string text;
        Strokes typed;
    };
    const std::vector<Case> cases = {
        {"", {"{TAB}"}},
        {"a+b", {"{TAB}", "a", "B"}},
        {"taro@example.jp",
         {"{TAB}", "t", "a", "r", "o", "@", "e", "x", "a", "m", "p", "l", "e", ".", "j", "p"}},
        {"一{TAB}二", {"{TAB}", "一", "{TAB}", "二"}},
        {"送信~", {"{TAB}", "送", "信", "{ENTER}"}},
        {"{{}x{}}", {"{TAB}", "{", "x", "}"}},
    };
    for (const Case& c : cases) {
        FakeDesktop fresh;
        WindowId b = fresh.AddWindow({.caption = kCaption});
        recognised = b;
        Road(fresh).FillForm(c.text);
        EXPECT_EQ(fresh.Typed(b), c.typed) << c.text;
        EXPECT_TRUE(fresh.msgBoxes().empty()) << c.text;
    }
}

TEST_F(FillRoad, BadNotationTypesNothingAndSaysWhere) {
    for (const char* text : {"{TAB", "a}", "{NOPE}", "(ab", "+", "{TAB 5000}"}) {
        FakeDesktop fresh;
        WindowId b = fresh.AddWindow({.caption = kCaption});
        recognised = b;
        state.options.confirmBeforeFill = true;
        Road(fresh).FillForm(text);
        EXPECT_TRUE(fresh.typeCalls().empty()) << text;
        EXPECT_TRUE(fresh.activationRequests().empty()) << text;
        // One message, the error, and no confirmation for a text that cannot be typed.
        ASSERT_EQ(fresh.msgBoxes().size(), 1u) << text;
        EXPECT_EQ(fresh.msgBoxes()[0].style, MsgOk);
        EXPECT_NE(fresh.msgBoxes()[0].prompt.find(ParseKeys(text).error), std::string::npos)
            << fresh.msgBoxes()[0].prompt;
        EXPECT_NE(fresh.msgBoxes()[0].prompt.find("文字目"), std::string::npos);
    }
}

TEST_F(FillRoad, FocusMovingAwayStopsTypingAndTellsTheUser) {
    d.LoseFocusAfter(4, other);  // the Tab and three characters
    Road().FillForm("あいうえお");
    EXPECT_EQ(d.Typed(browser), (Strokes{"{TAB}", "あ", "い", "う"}));
    EXPECT_EQ(d.Typed(other), Strokes{});
    ASSERT_EQ(d.msgBoxes().size(), 1u);
    EXPECT_EQ(d.msgBoxes()[0].title, ErrorTitle);
}

TEST_F(FillRoad, FocusLostRightAfterTheTabTypesNoText) {
    d.LoseFocusAfter(1, other);
    Road().FillForm("abc");
    EXPECT_EQ(d.Typed(), Strokes{"{TAB}"});
    EXPECT_EQ(d.msgBoxes().size(), 1u);
}

TEST_F(FillRoad, ABrowserThatNeverBecomesActiveGetsNothing) {
    // openbox may hand the focus to a modal child instead.
    WindowId dialog = d.AddWindow({.caption = "ファイルを開く", .owner = browser});
    d.Get(browser).focusGoesTo = dialog;
    Road().FillForm("abc");
    EXPECT_TRUE(d.Typed().empty());
    ASSERT_EQ(d.msgBoxes().size(), 1u);
    EXPECT_EQ(d.msgBoxes()[0].prompt, "プラウザが認識できません。");
    EXPECT_EQ(d.msgBoxes()[0].title, "Penrika：エラー");
    EXPECT_EQ(d.msgBoxes()[0].style, 0);
}

TEST_F(FillRoad, ABrowserClosedMeanwhileGetsNothing) {
    d.SetStack({toolbar, other});
    recognised = 0;
    Road().FillForm("abc");
    EXPECT_TRUE(d.typeCalls().empty());
    EXPECT_TRUE(d.activationRequests().empty());
    ASSERT_EQ(d.msgBoxes().size(), 1u);
    EXPECT_EQ(d.msgBoxes()[0].prompt, MsgBrowserNotRecognised);
}

TEST_F(FillRoad, HeldModifiersTypeNothing) {
    d.SetModifiersReleased(false);
    Road().FillForm("abc");
    EXPECT_TRUE(d.Typed().empty());
    EXPECT_EQ(d.msgBoxes().size(), 1u);
}

// --- AppActivate

class Activation : public FillRoad {};

TEST_F(Activation, PrefersTheRecognisedWindowWhileItsCaptionStillMatches) {
    // Another window with exactly the title stands higher, but the recognised one wins.
    WindowId twin = d.AddWindow({.caption = "お申し込み - Chromium"});
    d.SetStack({toolbar, twin, other, browser});
    d.Get(browser).caption = "お申し込み - Chromium (読み込み中)";
    EXPECT_EQ(Road().AppActivate(kCaption), browser);
    EXPECT_EQ(d.ActiveWindow(), browser);
}

TEST_F(Activation, OtherwiseAnEqualTitleBeatsAPrefixAndThePrefixComesLast) {
    d.Get(browser).caption = "別のページ - Chromium";  // the recognised window moved on
    WindowId prefixed = d.AddWindow({.caption = "お申し込み - Chromium の続き"});
    WindowId equal = d.AddWindow({.caption = "お申し込み - Chromium"});
    d.SetStack({toolbar, prefixed, browser, equal, other});
    EXPECT_EQ(Road().AppActivate(kCaption), equal);

    d.Get(equal).caption = "閉じた";
    EXPECT_EQ(Road().AppActivate(kCaption), prefixed);

    d.Get(prefixed).caption = "閉じた";
    EXPECT_EQ(Road().AppActivate(kCaption), 0u);
}

TEST_F(Activation, SkipsPenrikasOwnWindowsAndEmptyTitles) {
    recognised = 0;
    d.Get(toolbar).caption = "お申し込み - Chromium";
    d.SetStack({toolbar, other, browser});
    EXPECT_EQ(Road().AppActivate(kCaption), browser);
    EXPECT_EQ(Road().AppActivate(""), 0u);
}

TEST_F(Activation, RestoresAMinimisedBrowser) {
    d.Get(browser).minimized = true;
    EXPECT_EQ(Road().AppActivate(kCaption), browser);
    EXPECT_FALSE(d.Get(browser).minimized);
}

TEST_F(Activation, ReportsARefusedActivation) {
    d.Get(browser).refusesFocus = true;
    EXPECT_EQ(Road().AppActivate(kCaption), 0u);
    EXPECT_EQ(d.ActiveWindow(), toolbar);
}

// --- SendKeys

TEST_F(FillRoad, SendKeysChecksEverythingBeforeTheFirstStroke) {
    d.SetActive(browser);
    SendOutcome bad = Road().SendKeys("ab{", browser);
    EXPECT_EQ(bad.result, SendResult::BadNotation);
    EXPECT_EQ(bad.error, ParseKeys("ab{").error);

    d.SetActive(other);
    EXPECT_EQ(Road().SendKeys("ab", browser).result, SendResult::FocusLost);

    d.SetActive(browser);
    d.SetModifiersReleased(false);
    EXPECT_EQ(Road().SendKeys("ab", browser).result, SendResult::ModifiersHeld);
    EXPECT_TRUE(d.Typed().empty());

    d.SetModifiersReleased(true);
    EXPECT_EQ(Road().SendKeys("^c", browser).result, SendResult::Sent);
    EXPECT_EQ(d.Typed(browser), Strokes{"^c"});
}

// --- The topmost band

TEST_F(FillRoad, DropTopmostActsOnlyWhenAlwaysOnTopIsOn) {
    DropTopmost(d, state.options, toolbar);
    EXPECT_TRUE(d.topmostCalls().empty());

    state.options.alwaysOnTop = true;
    d.Get(toolbar).visible = false;
    DropTopmost(d, state.options, toolbar);
    EXPECT_EQ(d.topmostCalls(), (std::vector<fake::TopmostCall>{{toolbar, false, true}}));
    EXPECT_TRUE(d.Get(toolbar).visible);
    EXPECT_FALSE(d.Get(toolbar).topmost);
}

TEST_F(FillRoad, ApplyTopmostFollowsTheOptionAndNeverShows) {
    d.Get(toolbar).visible = false;
    state.options.alwaysOnTop = true;
    ApplyTopmost(d, state.options, toolbar);
    state.options.alwaysOnTop = false;
    ApplyTopmost(d, state.options, toolbar);
    EXPECT_EQ(d.topmostCalls(),
              (std::vector<fake::TopmostCall>{{toolbar, true, false}, {toolbar, false, false}}));
    EXPECT_FALSE(d.Get(toolbar).visible);
}

// A shortcut fills the window that is active when it is pressed, whatever lies below the
// toolbar, and leaves the toolbar alone; never one of the program's own windows or a dialog.
TEST_F(FillRoad, TheShortcutFillsTheActiveWindowAndNoneOfOurs) {
    state.entries.Resize(1);
    state.entries[0] = {"電話番号", "03-1234-5678", ""};
    state.options.alwaysOnTop = true;
    d.Get(other).selection = "電話番号";
    d.SetActive(other);  // the browser lies below the toolbar; the terminal is active
    FillCommand shortcut(d.Parts(), state, d.RoadToolbar(toolbar));
    shortcut.WriteActive(other);
    EXPECT_TRUE(d.msgBoxes().empty());
    EXPECT_EQ(d.TypedText(other), "^c{RIGHT}{TAB}03-1234-5678");
    EXPECT_EQ(d.TypedText(browser), "");
    EXPECT_TRUE(d.topmostCalls().empty()) << "the toolbar was moved out of its band";

    const WindowId dialog = d.AddWindow({.caption = "印刷", .owner = other});
    const WindowId hidden = d.AddWindow({.caption = "隠れた窓", .visible = false});
    for (WindowId active : {toolbar, dialog, hidden, WindowId{0}}) {
        FakeDesktop& desk = d;
        const std::size_t before = desk.typeCalls().size(), told = desk.msgBoxes().size();
        desk.SetActive(active);
        FillCommand(desk.Parts(), state, desk.RoadToolbar(toolbar)).WriteActive(active);
        EXPECT_EQ(desk.typeCalls().size(), before) << "typed into window " << active;
        ASSERT_EQ(desk.msgBoxes().size(), told + 1) << active;
        EXPECT_EQ(desk.msgBoxes().back().prompt, MsgBrowserNotRecognised);
    }
    state.entries.Resize(0);
}

// A window opened on the toolbar's corner stays wholly on the screen's usable area wherever the
// toolbar sits, moved no further than it must.
TEST(KeepWithin, MovesAWindowOnlyAsFarAsTheAreaNeeds) {
    const ScreenRect area{0, 0, 1280, 1000};
    const int w = 500, h = 400;
    const std::pair<ScreenRect, ScreenRect> cases[] = {
        {{100, 80, w, h}, {100, 80, w, h}},           // fits: stays on the corner
        {{0, 0, w, h}, {0, 0, w, h}},                 // top left
        {{1130, 0, w, h}, {780, 0, w, h}},            // top right
        {{0, 970, w, h}, {0, 600, w, h}},             // bottom left
        {{1130, 970, w, h}, {780, 600, w, h}},        // bottom right
        {{780, 600, w, h}, {780, 600, w, h}},         // flush with both edges
        {{-30, -10, w, h}, {0, 0, w, h}},             // partly off the top left
        {{100, 80, 1400, 1200}, {0, 0, 1400, 1200}},  // larger: its title bar stays on
    };
    for (const auto& [asked, placed] : cases) {
        const ScreenRect got = KeepWithin(asked, area);
        EXPECT_EQ(got, placed) << asked.left << "," << asked.top;
    }
    // An area that does not start at the origin (a second screen, a panel on the left).
    EXPECT_EQ(KeepWithin({1900, 1000, w, h}, {1280, 40, 1920, 1040}),
              (ScreenRect{1900, 680, w, h}));
    EXPECT_EQ(KeepWithin({1200, 10, w, h}, {1280, 40, 1920, 1040}), (ScreenRect{1280, 40, w, h}));
}

}  // namespace

#ifndef _WIN32
// --- In a Wayland session seen through XWayland a browser may be out of sight: the message says
// what to do. Where the program speaks to the compositor itself, it sees every window.

TEST_F(FillRoad, NoBrowserInAWaylandSessionSaysHowToRunItUnderX11) {
    struct Env {
        const char* sessionType;
        const char* waylandDisplay;
        const char* qpa;
        bool wayland;  // the hint is given
    } cases[] = {{"wayland", nullptr, "xcb", true},
                 {nullptr, "wayland-0", nullptr, true},
                 {"wayland", "wayland-0", "wayland", false},
                 {"x11", nullptr, "xcb", false},
                 {"x11", "", nullptr, false},
                 {nullptr, nullptr, nullptr, false}};
    for (const Env& e : cases) {
        SCOPED_TRACE(std::string(e.sessionType ? e.sessionType : "-") + " / " +
                     (e.waylandDisplay ? e.waylandDisplay : "-") + " / " + (e.qpa ? e.qpa : "-"));
        auto set = [](const char* name, const char* value) {
            value ? ::setenv(name, value, 1) : ::unsetenv(name);
        };
        set("XDG_SESSION_TYPE", e.sessionType);
        set("WAYLAND_DISPLAY", e.waylandDisplay);
        set("QT_QPA_PLATFORM", e.qpa);
        EXPECT_EQ(platform::RunsThroughXWayland(), e.wayland);
        FakeDesktop fresh;
        const WindowId self = fresh.AddWindow({.caption = "Penrika", .own = true});
        fresh.SetStack({self});  // nothing below the toolbar
        FillCommand(fresh.Parts(), state, fresh.RoadToolbar(self)).Write();
        ASSERT_EQ(fresh.msgBoxes().size(), 1u);
        const std::string expected =
            e.wayland ? std::string(MsgBrowserNotRecognised) + "\r\n" + MsgWaylandHint
                      : std::string(MsgBrowserNotRecognised);
        EXPECT_EQ(fresh.msgBoxes()[0].prompt, expected);
        EXPECT_TRUE(fresh.typeCalls().empty());
    }
    ::unsetenv("XDG_SESSION_TYPE");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("QT_QPA_PLATFORM");
}
#endif
