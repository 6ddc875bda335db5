// The X11 desktop layer against a real X server and openbox: the window stack, states, the
// topmost band, activation, the clipboard and typing; and the program's message boxes over it.
#include <gtest/gtest.h>

#include <xcb/xcb.h>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/AppState.h"
#include "core/FillCommand.h"
#include "core/KeyNotation.h"
#include "platform/x11/X11Desktop.h"
#include "support/GuiApp.h"
#include "support/TestWindows.h"
#include "ui/MessageBoxes.h"
#include "ui/WindowUtil.h"

using platform::WindowId;
using platform::X11Desktop;

namespace {

QApplication* App() {
    static int argc = 1;
    static char arg0[] = "X11Desktop_guitest";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "xcb");
        return new QApplication(argc, argv);
    }();
    return app;
}

// The key presses a widget is given: on which key, and whether from the keypad.
struct KeyPressWatch : QObject {
    struct Press {
        quint32 scanCode = 0;
        bool keypad = false;
    };
    std::vector<Press> presses;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(e);
            presses.push_back({k->nativeScanCode(), (k->modifiers() & Qt::KeypadModifier) != 0});
        }
        return false;
    }
};

// Once the server has answered a request, it has carried out everything sent before it.
void RoundTrip(xcb_connection_t* c) {
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// The whole core keyboard map, to see that typing leaves it as it was.
std::vector<xcb_keysym_t> KeyboardMap() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_setup_t* s = xcb_get_setup(c);
    auto* r = xcb_get_keyboard_mapping_reply(
        c,
        xcb_get_keyboard_mapping(c, s->min_keycode,
                                 static_cast<std::uint8_t>(s->max_keycode - s->min_keycode + 1)),
        nullptr);
    std::vector<xcb_keysym_t> out;
    if (r) {
        const xcb_keysym_t* k = xcb_get_keyboard_mapping_keysyms(r);
        out.assign(k, k + xcb_get_keyboard_mapping_keysyms_length(r));
        std::free(r);
    }
    xcb_disconnect(c);
    return out;
}

class X11DesktopTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        App();
        desktop_ = new X11Desktop;
    }
    static void TearDownTestSuite() {
        delete desktop_;
        desktop_ = nullptr;
    }
    void TearDown() override { boxes().SetOnTop(false); }

    X11Desktop& d() { return *desktop_; }
    // The program's message boxes, which these tests show over the X11 desktop's windows.
    MessageBoxes& boxes() { return boxes_; }

    // Shows a window and waits until the window manager has it in the stack.
    bool ShowManaged(QWidget* w) {
        w->show();
        WindowId id = IdOf(w);
        return QTest::qWaitFor(
            [&] {
                auto all = d().windows().TopLevelWindows();
                return std::find(all.begin(), all.end(), id) != all.end() &&
                       d().windows().IsVisible(id);
            },
            5000);
    }
    bool Activate(WindowId w) {
        d().windows().RequestActivate(w);
        return d().windows().WaitActive(w, 3000);
    }
    // Shows `w`, makes it the active window and waits until its first field has the focus.
    bool ShowFocused(EditWindow& w) {
        if (!ShowManaged(&w) || !Activate(IdOf(&w))) return false;
        w.activateWindow();
        w.first->setFocus();
        return QTest::qWaitFor([&] { return w.first->hasFocus(); }, 2000);
    }
    int StackIndex(WindowId w) {
        auto all = d().windows().TopLevelWindows();
        return static_cast<int>(std::find(all.begin(), all.end(), w) - all.begin());
    }

    static X11Desktop* desktop_;
    MessageBoxes boxes_;
};
X11Desktop* X11DesktopTest::desktop_ = nullptr;

// A window of another process, stopped by its PID when the test ends.
struct ForeignWindow {
    QProcess proc;
    WindowId id = 0;
    ~ForeignWindow() {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(3000);
        }
    }
    bool Start(X11Desktop& d, const QString& title) {
        proc.start("xmessage", {"-title", title, "-name", "penrika-foreign", "foreign window"});
        if (!proc.waitForStarted(3000)) return false;
        return QTest::qWaitFor(
            [&] {
                for (WindowId w : d.windows().TopLevelWindows())
                    if (d.windows().Caption(w) == title.toStdString()) id = w;
                return id != 0 && d.windows().IsVisible(id);
            },
            5000);
    }
};

