// KWin's window stack and fake-input keyboard against a real KWin (tests/support/kwin-session.sh):
// the windows of this process and of another one, their stacking and states, activation, and
// typing into another program's field exactly, stopping when another window becomes active.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "core/FillCommand.h"
#include "core/KeyNotation.h"
#include "platform/wayland/DataControlClipboard.h"
#include "platform/wayland/FakeInputKeyboard.h"
#include "platform/wayland/LayerShell.h"
#include "platform/wayland/PlasmaWindowStack.h"
#include "platform/wayland/WaylandConnection.h"
#include "support/GuiApp.h"
#include "support/TestWindows.h"
#include "ui/WindowUtil.h"

using platform::WindowId;

namespace {

const bool kOtherWindow = RunOtherWindowIfAsked();

QApplication* App() {
    static int argc = 1;
    static char arg0[] = "KWinDesktop_kwintest";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "wayland");
        return new QApplication(argc, argv);
    }();
    return app;
}

class KWinDesktopTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        App();
        w_ = new platform::WaylandConnection;
        stack_ = new platform::PlasmaWindowStack(*w_);
        clipboard_ = new platform::DataControlClipboard(*w_);
        keyboard_ = new platform::FakeInputKeyboard(*w_, *stack_, clipboard_);
    }
    static void TearDownTestSuite() {
        delete keyboard_;
        delete clipboard_;
        delete stack_;
        delete w_;
    }
    void SetUp() override {
        ASSERT_TRUE(w_->Valid()) << "no compositor at WAYLAND_DISPLAY";
        ASSERT_TRUE(stack_->Available()) << "KWin lists no windows to this program";
        ASSERT_TRUE(keyboard_->Available()) << "KWin takes no fake keys from this program";
    }

    platform::PlasmaWindowStack& stack() { return *stack_; }
    platform::FakeInputKeyboard& keyboard() { return *keyboard_; }

    // The window KWin lists with this title, once it is described (0 on timeout).
    WindowId Listed(const std::string& title, int ms = 10000) {
        WindowId found = 0;
        (void)QTest::qWaitFor(
            [&] {
                for (WindowId w : stack().TopLevelWindows())
                    if (stack().Caption(w) == title) found = w;
                return found != 0;
            },
            ms);
        return found;
    }
    // Shows one of our windows and waits until KWin lists it.
    WindowId ShowListed(QWidget* w) {
        w->show();
        return Listed(w->windowTitle().toStdString());
    }
    bool Activate(WindowId w) {
        stack().RequestActivate(w);
        return stack().WaitActive(w, 5000);
    }
    int StackIndex(WindowId w) {
        auto all = stack().TopLevelWindows();
        return static_cast<int>(std::find(all.begin(), all.end(), w) - all.begin());
    }
    // Another process's window with its first field focused, active.
    WindowId ActiveOther(OtherWindow& other, const std::string& title) {
        if (!other.WaitShown()) return 0;
        WindowId id = Listed(title);
        return id && Activate(id) ? id : 0;
    }

    static platform::WaylandConnection* w_;
    static platform::PlasmaWindowStack* stack_;
    static platform::DataControlClipboard* clipboard_;
    static platform::FakeInputKeyboard* keyboard_;
};
platform::WaylandConnection* KWinDesktopTest::w_ = nullptr;
platform::PlasmaWindowStack* KWinDesktopTest::stack_ = nullptr;
platform::DataControlClipboard* KWinDesktopTest::clipboard_ = nullptr;
platform::FakeInputKeyboard* KWinDesktopTest::keyboard_ = nullptr;

// The toolbar: the first window placed before it is shown becomes a layer-shell surface, which
// KWin does not list, which never takes the keyboard, and below which lie all the windows. First
// in this file, so that no other window of the process has been placed before it.
TEST_F(KWinDesktopTest, TheToolbarLiesAboveEveryWindowAndTakesNoKeyboard) {
    if (!platform::LayerShellAvailable()) GTEST_SKIP() << "built without Qt's layer shell";
    OtherWindow other(QStringLiteral("under the toolbar"));
    const WindowId idf = ActiveOther(other, "under the toolbar");
    ASSERT_NE(idf, 0u);
    QWidget toolbar(nullptr, Qt::Window);
    toolbar.setWindowTitle(QStringLiteral("Penrika toolbar"));
    toolbar.resize(138, 26);
    const WindowId id = IdOf(&toolbar);
    stack().SetTopmost(id, true, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return toolbar.isVisible(); }, 3000));
    QGuiApplication::sync();
    std::vector<WindowId> below = stack().WindowsBelow(id);
    ASSERT_FALSE(below.empty());
    EXPECT_EQ(below.front(), idf);
    EXPECT_EQ(Listed("Penrika toolbar", 500), 0u) << "KWin lists no layer surface";
    EXPECT_EQ(stack().ActiveWindow(), idf);
    EXPECT_TRUE(stack().IsOwnWindow(id));
}

