// Typing entries into real browsers through the real desktop layer: the user's highlight is a
// real triple-click on a label, FillForm activates the browser, presses Tab and types the text,
// and only what the form server received decides.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <map>

#include "core/AppState.h"
#include "core/FillCommand.h"
#include "e2e/support/Browser.h"
#include "e2e/support/FormServer.h"
#include "e2e/support/KeysPage.h"
#include "e2e/support/Process.h"
#include "e2e/support/Util.h"
#include "e2e/support/Xdotool.h"
#include "platform/x11/X11Desktop.h"
#include "support/GuiApp.h"
#include "support/ScratchDir.h"
#include "ui/HelpViewer.h"
#include "ui/MainToolbar.h"
#include "ui/MessageBoxes.h"

namespace {

// The program's entries and options, as start-up makes them.
AppState state;

using e2e::Browser;
using namespace std::chrono_literals;

QApplication& App() {
    return GuiApp();
}

class FillFormE2e : public ::testing::TestWithParam<Browser> {
  protected:
    void SetUp() override {
        if (!e2e::BrowserInstalled(GetParam())) GTEST_SKIP() << "browser not installed";
        App();
        desktop_ = std::make_unique<platform::X11Desktop>();
        state.options = {};
    }
    void TearDown() override { desktop_.reset(); }

    // What Write knows after recognising the browser.
    void Recognise(e2e::BrowserSession& b) {
        browser_ = {b.window(), b.display().Title(b.window()), false};
        ASSERT_FALSE(browser_.caption.empty());
    }

    // The user highlights the label; Penrika types the entry's text after it.
    void FillAfter(e2e::BrowserSession& b, const std::string& labelId, const std::string& text) {
        b.TripleClick(labelId);
        FillCommand road(desktop_->Parts(), state, RoadToolbar(messages_));
        road.SetBrowser(browser_);
        road.FillForm(text);
    }

    BrowserTarget browser_;

    std::unique_ptr<platform::X11Desktop> desktop_;
    MessageBoxes messages_;
    HelpViewer help_;
};

// A page of the form server in a fresh browser with its own server and directory, laid out and
// ready for clicks: the application form unless another page and its title are given.
struct FormPage {
    ScratchDir dir;
    e2e::FormServer server;
    e2e::BrowserSession b;
    FormPage(Browser browser, const std::string& name, e2e::BrowserOptions options = {},
             const std::string& page = "form.html", const std::string& title = "お申し込みフォーム")
        : dir(name), server(dir.path()), b(browser, server, page, dir.path(), options) {
        b.WaitReady(title);
        b.WaitLayout();
    }
};

// Runs `press` while noting the text of every message box it shows and closing it.
std::vector<std::string> MessagesOf(const std::function<void()>& press) {
    std::vector<std::string> shown;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                shown.push_back(box->text().toStdString());
                box->reject();
            }
        }
    });
    closer.start(50);
    press();
    closer.stop();
    return shown;
}

// One form filled field by field: Japanese with half-width kana and full-width digits, an
// address, notation characters, and a confirmation field that refuses paste; the last text
// ends in ~, which submits the form.
void FillTheApplicationForm(e2e::BrowserSession& b,
                            const std::function<void(const std::string&, const std::string&)>& fill,
                            const e2e::FormServer& server) {
    const int before = server.LastSeq();
    fill("l-zip", "１００－０００１");
    fill("l-name", "山田太郎やまタロウｷｬﾝｾﾙ");
    fill("l-tel", "a+b{+}{^}{%}{~}{(}{)}{{}{}}[x]@-Ab 03");
    fill("l-mail", "taro.yamada{+}penrika@example.jp");
    fill("l-mail2", "taro.yamada{+}penrika@example.jp~");
    std::optional<e2e::Event> sent = b.WaitSubmission(before, 15s);
    ASSERT_TRUE(sent) << "the form was not submitted\n" << b.Log();
    EXPECT_EQ(sent->fields["zip"], "１００－０００１") << sent->raw;
    EXPECT_EQ(sent->fields["name"], "山田太郎やまタロウｷｬﾝｾﾙ") << sent->raw;
    EXPECT_EQ(sent->fields["tel"], "aB+^%~(){}[x]@-Ab 03") << sent->raw;
    EXPECT_EQ(sent->fields["mail"], "taro.yamada+penrika@example.jp") << sent->raw;
    EXPECT_EQ(sent->fields["mail2"], "taro.yamada+penrika@example.jp") << sent->raw;
    EXPECT_EQ(sent->fields["name_sp"], "") << "nothing typed where it was not asked";
}