TEST_F(X11DesktopTest, StackOwnAndForeignWindowsCaptionsAndOwnership) {
    EditWindow a(QStringLiteral("ペンリカ試験 A — ü"));
    ASSERT_TRUE(ShowManaged(&a));
    ASSERT_TRUE(Activate(IdOf(&a)));
    ForeignWindow f;
    ASSERT_TRUE(f.Start(d(), QStringLiteral("foreign-window")));
    ASSERT_TRUE(Activate(f.id));
    EditWindow b(QStringLiteral("B"));
    ASSERT_TRUE(ShowManaged(&b));
    ASSERT_TRUE(Activate(IdOf(&b)));

    const WindowId ida = IdOf(&a), idb = IdOf(&b);
    std::vector<WindowId> below = d().windows().WindowsBelow(idb);
    ASSERT_GE(below.size(), 2u);
    EXPECT_EQ(below[0], f.id);
    EXPECT_EQ(below[1], ida);
    std::vector<WindowId> all = d().windows().TopLevelWindows();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front(), idb);
    EXPECT_TRUE(d().windows().WindowsBelow(12345).empty());
    // The bottom window has nothing below it of these three.
    std::vector<WindowId> belowA = d().windows().WindowsBelow(ida);
    EXPECT_EQ(std::count(belowA.begin(), belowA.end(), f.id), 0);

    EXPECT_EQ(d().windows().Caption(ida), "ペンリカ試験 A — ü");
    EXPECT_EQ(d().windows().Caption(f.id), "foreign-window");
    EXPECT_TRUE(d().windows().IsOwnWindow(ida));
    EXPECT_TRUE(d().windows().IsOwnWindow(idb));
    EXPECT_FALSE(d().windows().IsOwnWindow(f.id));
    EXPECT_FALSE(d().windows().IsOwnWindow(0));
}

TEST_F(X11DesktopTest, MinimisedWindowIsNotVisibleAndRestores) {
    EditWindow a(QStringLiteral("minimise me"));
    ASSERT_TRUE(ShowManaged(&a));
    const WindowId id = IdOf(&a);
    EXPECT_FALSE(d().windows().IsMinimized(id));
    a.showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return d().windows().IsMinimized(id); }, 3000));
    EXPECT_FALSE(d().windows().IsVisible(id));
    d().windows().Restore(id);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return d().windows().IsVisible(id) && !d().windows().IsMinimized(id); }, 3000));
    EXPECT_TRUE(d().windows().WaitActive(id, 3000));
}

TEST_F(X11DesktopTest, TransientDialogHasItsOwner) {
    EditWindow a(QStringLiteral("owner"));
    ASSERT_TRUE(ShowManaged(&a));
    QDialog dialog(&a);
    dialog.setWindowTitle(QStringLiteral("dialog"));
    ASSERT_TRUE(ShowManaged(&dialog));
    EXPECT_EQ(d().windows().Owner(IdOf(&dialog)), IdOf(&a));
    EXPECT_EQ(d().windows().Owner(IdOf(&a)), 0u);
}

