// The Wayland desktop layer against a real compositor (headless sway, or KWin): the window list,
// activation by handle, typing into another program's window exactly (what the layout carries
// on its keys, the rest by paste), the user's clipboard put back, and typing that stops when
// another window becomes active. The other program is this test binary started again.
#include <gtest/gtest.h>

#include <QFile>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "core/FillCommand.h"
#include "e2e/support/Pointer.h"
#include "platform/SettingsStore.h"
#include "platform/wayland/DataControlClipboard.h"
#include "platform/wayland/LayerShell.h"
#include "platform/wayland/PortalShortcut.h"
#include "platform/wayland/WaylandDesktop.h"
#include "support/GuiApp.h"
#include "support/ScratchDir.h"
#include "support/TestWindows.h"
#include "ui/WindowUtil.h"

using platform::WindowId;

namespace {

const char* const kAppId = "jp.tamsel.Penrika.test";

// --- The other program: a window with a line edit whose text goes to $PENRIKA_EDITOR_FILE at
// every change, titled $PENRIKA_EDITOR_TITLE.
int EditorProgram() {
    static int argc = 1;
    static char arg0[] = "editor";
    static char* argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName("penrika-test-editor");
    QLineEdit edit;
    edit.setWindowTitle(QString::fromUtf8(std::getenv("PENRIKA_EDITOR_TITLE")));
    edit.resize(500, 40);
    const QString file = QString::fromUtf8(std::getenv("PENRIKA_EDITOR_FILE"));
    QObject::connect(&edit, &QLineEdit::textChanged, [file](const QString& text) {
        QFile f(file + ".new");
        if (f.open(QIODevice::WriteOnly)) f.write(text.toUtf8());
        f.close();
        QFile::remove(file);
        QFile::rename(file + ".new", file);
    });
    edit.show();
    return app.exec();
}

class WaylandDesktopTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        qputenv("QT_QPA_PLATFORM", "wayland");
        GuiApp();
        QGuiApplication::setDesktopFileName(kAppId);
        desktop_ = new platform::WaylandDesktop(kAppId);
    }
    static void TearDownTestSuite() {
        delete desktop_;
        desktop_ = nullptr;
    }
    platform::Desktop d() { return desktop_->Parts(); }

    // The other program's window, once the compositor lists it.
    struct Editor {
        QProcess proc;
        QString file;
        WindowId id = 0;
        ~Editor() {
            proc.kill();
            proc.waitForFinished(3000);
        }
        QString Text() const {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        }
    };
    std::unique_ptr<Editor> StartEditor(const QString& title) {
        auto e = std::make_unique<Editor>();
        e->file = QString::fromStdString((scratch_.path() / title.toStdString()).string());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PENRIKA_EDITOR_TITLE", title);
        env.insert("PENRIKA_EDITOR_FILE", e->file);
        e->proc.setProcessEnvironment(env);
        e->proc.start(QCoreApplication::applicationFilePath(), {});
        const bool listed = QTest::qWaitFor(
            [&] {
                for (WindowId w : d().windows.TopLevelWindows())
                    if (d().windows.Caption(w) == title.toStdString()) e->id = w;
                return e->id != 0;
            },
            10000);
        EXPECT_TRUE(listed) << "the compositor never listed " << title.toStdString();
        return e;
    }
    bool Activate(WindowId w) {
        d().windows.RequestActivate(w);
        return d().windows.WaitActive(w, 5000);
    }

    static platform::WaylandDesktop* desktop_;
    ScratchDir scratch_;
};
platform::WaylandDesktop* WaylandDesktopTest::desktop_ = nullptr;

// The portal takes a combination in its own notation: modifiers by its names, the key by its
// xkb name; what has no such form is no combination at all.
TEST(PortalShortcut, WritesTheCombinationInThePortalsNotation) {
    const std::pair<const char*, const char*> cases[] = {
        {"Ctrl+Alt+K", "CTRL+ALT+k"}, {"F9", "F9"},
        {"Meta+Space", "LOGO+space"}, {"Ctrl+Shift+!", "CTRL+SHIFT+exclam"},
        {"Alt+PgDown", "ALT+Next"},   {"", ""},
        {"Ctrl+K, Ctrl+L", ""},       {"Ctrl+Volume Up", ""}};
    for (const auto& [qt, portal] : cases)
        EXPECT_EQ(platform::PortalShortcut::Trigger(qt).toStdString(), portal) << qt;
}