TEST_F(KWinDesktopTest, StackListsOwnAndOtherWindowsInStackingOrder) {
    EditWindow a(QStringLiteral("ペンリカ試験 A — ü"));
    const WindowId ida = ShowListed(&a);
    ASSERT_NE(ida, 0u);
    ASSERT_TRUE(Activate(ida));
    OtherWindow other(QStringLiteral("other window"));
    const WindowId idf = ActiveOther(other, "other window");
    ASSERT_NE(idf, 0u);
    EditWindow b(QStringLiteral("B"));
    const WindowId idb = ShowListed(&b);
    ASSERT_NE(idb, 0u);
    ASSERT_TRUE(Activate(idb));

    std::vector<WindowId> below = stack().WindowsBelow(idb);
    ASSERT_GE(below.size(), 2u);
    EXPECT_EQ(below[0], idf);
    EXPECT_EQ(below[1], ida);
    // Our widget's own id names the same window.
    EXPECT_EQ(stack().WindowsBelow(IdOf(&b)), below);
    EXPECT_EQ(stack().TopLevelWindows().front(), idb);
    EXPECT_TRUE(stack().WindowsBelow(987654).empty());

    EXPECT_EQ(stack().Caption(ida), "ペンリカ試験 A — ü");
    EXPECT_EQ(stack().Caption(idf), "other window");
    EXPECT_TRUE(stack().IsOwnWindow(ida));
    EXPECT_TRUE(stack().IsOwnWindow(IdOf(&a)));
    EXPECT_FALSE(stack().IsOwnWindow(idf));
    EXPECT_FALSE(stack().IsOwnWindow(0));
    EXPECT_TRUE(stack().IsVisible(idf));

    // Activation brings the other window forward, above both of ours.
    ASSERT_TRUE(Activate(idf));
    EXPECT_EQ(stack().ActiveWindow(), idf);
    EXPECT_SOON_EQ(stack().TopLevelWindows().front(), idf);
    EXPECT_LT(StackIndex(idf), StackIndex(idb));

    // A window that goes away leaves the stack.
    b.hide();
    EXPECT_TRUE(QTest::qWaitFor([&] { return StackIndex(idb) == static_cast<int>(
                                                 stack().TopLevelWindows().size()); },
                                5000));
    EXPECT_FALSE(stack().IsVisible(idb));
    EXPECT_EQ(stack().Caption(idb), "");
}

// Our window is found under the title KWin shows for it, its white space simplified (the
// candidate list's title has two spaces).
TEST_F(KWinDesktopTest, OwnWindowIsFoundUnderTheTitleKWinShows) {
    EditWindow list(QStringLiteral("Penrika  for IE - 記入候補"));
    list.show();
    const WindowId idl = Listed("Penrika for IE - 記入候補");
    ASSERT_NE(idl, 0u);
    // Our window goes by its widget's id.
    EXPECT_EQ(idl, IdOf(&list));
    stack().RequestActivate(IdOf(&list));
    EXPECT_TRUE(stack().WaitActive(IdOf(&list), 5000));
    EXPECT_EQ(stack().ActiveWindow(), IdOf(&list));
}

TEST_F(KWinDesktopTest, MinimisedWindowIsNotVisibleAndRestores) {
    EditWindow a(QStringLiteral("minimise me"));
    const WindowId id = ShowListed(&a);
    ASSERT_NE(id, 0u);
    // KWin activates a window it has just shown, which would restore it again.
    ASSERT_TRUE(Activate(id));
    EXPECT_FALSE(stack().IsMinimized(id));
    a.showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return stack().IsMinimized(id); }, 5000));
    EXPECT_FALSE(stack().IsVisible(id));
    stack().Restore(id);
    EXPECT_TRUE(QTest::qWaitFor([&] { return stack().IsVisible(id); }, 5000));
    EXPECT_TRUE(Activate(id));
}

TEST_F(KWinDesktopTest, DialogHasItsOwner) {
    EditWindow a(QStringLiteral("owner"));
    const WindowId ida = ShowListed(&a);
    ASSERT_NE(ida, 0u);
    QDialog dialog(&a);
    dialog.setWindowTitle(QStringLiteral("dialog"));
    const WindowId idd = ShowListed(&dialog);
    ASSERT_NE(idd, 0u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return stack().Owner(idd) == ida; }, 3000));
    EXPECT_EQ(stack().Owner(ida), 0u);
}