TEST_F(X11DesktopTest, TopmostBandNeitherActivatesNorMoves) {
    EditWindow a(QStringLiteral("topmost A"));
    EditWindow b(QStringLiteral("topmost B"));
    a.move(100, 100);
    b.move(150, 150);
    ASSERT_TRUE(ShowManaged(&a));
    ASSERT_TRUE(ShowManaged(&b));
    const WindowId ida = IdOf(&a), idb = IdOf(&b);
    ASSERT_TRUE(Activate(idb));
    ASSERT_LT(StackIndex(idb), StackIndex(ida));
    const QRect before = a.frameGeometry();

    d().windows().SetTopmost(ida, true, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return d().windows().IsTopmost(ida); }, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return StackIndex(ida) < StackIndex(idb); }, 2000));
    QTest::qWait(100);  // room for a wrong activation or move to show up
    EXPECT_EQ(d().windows().ActiveWindow(), idb);
    EXPECT_EQ(a.frameGeometry(), before);

    // The band survives being hidden and shown again when it is set while hidden.
    a.hide();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d().windows().IsVisible(ida); }, 2000));
    d().windows().SetTopmost(ida, true, false);
    EXPECT_FALSE(a.isVisible()) << "without show the window stays hidden";
    ASSERT_TRUE(ShowManaged(&a));
    EXPECT_TRUE(QTest::qWaitFor([&] { return d().windows().IsTopmost(ida); }, 2000));

    d().windows().SetTopmost(ida, false, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !d().windows().IsTopmost(ida); }, 2000));
    EXPECT_EQ(a.frameGeometry(), before);

    // With show, a hidden window comes up in the band without taking the focus.
    EditWindow c(QStringLiteral("topmost C"));
    ASSERT_TRUE(ShowManaged(&c));
    c.hide();
    ASSERT_TRUE(Activate(idb));
    const WindowId idc = IdOf(&c);
    d().windows().SetTopmost(idc, true, true);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return d().windows().IsVisible(idc) && d().windows().IsTopmost(idc); }, 3000));
    QTest::qWait(100);
    EXPECT_EQ(d().windows().ActiveWindow(), idb);
}

TEST_F(X11DesktopTest, ActivationIsWaitedForAndBounded) {
    EditWindow a(QStringLiteral("activate A"));
    ForeignWindow f;
    ASSERT_TRUE(ShowManaged(&a));
    ASSERT_TRUE(f.Start(d(), QStringLiteral("activate foreign")));
    ASSERT_TRUE(Activate(f.id));
    EXPECT_EQ(d().windows().ActiveWindow(), f.id);
    ASSERT_TRUE(Activate(IdOf(&a)));
    EXPECT_EQ(d().windows().ActiveWindow(), IdOf(&a));

    // A window that cannot become active: the wait ends at its timeout.
    EditWindow hidden(QStringLiteral("never shown"));
    QElapsedTimer t;
    t.start();
    d().windows().RequestActivate(IdOf(&hidden));
    EXPECT_FALSE(d().windows().WaitActive(IdOf(&hidden), 300));
    EXPECT_GE(t.elapsed(), 250);
    EXPECT_LT(t.elapsed(), 2000);
}

TEST_F(X11DesktopTest, ClipboardClearTextAndWait) {
    d().clipboard().Clear();
    EXPECT_FALSE(d().clipboard().HasText());
    EXPECT_EQ(d().clipboard().Text(), "");
    EXPECT_FALSE(d().clipboard().WaitText(200));

    // Text put there by another program, a moment later.
    QProcess other;
    QTimer::singleShot(150, [&] {
        other.start("xmessage", {"-title", "clip", "x"});  // keeps the display busy meanwhile
        QGuiApplication::clipboard()->setText(QStringLiteral("郵便番号 abc"));
    });
    EXPECT_TRUE(d().clipboard().WaitText(3000));
    EXPECT_TRUE(d().clipboard().HasText());
    EXPECT_EQ(d().clipboard().Text(), "郵便番号 abc");
    d().clipboard().Clear();
    EXPECT_FALSE(d().clipboard().HasText());
    other.kill();
    other.waitForFinished(3000);
}