TEST_F(WaylandDesktopTest, ListsOtherProgramsWindowsAndActivatesThemByHandle) {
    auto a = StartEditor("first-editor");
    auto b = StartEditor("second-editor");
    ASSERT_TRUE(a->id && b->id);
    QWidget own;
    own.setWindowTitle("own-window");
    own.resize(200, 100);
    own.show();
    EXPECT_SOON(d().windows.ActiveWindow() == IdOf(&own));
    // Ours is brought back by its handle in the list (Wayland lets no program activate itself).
    ASSERT_TRUE(Activate(a->id));
    EXPECT_TRUE(Activate(IdOf(&own)));

    for (const Editor* e : {a.get(), b.get()}) {
        EXPECT_FALSE(d().windows.IsOwnWindow(e->id));
        EXPECT_TRUE(d().windows.IsVisible(e->id));
        EXPECT_EQ(d().windows.Owner(e->id), 0u);
    }
    EXPECT_TRUE(d().windows.IsOwnWindow(IdOf(&own)));
    // Below a window of ours lie the others, the last active first.
    ASSERT_TRUE(Activate(a->id));
    ASSERT_TRUE(Activate(b->id));
    ASSERT_TRUE(Activate(IdOf(&own)));
    const std::vector<WindowId> below = d().windows.WindowsBelow(IdOf(&own));
    const auto at = [&](WindowId w) { return std::find(below.begin(), below.end(), w); };
    ASSERT_NE(at(a->id), below.end());
    ASSERT_NE(at(b->id), below.end());
    EXPECT_LT(at(b->id), at(a->id));
    // A window that has gone is no longer listed.
    a.reset();
    EXPECT_SOON([&] {
        for (WindowId w : d().windows.TopLevelWindows())
            if (d().windows.Caption(w) == "first-editor") return false;
        return true;
    }());
}

TEST_F(WaylandDesktopTest, TypesExactlyIntoAnotherProgramAndPutsTheClipboardBack) {
    auto e = StartEditor("typing-editor");
    ASSERT_TRUE(e->id && Activate(e->id));
    // What the user had copied.
    auto& clipboard = dynamic_cast<platform::DataControlClipboard&>(d().clipboard);
    clipboard.OfferText("ユーザーがコピーした文");
    ASSERT_EQ(clipboard.Text(), "ユーザーがコピーした文");

    // Layout characters with and without Shift, then kana, kanji, full- and half-width forms
    // and an emoji, which go by paste, between keys again.
    const QString text = QStringLiteral("Abc xyz+^%~{}()@-_ 山田太郎やまタロウｷｬﾝｾﾙ１２３　😀 end!");
    std::vector<KeyStroke> strokes = Chars(text);
    KeyStroke b;
    b.ch = U'b';
    b.shift = true;
    strokes.push_back(b);
    ASSERT_EQ(TypeStrokes(d().keyboard, strokes, e->id), strokes.size());
    EXPECT_SOON_EQ(e->Text(), text + "B");
    EXPECT_EQ(clipboard.Text(), "ユーザーがコピーした文");
    EXPECT_TRUE(d().keyboard.WaitModifiersReleased(0));
}

// A browser reads one paste twice, the second time only as the page takes the text, on a busy
// machine long after the first, and the clipboard must hold the paste until then: once a paste
// has been read twice, the next is waited for until it has been read twice too.
TEST_F(WaylandDesktopTest, APasteIsHeldUntilReadAsOftenAsTheLast) {
    auto& clipboard = dynamic_cast<platform::DataControlClipboard&>(d().clipboard);
    auto readTwice = [&](const char* text, const char* gap) {
        clipboard.OfferText(text);
        const int before = clipboard.offeredReads();
        const QString read = QStringLiteral("wl-paste -n -t 'text/plain;charset=utf-8'");
        QProcess reader;
        reader.start("sh", {"-c", QStringLiteral("%1; sleep %2; %1").arg(read, gap)});
        EXPECT_TRUE(clipboard.WaitRead(before, 3000));
        const int reads = clipboard.offeredReads() - before;
        reader.waitForFinished(5000);
        return reads;
    };
    EXPECT_EQ(readTwice("一回目", "0"), 2);
    EXPECT_EQ(readTwice("二回目", "0.7"), 2);

    // A clipboard history (here wl-paste --watch) reads each new clipboard at once: its read is
    // counted before the paste, so the paste still waits for a browser slower than it.
    QProcess watcher;
    watcher.start("wl-paste", {"--watch", "sh", "-c", "cat > /dev/null"});
    ASSERT_TRUE(watcher.waitForStarted(5000));
    for (int i = 0; i < 40 && clipboard.offeredReads() == 0; ++i) clipboard.OfferText("準備");
    ASSERT_GT(clipboard.offeredReads(), 0) << "the watcher never read the clipboard";
    for (const char* text : {"三回目", "四回目"}) {
        clipboard.OfferText(text);
        const int before = clipboard.offeredReads();
        EXPECT_EQ(before, 1) << text;
        QProcess reader;
        reader.start("sh", {"-c", "sleep 0.5; wl-paste -n -t 'text/plain;charset=utf-8'"});
        EXPECT_TRUE(clipboard.WaitRead(before, 3000));
        EXPECT_EQ(clipboard.offeredReads() - before, 1) << "held for the watcher's read alone";
        reader.waitForFinished(5000);
        EXPECT_EQ(reader.readAllStandardOutput().toStdString(), text);
    }
    watcher.kill();
    watcher.waitForFinished(5000);
}