TEST_F(KWinDesktopTest, TopmostBandNeitherActivatesNorHides) {
    OtherWindow other(QStringLiteral("band other"));
    const WindowId idf = ActiveOther(other, "band other");
    ASSERT_NE(idf, 0u);
    EditWindow a(QStringLiteral("band A"));
    const WindowId ida = ShowListed(&a);
    ASSERT_NE(ida, 0u);
    ASSERT_TRUE(Activate(ida));
    ASSERT_TRUE(Activate(idf));
    ASSERT_TRUE(QTest::qWaitFor([&] { return StackIndex(idf) < StackIndex(ida); }, 3000));

    stack().SetTopmost(IdOf(&a), true, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return stack().IsTopmost(ida); }, 3000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return StackIndex(ida) < StackIndex(idf); }, 3000));
    EXPECT_EQ(stack().ActiveWindow(), idf);
    // Activating the other window does not put it above the band.
    ASSERT_TRUE(Activate(idf));
    EXPECT_LT(StackIndex(ida), StackIndex(idf));

    // Shown again, the window comes back into the band: KWin lists it anew.
    a.hide();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !stack().IsVisible(ida); }, 3000));
    a.show();
    const WindowId again = Listed("band A");
    ASSERT_NE(again, 0u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return stack().IsTopmost(again); }, 3000));

    stack().SetTopmost(again, false, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !stack().IsTopmost(again); }, 3000));
}

TEST_F(KWinDesktopTest, ActivationIsWaitedForAndBounded) {
    EditWindow never(QStringLiteral("never shown"));
    never.winId();
    QElapsedTimer t;
    t.start();
    stack().RequestActivate(IdOf(&never));
    EXPECT_FALSE(stack().WaitActive(IdOf(&never), 300));
    EXPECT_GE(t.elapsed(), 250);
    EXPECT_LT(t.elapsed(), 2000);
}

// Keys of the user's layout, as a user presses them, reach another program's field exactly; no
// modifier is left held.
TEST_F(KWinDesktopTest, TypesIntoAnotherProgramExactly) {
    OtherWindow other(QStringLiteral("typing target"));
    const WindowId id = ActiveOther(other, "typing target");
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(keyboard().WaitModifiersReleased(1000));
    EXPECT_EQ(keyboard().ShiftedChar(U'1'), U'!');
    EXPECT_EQ(keyboard().ShiftedChar(U'a'), U'A');
    EXPECT_EQ(keyboard().ShiftedChar(U'A'), 0u);

    std::vector<KeyStroke> strokes = Chars(QStringLiteral("Abc 12!"));
    ASSERT_EQ(keyboard().Type(strokes, id), strokes.size());
    EXPECT_TRUE(other.WaitFor([&] { return other.first() == QStringLiteral("Abc 12!"); }))
        << other.first().toStdString();
    EXPECT_EQ(other.HeldModifiers(), 0);

    // Named keys and Shift with a character, as the notation leaves them.
    KeyParseResult keys = ParseKeys("{BS}+x{TAB}{~}@{{}{}}");
    ASSERT_TRUE(keys.ok()) << keys.error;
    ASSERT_EQ(TypeStrokes(keyboard(), keys.strokes, id), keys.strokes.size());
    EXPECT_TRUE(other.WaitFor([&] { return other.second() == QStringLiteral("~@{}"); }))
        << other.second().toStdString();
    EXPECT_EQ(other.first(), QStringLiteral("Abc 12X"));
    EXPECT_EQ(other.HeldModifiers(), 0);
}

// What the layout lacks goes by paste, and the clipboard holds what it held before.
TEST_F(KWinDesktopTest, TextTheLayoutLacksGoesByPaste) {
    ASSERT_TRUE(clipboard_->Available()) << "KWin offers no data control";
    OtherWindow other(QStringLiteral("paste target"));
    const WindowId id = ActiveOther(other, "paste target");
    ASSERT_NE(id, 0u);
    clipboard_->OfferText("the user's own copy");
    const std::string before = clipboard_->Text();
    ASSERT_EQ(before, "the user's own copy");
    const QString text = QStringLiteral("山田 Abc 太郎😀!");
    const std::vector<KeyStroke> strokes = Chars(text);
    ASSERT_EQ(keyboard().Type(strokes, id), strokes.size());
    EXPECT_TRUE(other.WaitFor([&] { return other.first() == text; }))
        << other.first().toStdString();
    EXPECT_EQ(clipboard_->Text(), before);
    EXPECT_EQ(other.HeldModifiers(), 0);
}