TEST_F(X11DesktopTest, TypesMixedTextExactlyAndRestoresTheKeyboard) {
    const std::vector<xcb_keysym_t> mapBefore = KeyboardMap();
    EditWindow w(QStringLiteral("typing"));
    ASSERT_TRUE(ShowFocused(w));
    const WindowId id = IdOf(&w);
    ASSERT_TRUE(d().keyboard().WaitModifiersReleased(1000));

    const QString text = QStringLiteral("Abc xyz+^%~{}()@-_ 山田太郎やまタロウｷｬﾝｾﾙ１２３　end");
    std::vector<KeyStroke> strokes = Chars(text);
    // Shift with a letter types the capital; Tab moves to the next field.
    KeyStroke b;
    b.ch = U'b';
    b.shift = true;
    strokes.push_back(b);
    // Shift with a digit types what the keyboard has above it (US layout here).
    KeyStroke one;
    one.ch = U'1';
    one.shift = true;
    strokes.push_back(one);
    // A line break in the text is the Enter key.
    KeyStroke newline;
    newline.ch = U'\n';
    strokes.push_back(newline);
    int returns = 0;
    QObject::connect(w.first, &QLineEdit::returnPressed, [&returns] { ++returns; });
    KeyStroke tab;
    tab.key = NamedKey::Tab;
    strokes.push_back(tab);
    for (const KeyStroke& k : Chars(QStringLiteral("二つ目"))) strokes.push_back(k);

    ASSERT_EQ(TypeStrokes(d().keyboard(), strokes, id), strokes.size());
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return w.second->text() == QStringLiteral("二つ目"); }, 3000));
    EXPECT_EQ(w.first->text(), text + "B!");
    EXPECT_EQ(returns, 1);
    EXPECT_EQ(w.second->text(), QStringLiteral("二つ目"));
    // No key is left down, and the keyboard gets its own map back after the fill.
    EXPECT_TRUE(d().keyboard().WaitModifiersReleased(0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !d().keyboard().MapChanged(); }, 3000));
    EXPECT_EQ(KeyboardMap(), mapBefore);
}

// What the layout carries is typed on its own keys, as a user types it: no key changes its
// meaning, pages see the true key, and the Caps Lock the user left on changes no letter.
TEST_F(X11DesktopTest, TextTheLayoutCarriesGoesOnItsOwnKeys) {
    KeyPressWatch watch;
    EditWindow w(QStringLiteral("layout keys"));
    ASSERT_TRUE(ShowFocused(w));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d().keyboard().MapChanged(); }, 3000));
    w.first->installEventFilter(&watch);
    const std::uint64_t changes = d().keyboard().mapChanges();
    const QString text = QStringLiteral("Taro.Yamada+1@example.jp ~!\"#$%&'()*,-/:;<=>?[]^_`{|}");
    for (bool capsLock : {false, true}) {
        if (capsLock) {
            ASSERT_EQ(QProcess::execute("xdotool", {"key", "Caps_Lock"}), 0);
        }
        w.first->clear();
        watch.presses.clear();
        ASSERT_EQ(TypeStrokes(d().keyboard(), Chars(text), IdOf(&w)),
                  static_cast<std::size_t>(text.size()));
        EXPECT_TRUE(QTest::qWaitFor([&] { return w.first->text() == text; }, 3000))
            << "Caps Lock " << capsLock << ": " << w.first->text().toStdString();
        for (const KeyPressWatch::Press& p : watch.presses)
            EXPECT_LT(p.scanCode, 136u) << "a spare key was used";
    }
    ASSERT_EQ(QProcess::execute("xdotool", {"key", "Caps_Lock"}), 0);
    EXPECT_EQ(d().keyboard().mapChanges(), changes);
}

// Every change of the keyboard map makes every client on the display reload its keyboard (a
// window manager may take a good while for each), so a text with more distinct characters than
// there are spare keys must cost a few map changes, not one per key or per character.
TEST_F(X11DesktopTest, ALongTextChangesTheKeyboardMapInFewSteps) {
    xcb_connection_t* watcher = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(watcher));
    RoundTrip(watcher);
    EditWindow w(QStringLiteral("many characters"));
    ASSERT_TRUE(ShowFocused(w));
    const WindowId id = IdOf(&w);

    QString text;
    for (char32_t c = U'あ'; c < U'あ' + 60; ++c) text += QString::fromUcs4(&c, 1);
    ASSERT_EQ(TypeStrokes(d().keyboard(), Chars(text), id), static_cast<std::size_t>(text.size()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.first->text() == text; }, 3000))
        << w.first->text().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d().keyboard().MapChanged(); }, 3000));

    RoundTrip(watcher);
    int notifies = 0;
    while (xcb_generic_event_t* e = xcb_poll_for_event(watcher)) {
        if ((e->response_type & 0x7f) == XCB_MAPPING_NOTIFY) ++notifies;
        std::free(e);
    }
    xcb_disconnect(watcher);
    EXPECT_GT(notifies, 0);
    EXPECT_LE(notifies, 15) << "60 characters, a handful of spare keys";
}