TEST_P(FillFormE2e, TypesExactlyTheEntriesIntoTheFieldsAfterTheLabels) {
    FormPage page(GetParam(), "fill");
    e2e::BrowserSession& b = page.b;
    e2e::FormServer& server = page.server;
    Recognise(b);
    FillTheApplicationForm(
        b, [&](const std::string& id, const std::string& text) { FillAfter(b, id, text); }, server);

    // A text with {TAB} fills two fields in a row.
    e2e::BrowserSession two(GetParam(), server, "twofields.html", page.dir.path() / "two");
    two.WaitReady("氏名の入力");
    two.WaitLayout();
    Recognise(two);
    const int before = server.LastSeq();
    FillAfter(two, "l-fullname", "山田{TAB}太郎~");
    std::optional<e2e::Event> sent = two.WaitSubmission(before, 15s);
    ASSERT_TRUE(sent) << two.Log();
    EXPECT_EQ(sent->fields["sei"], "山田") << sent->raw;
    EXPECT_EQ(sent->fields["mei"], "太郎") << sent->raw;
}

TEST_P(FillFormE2e, TypesExactlyWithTheJapaneseInputMethodSwitchedOn) {
    e2e::BrowserOptions options;
    options.inputMethod = true;
    FormPage page(GetParam(), "fill-im", options);
    e2e::BrowserSession& b = page.b;
    e2e::FormServer& server = page.server;
    b.ClickToFocus("zip");
    ASSERT_TRUE(b.SetInputMethod(true)) << "state " << b.InputMethodState() << "\n" << b.Log();
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(b.BusAddress()));
    Recognise(b);
    FillTheApplicationForm(
        b, [&](const std::string& id, const std::string& text) { FillAfter(b, id, text); }, server);
    EXPECT_TRUE(WaitUntil([&] { return b.InputMethodState() == 2; }, 5s))
        << "the input method stays as the user left it";
}

// The keys page, whose boxes format and filter as they are typed into.
FormPage KeysPage(Browser browser, const std::string& name, e2e::BrowserOptions options = {}) {
    return FormPage(browser, name, options, e2e::kKeysPage, e2e::kKeysPageTitle);
}

TEST_P(FillFormE2e, PagesSeeTheTrueKeyOfEveryCharacter) {
    if (!e2e::InstallKeysPageLibraries()) return;
    FormPage page = KeysPage(GetParam(), "keys");
    Recognise(page.b);
    const std::uint64_t mapChanges = desktop_->keyboard().mapChanges();
    e2e::FillAndCheckTheKeysPage(
        page.b, [&](const std::string& id, const std::string& t) { FillAfter(page.b, id, t); },
        page.server);
    EXPECT_EQ(desktop_->keyboard().mapChanges(), mapChanges)
        << "nothing here needs a key of its own";
}

TEST_P(FillFormE2e, PagesSeeTheTrueKeysWithTheInputMethodOn) {
    if (!e2e::InstallKeysPageLibraries()) return;
    e2e::BrowserOptions options;
    options.inputMethod = true;
    FormPage page = KeysPage(GetParam(), "keys-im", options);
    e2e::BrowserSession& b = page.b;
    b.ClickToFocus("zip");
    ASSERT_TRUE(b.SetInputMethod(true)) << "state " << b.InputMethodState() << "\n" << b.Log();
    // Penrika shares the session's bus with the input method.
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(b.BusAddress()));
    Recognise(b);
    e2e::FillAndCheckTheKeysPage(
        b,
        [&](const std::string& id, const std::string& t) {
            FillAfter(b, id, t);
            // The input method is back on after each fill, as the user had it.
            EXPECT_TRUE(WaitUntil([&] { return b.InputMethodState() == 2; }, 5s));
        },
        page.server);
}

TEST_P(FillFormE2e, FocusMovedAwayStopsTheTyping) {
    FormPage page(GetParam(), "fill-focus");
    e2e::BrowserSession& b = page.b;
    e2e::FormServer& server = page.server;
    Recognise(b);

    // Another window takes the focus while the text is being typed.
    QLineEdit other;
    other.setWindowTitle("other window");
    other.resize(300, 40);
    other.move(600, 600);
    other.show();
    ASSERT_TRUE(WaitUntil(
        [&] {
            QApplication::processEvents();
            return other.winId() != 0 && b.display().Viewable(other.winId());
        },
        5s));
    const auto otherId = static_cast<std::uint32_t>(other.winId());
    std::string text(400, 'x');
    e2e::Process switcher(
        {"sh", "-c", "sleep 0.4; xdotool windowactivate " + std::to_string(otherId)}, {});
    // The stop is reported in a message box.
    const std::vector<std::string> shown = MessagesOf([&] { FillAfter(b, "l-name", text); });
    const std::string reported = shown.empty() ? "" : shown.back();
    EXPECT_NE(reported.find("記入を中止しました"), std::string::npos) << reported;
    ASSERT_TRUE(WaitUntil([&] { return b.display().ActiveWindow() == otherId; }, 5s));
    QApplication::processEvents();
    EXPECT_EQ(other.text().toStdString(), "") << "no keystroke may reach the other window";

    // What reached the browser is a strict prefix of the text.
    b.display().RequestActivate(b.window());
    ASSERT_TRUE(WaitUntil([&] { return b.display().ActiveWindow() == b.window(); }, 5s));
    const int before = server.LastSeq();
    b.ClickToFocus("mail");
    e2e::XdoKey("Return");
    std::optional<e2e::Event> sent = b.WaitSubmission(before, 15s);
    ASSERT_TRUE(sent) << b.Log();
    const std::string got = sent->fields["name"];
    EXPECT_LT(got.size(), text.size()) << "typing went on after the focus moved";
    EXPECT_EQ(got, std::string(got.size(), 'x'));
}