// How fast text the layout carries goes: a figure for the notes.
TEST_F(KWinDesktopTest, AsciiTypingRate) {
    OtherWindow other(QStringLiteral("typing rate"));
    const WindowId id = ActiveOther(other, "typing rate");
    ASSERT_NE(id, 0u);
    const QString text =
        QStringLiteral("Taro.Yamada+1@example.jp ~!\"#$%&'()*,-/:;<=>?[]^_`{|} 0123456789 "
                       "The quick brown fox jumps over the lazy dog. ");
    QElapsedTimer t;
    t.start();
    ASSERT_EQ(keyboard().Type(Chars(text), id), static_cast<std::size_t>(text.size()));
    const qint64 typed = t.elapsed();
    EXPECT_TRUE(other.WaitFor([&] { return other.first() == text; }))
        << other.first().toStdString();
    const qint64 arrived = t.elapsed();
    std::printf("[ figure ] %lld characters: typed in %lld ms, all arrived after %lld ms, "
                "%.0f characters/s\n",
                static_cast<long long>(text.size()), static_cast<long long>(typed),
                static_cast<long long>(arrived), text.size() * 1000.0 / std::max<qint64>(arrived, 1));
}

// Typing stops as soon as another window is active, and leaves no key held there.
TEST_F(KWinDesktopTest, TypingStopsWhenAnotherWindowBecomesActive) {
    OtherWindow other(QStringLiteral("interrupted"));
    const WindowId id = ActiveOther(other, "interrupted");
    ASSERT_NE(id, 0u);
    EditWindow mine(QStringLiteral("takes the focus"));
    const WindowId idm = ShowListed(&mine);
    ASSERT_NE(idm, 0u);
    // KWin activates a window it has just shown in its own time: settle that first.
    ASSERT_TRUE(Activate(idm));
    ASSERT_TRUE(Activate(id));

    QString text;
    for (int i = 0; i < 40; ++i) text += QStringLiteral("Ab1!");
    std::vector<KeyStroke> strokes = Chars(text);
    // Our window takes the focus once the other one has a few characters.
    QTimer watch;
    bool asked = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!asked && other.first().size() >= 10) {
            stack().RequestActivate(idm);
            asked = true;
        }
    });
    watch.start(1);
    const std::size_t sent = keyboard().Type(strokes, id);
    watch.stop();
    EXPECT_TRUE(asked);
    EXPECT_LT(sent, strokes.size());
    EXPECT_GE(sent, 10u);
    EXPECT_EQ(stack().ActiveWindow(), idm);
    EXPECT_TRUE(other.WaitFor([&] { return other.first().size() == static_cast<int>(sent); }))
        << other.first().size() << " of " << sent;
    EXPECT_TRUE(text.startsWith(other.first()));
    // Nothing reached our window, and no modifier is held there.
    QGuiApplication::sync();
    EXPECT_EQ(mine.first->text(), QString());
    EXPECT_EQ(QGuiApplication::queryKeyboardModifiers(), Qt::NoModifier);
}

// Keys for a window of this very process are read while they are typed.
TEST_F(KWinDesktopTest, TypesIntoOurOwnWindow) {
    EditWindow mine(QStringLiteral("own target"));
    const WindowId id = ShowListed(&mine);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(Activate(id));
    ASSERT_TRUE(QTest::qWaitFor([&] { return mine.first->hasFocus(); }, 3000));
    const std::vector<KeyStroke> strokes = Chars(QStringLiteral("Own 7?"));
    ASSERT_EQ(keyboard().Type(strokes, id), strokes.size());
    // Read by the time Type returns.
    EXPECT_EQ(mine.first->text(), QStringLiteral("Own 7?"));
    // A character the layout lacks has no paste here: typing stops there.
    EXPECT_EQ(keyboard().Type(Chars(QStringLiteral("x山y")), id), 1u);
    EXPECT_EQ(mine.first->text(), QStringLiteral("Own 7?x"));
}

// A Caps Lock the user left on changes no letter, where KWin tells its state.
TEST_F(KWinDesktopTest, CapsLockLeftOnChangesNoLetter) {
    if (!keyboard().KnowsLocks()) GTEST_SKIP() << "built without KWin's key state protocol";
    OtherWindow other(QStringLiteral("caps lock"));
    const WindowId id = ActiveOther(other, "caps lock");
    ASSERT_NE(id, 0u);
    KeyStroke caps;
    caps.key = NamedKey::CapsLock;
    ASSERT_EQ(keyboard().Type({caps}, id), 1u);
    const std::vector<KeyStroke> strokes = Chars(QStringLiteral("Abc xY"));
    const std::size_t sent = keyboard().Type(strokes, id);
    EXPECT_TRUE(keyboard().CapsLockOn());
    ASSERT_EQ(keyboard().Type({caps}, id), 1u);
    EXPECT_EQ(sent, strokes.size());
    EXPECT_TRUE(other.WaitFor([&] { return other.first() == QStringLiteral("Abc xY"); }))
        << other.first().toStdString();
}

}  // namespace