// An input method server lists its selection on the root window; the list stays behind when
// the server ends. Only a listed selection that someone owns means an input method runs.
TEST_F(X11DesktopTest, InputMethodCountsOnlyWhileItsServerRuns) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(c));
    auto atom = [&](const char* name) {
        auto* r = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        xcb_atom_t a = r ? r->atom : XCB_NONE;
        std::free(r);
        return a;
    };
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t servers = atom("XIM_SERVERS");
    const xcb_atom_t server = atom("@server=penrika-test");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, servers, XCB_ATOM_ATOM, 32, 1, &server);
    RoundTrip(c);
    EXPECT_FALSE(d().keyboard().InputMethodPresent()) << "a server left in the list only";

    const xcb_window_t owner = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, owner, root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(c, owner, server, XCB_CURRENT_TIME);
    RoundTrip(c);
    EXPECT_TRUE(d().keyboard().InputMethodPresent());

    xcb_destroy_window(c, owner);
    RoundTrip(c);
    EXPECT_FALSE(d().keyboard().InputMethodPresent());
    xcb_delete_property(c, root, servers);
    xcb_disconnect(c);
}

TEST_F(X11DesktopTest, TypingStopsWhenTheFocusMovesAway) {
    // The other window belongs to another process: Qt would hand a key that was meant for one
    // of its windows to whichever of them has the focus when it reads the key.
    ForeignWindow other;
    ASSERT_TRUE(other.Start(d(), QStringLiteral("focus-thief")));
    EditWindow target(QStringLiteral("target"));
    ASSERT_TRUE(ShowManaged(&target));
    const WindowId id = IdOf(&target);
    ASSERT_TRUE(Activate(id));
    ASSERT_TRUE(QTest::qWaitFor([&] { return target.first->hasFocus(); }, 2000));

    QString text;
    for (int i = 0; i < 40; ++i) text += QStringLiteral("abcdefghij");
    const std::vector<KeyStroke> strokes = Chars(text);
    // Another window takes the focus once part of the text has arrived.
    QTimer watch;
    QElapsedTimer lastAsk;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (target.first->text().size() < 10 || d().windows().ActiveWindow() == other.id) return;
        // Asked again now and then: openbox may ignore a request while it is busy with keys.
        if (!lastAsk.isValid() || lastAsk.elapsed() > 100) {
            d().windows().RequestActivate(other.id);
            lastAsk.start();
        }
    });
    watch.start(5);
    std::size_t sent = TypeStrokes(d().keyboard(), strokes, id);
    watch.stop();
    EXPECT_LT(sent, strokes.size());
    EXPECT_GE(sent, 10u);
    EXPECT_EQ(d().windows().ActiveWindow(), other.id);
    QTest::qWait(200);  // let typed keys reach the widget before looking
    EXPECT_TRUE(text.startsWith(target.first->text()));
    EXPECT_LE(static_cast<std::size_t>(target.first->text().size()), sent);
    EXPECT_TRUE(d().keyboard().WaitModifiersReleased(0));
}

TEST_F(X11DesktopTest, ShortcutUsesTheKeyboardsOwnKey) {
    EditWindow w(QStringLiteral("shortcut"));
    ASSERT_TRUE(ShowManaged(&w));
    const WindowId id = IdOf(&w);
    ASSERT_TRUE(Activate(id));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.first->hasFocus(); }, 2000));
    w.first->setText(QStringLiteral("コピー元"));
    w.first->selectAll();
    d().clipboard().Clear();
    KeyStroke copy;
    copy.ch = U'c';
    copy.ctrl = true;
    ASSERT_EQ(TypeStrokes(d().keyboard(), {copy}, id), 1u);
    EXPECT_TRUE(d().clipboard().WaitText(3000));
    EXPECT_EQ(d().clipboard().Text(), "コピー元");
}