TEST_F(WaylandDesktopTest, TypingStopsWhenAnotherWindowBecomesActive) {
    auto e = StartEditor("target-editor");
    auto thief = StartEditor("focus-thief");
    // KWin hands a new window the keyboard in its own time: the thief has had it before.
    ASSERT_TRUE(e->id && thief->id && Activate(thief->id) && Activate(e->id));

    QString text;
    for (int i = 0; i < 40; ++i) text += QStringLiteral("abcdefghij");
    const std::vector<KeyStroke> strokes = Chars(text);
    // Another window takes the keyboard once part of the text has arrived.
    QTimer watch;
    bool asked = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (asked || e->Text().size() < 10) return;
        d().windows.RequestActivate(thief->id);
        asked = true;
    });
    watch.start(5);
    const std::size_t sent = TypeStrokes(d().keyboard, strokes, e->id);
    watch.stop();
    EXPECT_GE(sent, 10u);
    EXPECT_LT(sent, strokes.size());
    EXPECT_EQ(d().windows.ActiveWindow(), thief->id);
    EXPECT_SOON(static_cast<std::size_t>(e->Text().size()) == sent);
    EXPECT_TRUE(text.startsWith(e->Text()));
    EXPECT_EQ(thief->Text(), QString());
}

// The toolbar as a layer surface: above the windows without taking the keyboard from the one
// that has it, clicked like any window, dragged by a button to where the user wants it (a drag
// is no click), and opening there next time.
TEST_F(WaylandDesktopTest, TheToolbarStaysAboveKeepsNoKeyboardAndMovesWhereItIsDragged) {
    if (!platform::LayerShellAvailable()) GTEST_SKIP() << "no layer shell for Qt 6 in this build";
    auto e = StartEditor("browser-like");
    ASSERT_TRUE(e->id && Activate(e->id));
    const QSize screen = QGuiApplication::primaryScreen()->size();
    std::unique_ptr<e2e::Pointer> pointer;
    try {
        pointer = e2e::Pointer::Connect(screen.width(), screen.height());
    } catch (const std::exception& err) {
        GTEST_SKIP() << err.what() << " (KWin's toolbar: KWinDesktop_kwintest)";
    }

    auto makeToolbar = [](int& clicks) {
        auto bar = std::make_unique<QWidget>();
        bar->setWindowTitle("toolbar");
        auto* row = new QHBoxLayout(bar.get());
        row->setContentsMargins(0, 0, 0, 0);
        for (int i = 0; i < 2; ++i) {
            auto* b = new QToolButton(bar.get());
            b->setFixedSize(40, 30);
            QObject::connect(b, &QToolButton::clicked, [&clicks] { ++clicks; });
            row->addWidget(b);
        }
        bar->setFixedSize(80, 30);
        return bar;
    };
    int clicks = 0;
    auto bar = makeToolbar(clicks);
    // Placed before it is first shown, as the program places its toolbar.
    d().windows.SetTopmost(IdOf(bar.get()), true, true);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(bar->windowHandle(), 5000));
    // At first in the lower right corner.
    QPoint at(screen.width() - 80 - 24 + 20, screen.height() - 30 - 48 + 15);
    // A click as a hand gives it: the pointer moves over the toolbar until the toolbar hears it
    // (the compositor routes the pointer to a surface only once its first frame is up), then
    // the button goes.
    struct Hover : QObject {
        int seen = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            const auto t = e->type();
            if (t == QEvent::Enter || t == QEvent::HoverEnter || t == QEvent::HoverMove ||
                t == QEvent::MouseMove)
                ++seen;
            return false;
        }
    };
    auto clickOn = [&](QWidget* w) {
        Hover hover;
        w->installEventFilter(&hover);
        for (QWidget* c : w->findChildren<QWidget*>()) c->installEventFilter(&hover);
        bool heard = false;
        for (int i = 0; i < 50 && !heard; ++i) {
            pointer->MoveTo(at.x() + i % 2, at.y());
            heard = QTest::qWaitFor([&] { return hover.seen > 0; }, 100);
        }
        EXPECT_TRUE(heard) << "the toolbar never heard the pointer";
        pointer->Click(at.x(), at.y());
    };
    clickOn(bar.get());
    EXPECT_SOON_EQ(clicks, 1);
    EXPECT_EQ(d().windows.ActiveWindow(), e->id);

    // A drag from the first button 300 px left and 200 up.
    pointer->MoveTo(at.x(), at.y());
    pointer->Button(true);
    for (int step = 1; step <= 10; ++step) {
        pointer->MoveTo(at.x() - 30 * step, at.y() - 20 * step);
        QTest::qWait(10);  // a hand's pace
    }
    pointer->Button(false);
    EXPECT_SOON(platform::FetchValue("Software\\Tamsel\\Penrika\\Toolbar", "Left").has_value());
    EXPECT_EQ(clicks, 1);
    at -= QPoint(300, 200);
    clickOn(bar.get());
    EXPECT_SOON_EQ(clicks, 2);
    EXPECT_EQ(d().windows.ActiveWindow(), e->id);

    // Opened again, it is where it was left.
    bar.reset();
    int again = 0;
    auto next = makeToolbar(again);
    d().windows.SetTopmost(IdOf(next.get()), true, true);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(next->windowHandle(), 5000));
    clickOn(next.get());
    EXPECT_SOON_EQ(again, 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("PENRIKA_EDITOR_FILE")) return EditorProgram();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