// The 記入 command takes the window directly below the toolbar for the browser: a window of
// another program in between is taken instead (and nothing reaches the browser), and a dialog
// that belongs to the browser (its own file dialog) is refused.
TEST_P(FillFormE2e, WriteTakesOnlyTheWindowDirectlyBelowTheToolbar) {
    FormPage page(GetParam(), "fill-below");
    e2e::BrowserSession& b = page.b;
    e2e::FormServer& server = page.server;
    state.entries.Resize(1);
    state.entries[0] = {"お名前", "山田太郎~", ""};
    platform::X11WindowStack& d = desktop_->windows();

    MainToolbar toolbar(state, {d, desktop_->keyboard(), desktop_->clipboard(), messages_, help_,
                                desktop_->shortcut()});
    toolbar.move(1100, 20);
    toolbar.show();
    const platform::WindowId self = static_cast<platform::WindowId>(toolbar.winId());
    ASSERT_TRUE(WaitUntil(
        [&] {
            QApplication::processEvents();
            return d.IsVisible(self);
        },
        5s));
    // What a click on the toolbar does first: it comes to the top and becomes active.
    // `found` is the window the press takes for the browser.
    BrowserTarget found;
    auto press = [&] {
        d.RequestActivate(self);
        EXPECT_TRUE(d.WaitActive(self, 5000));
        found = FindBrowser(d, self);
        return MessagesOf([&] { toolbar.RunCommandNamed("Write"); });
    };

    // Directly below: the entry is typed after the label.
    int before = server.LastSeq();
    b.TripleClick("l-name");
    EXPECT_EQ(press(), std::vector<std::string>{});
    std::optional<e2e::Event> sent = b.WaitSubmission(before, 15s);
    ASSERT_TRUE(sent) << b.Log();
    EXPECT_EQ(sent->fields["name"], "山田太郎") << sent->raw;

    // A window of another program between the toolbar and the browser.
    b.WaitLayout();
    b.TripleClick("l-name");
    e2e::Process other({"xmessage", "-title", "another program", "-geometry", "+300+300", "x"}, {});
    platform::WindowId otherId = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (platform::WindowId w : d.TopLevelWindows())
                if (d.Caption(w) == "another program" && d.IsVisible(w)) otherId = w;
            return otherId != 0;
        },
        5s));
    d.RequestActivate(otherId);
    ASSERT_TRUE(d.WaitActive(otherId, 5000));
    std::vector<std::string> shown = press();
    EXPECT_EQ(found.caption, "another program");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "項目が認識できません。");
    other.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !d.IsVisible(otherId); }, 5s));

    // The browser's own file dialog below the toolbar: refused, nothing typed.
    b.display().RequestActivate(b.window());
    ASSERT_TRUE(d.WaitActive(b.window(), 5000));
    e2e::XdoKey("ctrl+o");
    platform::WindowId dialog = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (platform::WindowId w : d.TopLevelWindows())
                if (d.Owner(w) && !d.IsOwnWindow(w) && d.IsVisible(w)) dialog = w;
            return dialog != 0;
        },
        15s))
        << "no file dialog";
    shown = press();
    EXPECT_TRUE(found.isDialog);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "プラウザが認識できません。");
    d.RequestActivate(dialog);
    ASSERT_TRUE(d.WaitActive(dialog, 5000));
    e2e::XdoKey("Escape");
    ASSERT_TRUE(WaitUntil([&] { return !d.IsVisible(dialog); }, 5s));

    // Nothing of either press reached the form.
    b.display().RequestActivate(b.window());
    ASSERT_TRUE(d.WaitActive(b.window(), 5000));
    before = server.LastSeq();
    b.ClickToFocus("mail");
    e2e::XdoKey("Return");
    sent = b.WaitSubmission(before, 15s);
    ASSERT_TRUE(sent) << b.Log();
    EXPECT_EQ(sent->fields["name"], "") << sent->raw;
    state.entries.Resize(0);
}

INSTANTIATE_TEST_SUITE_P(Browsers, FillFormE2e,
                         ::testing::Values(Browser::Chromium, Browser::Firefox),
                         [](const auto& info) {
                             return std::string(e2e::BrowserName(info.param));
                         });

}  // namespace