// {ADD} {SUBTRACT} {MULTIPLY} {DIVIDE} press the keypad's keys, which applications can tell from
// the main keyboard's + - * /, and they are on the keyboard already: no spare key is remapped.
TEST_F(X11DesktopTest, KeypadNamesPressTheKeypadKeys) {
    KeyPressWatch watch;
    EditWindow w(QStringLiteral("keypad"));
    ASSERT_TRUE(ShowFocused(w));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d().keyboard().MapChanged(); }, 3000));
    w.first->installEventFilter(&watch);
    KeyParseResult keys = ParseKeys("{ADD}{subtract}{Multiply 2}{divide}");
    ASSERT_TRUE(keys.ok()) << keys.error;
    ASSERT_EQ(TypeStrokes(d().keyboard(), keys.strokes, IdOf(&w)), 5u);
    EXPECT_FALSE(d().keyboard().MapChanged());
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.first->text() == "+-**/"; }, 3000))
        << w.first->text().toStdString();
    ASSERT_EQ(watch.presses.size(), 5u);
    for (const KeyPressWatch::Press& p : watch.presses) EXPECT_TRUE(p.keypad);
}

TEST_F(X11DesktopTest, ModifierHeldByTheUserIsWaitedFor) {
    ASSERT_TRUE(d().keyboard().WaitModifiersReleased(0));
    ASSERT_EQ(QProcess::execute("xdotool", {"keydown", "shift"}), 0);
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(d().keyboard().WaitModifiersReleased(200));
    EXPECT_GE(t.elapsed(), 150);
    QTimer::singleShot(100, [] { QProcess::execute("xdotool", {"keyup", "shift"}); });
    EXPECT_TRUE(d().keyboard().WaitModifiersReleased(3000));
}

// Answers the next message box with Escape after checking what it shows.
struct BoxAnswerer {
    QString title, text, buttons;
    bool icon = false, topmost = false;
    WindowId id = 0;
    void EscapeWhenShown(X11Desktop& d, bool expectTopmost) {
        QTimer::singleShot(0, [this, &d, expectTopmost] {
            (void)QTest::qWaitFor(
                [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }, 3000);
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            title = box->windowTitle();
            text = box->text();
            icon = box->icon() != QMessageBox::NoIcon;
            for (QAbstractButton* b : box->buttons()) buttons += b->text() + "|";
            id = IdOf(box);
            topmost = expectTopmost
                          ? QTest::qWaitFor([&] { return d.windows().IsTopmost(id); }, 2000)
                          : d.windows().IsTopmost(id);
            QTest::keyClick(box, Qt::Key_Escape);
        });
    }
};

// A confirmation that goes away without a click on OK (the program told to end while it is
// open closes it so) is no yes: the fill must not go ahead.
TEST_F(X11DesktopTest, AConfirmationClosedWithoutOkIsNoYes) {
    QTimer::singleShot(0, [] {
        (void)QTest::qWaitFor(
            [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }, 3000);
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(QMessageBox::Ok);
    });
    EXPECT_EQ(boxes().Box("[ 山田 ]をフォームに記入します。", MsgOkCancelInfo, "Penrika"),
              MsgAnswerCancel);
}

TEST_F(X11DesktopTest, MessageBoxStylesAndEscape) {
    BoxAnswerer confirm;
    boxes().SetOnTop(true);
    confirm.EscapeWhenShown(d(), true);
    EXPECT_EQ(boxes().Box("[ 山田 ]をフォームに記入します。", MsgOkCancelInfo, "Penrika"),
              MsgAnswerCancel);
    EXPECT_EQ(confirm.title, QStringLiteral("Penrika"));
    EXPECT_EQ(confirm.text, QStringLiteral("[ 山田 ]をフォームに記入します。"));
    EXPECT_TRUE(confirm.buttons.contains("OK|"));
    EXPECT_TRUE(confirm.buttons.contains(QStringLiteral("キャンセル|")));
    EXPECT_TRUE(confirm.icon);
    EXPECT_TRUE(confirm.topmost) << "a box over a toolbar kept on top must not hide below it";

    BoxAnswerer notice;
    boxes().SetOnTop(false);
    notice.EscapeWhenShown(d(), false);
    EXPECT_EQ(boxes().Box("一行目\r\n二行目", MsgOk, "Penrika：エラー"), MsgAnswerOk);
    EXPECT_EQ(notice.buttons, QStringLiteral("OK|"));
    EXPECT_EQ(notice.text, QStringLiteral("一行目\n二行目"));
    EXPECT_FALSE(notice.icon);
    EXPECT_FALSE(notice.topmost);
}

// A message box lies wholly on the screen, wherever the program's window it opens over sits.
TEST_F(X11DesktopTest, AMessageBoxLiesOnTheScreenWhereverTheToolbarSits) {
    QWidget toolbar(nullptr, Qt::Window);
    toolbar.setWindowTitle("Penrika");
    toolbar.resize(138, 26);
    ASSERT_TRUE(ShowManaged(&toolbar));
    const QRect area = toolbar.screen()->availableGeometry();
    for (const ScreenPlace& place : CornersAndEdges(toolbar.frameGeometry().size(), area)) {
        SCOPED_TRACE(place.name);
        toolbar.move(place.at);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return toolbar.frameGeometry().topLeft() == place.at; }, 3000));
        QRect boxFrame;
        QTimer::singleShot(0, [&] {
            EXPECT_TRUE(QTest::qWaitFor(
                [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); },
                3000));
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            (void)QTest::qWaitFor(
                [&] {
                    return box->frameGeometry().height() > box->height() &&
                           area.contains(box->frameGeometry());
                },
                3000);
            boxFrame = box->frameGeometry();
            QTest::keyClick(box, Qt::Key_Escape);
        });
        boxes().Box("項目は登録されていません。", MsgOk, "Penrika");
        EXPECT_TRUE(area.contains(boxFrame)) << boxFrame.x() << "," << boxFrame.y();
    }
}

// The answer that lets typing begin comes with the key's release, so that no held key is still
// down (and repeating) once the browser is active again; a key held from before the box opened
// answers nothing, neither by its repeats nor by its release.
TEST_F(X11DesktopTest, AConfirmationIsAnsweredWhenTheKeyComesUp) {
    struct Case {
        const char* name;
        Qt::Key key;
        bool focusCancel;
        int answer;
    } cases[] = {
        {"Enter", Qt::Key_Return, false, MsgAnswerOk},
        {"Enter on Cancel", Qt::Key_Return, true, MsgAnswerCancel},
        {"Space on Cancel", Qt::Key_Space, true, MsgAnswerCancel},
        {"Escape", Qt::Key_Escape, false, MsgAnswerCancel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> openAfter;  // the steps after which the box was still open
        bool closedByRelease = false;
        QTimer::singleShot(0, [&] {
            EXPECT_TRUE(QTest::qWaitFor(
                [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); },
                3000));
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            for (QAbstractButton* b : box->buttons())
                if (c.focusCancel && b->text() == QStringLiteral("キャンセル")) b->setFocus();
            auto send = [&](QEvent::Type type, bool repeat, const char* step) {
                QWidget* to = box->focusWidget() ? box->focusWidget() : box;
                QKeyEvent e(type, c.key, Qt::NoModifier, QString(), repeat);
                QApplication::sendEvent(to, &e);
                if (box->isVisible()) openAfter.push_back(step);
            };
            // Held since before the box opened: its repeats, then its release.
            send(QEvent::KeyPress, true, "held repeat");
            send(QEvent::KeyRelease, true, "held repeat up");
            send(QEvent::KeyRelease, false, "held key up");
            // Pressed in the box and held.
            send(QEvent::KeyPress, false, "press");
            send(QEvent::KeyRelease, true, "repeat up");
            send(QEvent::KeyPress, true, "repeat");
            send(QEvent::KeyRelease, false, "release");
            closedByRelease = !box->isVisible();
            if (box->isVisible()) box->reject();
        });
        EXPECT_EQ(boxes().Box("[ 山田 ]をフォームに記入します。", MsgOkCancelInfo, "Penrika"),
                  c.answer);
        EXPECT_EQ(openAfter,
                  (std::vector<std::string>{"held repeat", "held repeat up", "held key up", "press",
                                            "repeat up", "repeat"}));
        EXPECT_TRUE(closedByRelease);
    }
}

}  // namespace
