// The options dialog and the version window, driven as a user drives them while they are
// modal: layout, what OK stores in the settings file, what other ways of closing leave alone,
// and the version window on the dialog's corner.
#include "ui/OptionsDialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include "core/AppState.h"
#include "core/FillCommand.h"
#include "core/Settings.h"
#include "platform/x11/X11Desktop.h"
#include "support/GuiApp.h"
#include "support/TempHome.h"
#include "ui/AboutDialog.h"
#include "ui/HelpViewer.h"
#include "ui/MainToolbar.h"
#include "ui/MessageBoxes.h"
#include "ui/WindowUtil.h"

namespace {

// The program's entries and options, as start-up makes them.
AppState state;

QApplication& App() {
    return GuiApp();
}

// Steps run one after another while modal windows are open: each waits for its condition,
// then acts from the event loop (so an act may itself open a modal window).
struct Step {
    const char* what;
    std::function<bool()> ready;
    std::function<void()> act;
};

// Starts the steps, then calls `open` (which blocks in a modal loop); returns the step that
// timed out, or "" when all ran. A step that times out closes every modal window.
std::string RunWhileModal(std::vector<Step> steps, const std::function<void()>& open) {
    std::string failed;
    size_t next = 0;
    QElapsedTimer clock;
    clock.start();
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (next >= steps.size()) return driver.stop();
        if (steps[next].ready()) {
            QTimer::singleShot(0, steps[next].act);
            ++next;
            clock.restart();
        } else if (clock.elapsed() > 8000) {
            failed = steps[next].what;
            next = steps.size();
            while (QWidget* m = QApplication::activeModalWidget()) {
                m->close();
                QApplication::processEvents();
                if (QApplication::activeModalWidget() == m) break;
            }
        }
    });
    driver.start();
    open();
    if (failed.empty() && next < steps.size())
        failed = std::string("not reached: ") + steps[next].what;
    return failed;
}

// The one window of that kind while it exists, else nullptr.
template <class T>
T* Opened() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w)) return t;
    return nullptr;
}
OptionsDialog* Dialog() {
    return Opened<OptionsDialog>();
}
template <class T>
T* Child(QWidget* w, const char* name) {
    return w ? w->findChild<T*>(name) : nullptr;
}
bool Shown(QWidget* w) {
    return w && w->isVisible() && QTest::qWaitForWindowExposed(w, 50);
}
bool DialogShown() {
    return Shown(Dialog());
}

class OptionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        desktop_ = std::make_unique<platform::X11Desktop>();
        main_ = std::make_unique<MainToolbar>(state, shell());
        main_->move(260, 180);
        main_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main_.get()));
        state.options = LoadOptions();
    }
    void TearDown() override {
        CloseHelpWindow();
        main_.reset();
    }
    Shell shell() {
        return {desktop_->windows(), desktop_->keyboard(), desktop_->clipboard(), messages_, help_,
                desktop_->shortcut()};
    }

    static void Store(const char* op1, const char* op2) {
        if (op1) WriteSetting(OptionKey, "Op_1", op1);
        if (op2) WriteSetting(OptionKey, "Op_2", op2);
        state.options = LoadOptions();
    }
    static std::string Op(int n) { return ReadSetting(OptionKey, "Op_" + std::to_string(n)); }
    void Open(std::vector<Step> steps) {
        const std::string failed = RunWhileModal(
            std::move(steps), [&] { OptionsDialog::ShowModal(main_.get(), state, shell()); });
        EXPECT_EQ(failed, "");
        EXPECT_EQ(Dialog(), nullptr);
    }
    static Step Click(
        const char* what, const char* button,
        QWidget* (*in)() = [] { return static_cast<QWidget*>(Dialog()); }) {
        return {
            what, [in] { return Shown(in()); },
            [in, button] { QTest::mouseClick(Child<QPushButton>(in(), button), Qt::LeftButton); }};
    }

    TempHome home_;
    std::unique_ptr<platform::X11Desktop> desktop_;
    MessageBoxes messages_;
    HelpViewer help_;
    std::unique_ptr<MainToolbar> main_;
};

TEST_F(OptionTest, LaidOutAsDesignedWithFocusAndTabOrder) {
    QStringList tabbing;
    bool checked = false;
    Open({
        {"dialog shown and active",
         [] { return DialogShown() && QApplication::activeWindow() == Dialog(); },
         [&] {
             OptionsDialog* d = Dialog();
             EXPECT_EQ(d->windowTitle(), QString::fromUtf8("Penrika for IE- 設定"));
             // Grown below the buttons for the shortcut's row.
             EXPECT_EQ(d->size(), QSize(TwipsToPxX(4170), TwipsToPxY(2250)));
             EXPECT_EQ(d->minimumSize(), d->maximumSize());
             struct Want {
                 const char* name;
                 const char* text;
                 int l, t, w, h;
             };
             for (const Want& c :
                  {Want{"cmdVersion", "ﾊﾞｰｼﾞｮﾝ情報", 164, 1200, 1200, 350},
                   Want{"cmdOK", "OK", 1485, 1200, 1200, 350},
                   Want{"chkOption1", "常に手前に表示する。", 293, 240, 3015, 255},
                   Want{"chkOption2", "フォームに記入する前に確認を取る。", 293, 600, 3135, 255},
                   Want{"cmdHelp", "ヘルプ", 2807, 1200, 1200, 350}}) {
                 SCOPED_TRACE(c.name);
                 auto* b = Child<QAbstractButton>(d, c.name);
                 ASSERT_NE(b, nullptr);
                 EXPECT_EQ(b->text(), QString::fromUtf8(c.text));
                 EXPECT_EQ(b->pos(), QPoint(TwipsToPxX(c.l), TwipsToPxY(c.t)));
                 EXPECT_EQ(b->height(), TwipsToPxY(c.h));
                 // A check box may grow so that its text is not cut off; buttons keep their size.
                 if (qobject_cast<QPushButton*>(b))
                     EXPECT_EQ(b->width(), TwipsToPxX(c.w));
                 else
                     EXPECT_GE(b->width(), TwipsToPxX(c.w));
                 EXPECT_GE(b->width(), b->sizeHint().width());
                 EXPECT_LE(b->geometry().right(), d->width());
                 if (auto* p = qobject_cast<QPushButton*>(b)) {
                     EXPECT_FALSE(p->isDefault());
                     EXPECT_FALSE(p->autoDefault());
                 }
                 EXPECT_EQ(b->font().family(), "IPAPGothic");
             }
             // The shortcut's row: its label wholly shown beside the field, both inside.
             auto* label = Child<QLabel>(d, "lblShortcut");
             auto* field = Child<QLineEdit>(d, "txtShortcut");
             ASSERT_TRUE(label && field);
             EXPECT_EQ(label->text(), QString::fromUtf8("記入のショートカット(&K)："));
             EXPECT_EQ(label->buddy(), field);
             EXPECT_GE(label->width(), label->sizeHint().width());
             EXPECT_LE(label->geometry().right(), field->x());
             EXPECT_GE(field->y(), Child<QWidget>(d, "cmdOK")->geometry().bottom());
             EXPECT_LE(field->geometry().bottom(), d->height());
             EXPECT_LE(field->geometry().right(), d->width());
             EXPECT_EQ(field->text(), "");
             EXPECT_EQ(d->focusWidget(), Child<QWidget>(d, "cmdVersion"));
             auto focused = [d]() -> QWidget* { return d->focusWidget() ? d->focusWidget() : d; };
             for (int i = 0; i < 6; ++i) {
                 QTest::keyClick(focused(), Qt::Key_Tab);
                 tabbing << focused()->objectName();
             }
             // No button is the default: Enter on a check box, and Escape, have no effect.
             Child<QWidget>(d, "chkOption1")->setFocus();
             QTest::keyClick(focused(), Qt::Key_Return);
             QTest::keyClick(focused(), Qt::Key_Enter);
             QTest::keyClick(focused(), Qt::Key_Escape);
             QTest::keyClick(d, Qt::Key_Escape);
             QApplication::processEvents();
             EXPECT_EQ(Opened<AboutDialog>(), nullptr);
             EXPECT_TRUE(d->isVisible());
             EXPECT_FALSE(Child<QCheckBox>(d, "chkOption1")->isChecked());
             checked = true;
         }},
        {"close", [&] { return checked; }, [] { Dialog()->close(); }},
    });
    EXPECT_EQ(tabbing, QStringList({"cmdOK", "chkOption1", "chkOption2", "cmdHelp", "txtShortcut",
                                    "cmdVersion"}));
    // Nothing was stored by any of it.
    EXPECT_EQ(Op(1), "0");
    EXPECT_EQ(Op(2), "0");
}

TEST_F(OptionTest, OpensOnTheToolbarCornerWithTheBoxesFromOptions) {
    Store("True", "False");
    main_->move(333, 222);
    EXPECT_SOON_EQ(main_->pos(), QPoint(333, 222));
    Open({
        {"dialog on the toolbar's corner",
         [&] {
             return DialogShown() &&
                    Dialog()->frameGeometry().topLeft() == main_->frameGeometry().topLeft();
         },
         [] {
             EXPECT_TRUE(Child<QCheckBox>(Dialog(), "chkOption1")->isChecked());
             EXPECT_FALSE(Child<QCheckBox>(Dialog(), "chkOption2")->isChecked());
         }},
        Click("close with OK", "cmdOK"),
    });
}

TEST_F(OptionTest, AlwaysOnTopPutsTheDialogInTheBand) {
    for (const char* on : {"True", "False"}) {
        SCOPED_TRACE(on);
        Store(on, nullptr);
        const bool above = std::string(on) == "True";
        Open({
            {"dialog in or out of the band",
             [&] {
                 return DialogShown() && desktop_->windows().IsTopmost(IdOf(Dialog())) == above;
             },
             [] { Dialog()->close(); }},
        });
    }
}

TEST_F(OptionTest, OkStoresBothBoxesAndReloadsOptions) {
    struct Case {
        const char* before1;
        const char* before2;
        Qt::CheckState box1, box2;
        const char* want1;
        const char* want2;
    };
    const Case cases[] = {
        {nullptr, nullptr, Qt::Checked, Qt::Checked, "True", "True"},
        {"True", "True", Qt::Unchecked, Qt::Unchecked, "False", "False"},
        {"False", "True", Qt::Checked, Qt::Unchecked, "True", "False"},
        // Grayed is not on.
        {"True", "True", Qt::PartiallyChecked, Qt::PartiallyChecked, "False", "False"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.want1) + "/" + c.want2);
        Store(c.before1, c.before2);
        Open({
            {"set the boxes", DialogShown,
             [&] {
                 Child<QCheckBox>(Dialog(), "chkOption1")->setCheckState(c.box1);
                 Child<QCheckBox>(Dialog(), "chkOption2")->setCheckState(c.box2);
             }},
            Click("OK", "cmdOK"),
        });
        EXPECT_EQ(Op(1), c.want1);
        EXPECT_EQ(Op(2), c.want2);
        EXPECT_EQ(state.options.alwaysOnTop, std::string(c.want1) == "True");
        EXPECT_EQ(state.options.confirmBeforeFill, std::string(c.want2) == "True");
        const std::string file = TempHome::ReadFile(home_.settingsFile());
        EXPECT_NE(file.find("[Option]"), std::string::npos) << file;
        EXPECT_NE(file.find(std::string("Op_1=") + c.want1), std::string::npos) << file;
        EXPECT_NE(file.find(std::string("Op_2=") + c.want2), std::string::npos) << file;
    }
}

TEST_F(OptionTest, OkWithoutAChangeStillWritesBothValues) {
    ASSERT_EQ(Op(1), "0");
    Open({Click("OK", "cmdOK")});
    EXPECT_EQ(Op(1), "False");
    EXPECT_EQ(Op(2), "False");
}

TEST_F(OptionTest, ClosingWithoutOkStoresNothing) {
    Store("True", "False");
    const std::string before = TempHome::ReadFile(home_.settingsFile());
    Open({
        {"toggle both boxes", DialogShown,
         [] {
             QTest::mouseClick(Child<QCheckBox>(Dialog(), "chkOption1"), Qt::LeftButton, {},
                               QPoint(6, 6));
             QTest::mouseClick(Child<QCheckBox>(Dialog(), "chkOption2"), Qt::LeftButton, {},
                               QPoint(6, 6));
             EXPECT_FALSE(Child<QCheckBox>(Dialog(), "chkOption1")->isChecked());
             EXPECT_TRUE(Child<QCheckBox>(Dialog(), "chkOption2")->isChecked());
         }},
        {"close box", DialogShown, [] { Dialog()->close(); }},
    });
    EXPECT_EQ(TempHome::ReadFile(home_.settingsFile()), before);
    EXPECT_TRUE(state.options.alwaysOnTop);
    EXPECT_FALSE(state.options.confirmBeforeFill);
}

// The shortcut field takes a combination as it is pressed, and OK takes it for the whole
// display (no other client can then grab it) and stores it; a combination another client
// holds is refused with a message, and then nothing is stored or given up.
TEST_F(OptionTest, TheShortcutIsPressedIntoItsFieldAndOkTakesIt) {
    // Another client of the display, holding Ctrl+Alt+J.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(other), 0);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    xcb_key_symbols_t* syms = xcb_key_symbols_alloc(other);
    auto keycode = [&](xcb_keysym_t sym) {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(syms, sym);
        const xcb_keycode_t k = codes ? codes[0] : 0;
        std::free(codes);
        return k;
    };
    auto grab = [&](xcb_keysym_t sym) {  // true when the other client got it
        xcb_generic_error_t* e = xcb_request_check(
            other, xcb_grab_key_checked(other, 1, root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1,
                                        keycode(sym), XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(e);
        return e == nullptr;
    };
    ASSERT_TRUE(grab('j'));
    auto field = [] { return Child<QLineEdit>(Dialog(), "txtShortcut"); };
    auto press = [&](int key, Qt::KeyboardModifiers mods = {}) {
        QTest::keyClick(field(), static_cast<Qt::Key>(key), mods);
        return field()->text().toStdString();
    };
    bool typed = false;
    Open({
        {"press combinations into the field", DialogShown,
         [&] {
             field()->setFocus();
             EXPECT_EQ(press(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier), "Ctrl+Alt+K");
             EXPECT_EQ(press(Qt::Key_A), "Ctrl+Alt+K") << "a key alone would fill every form";
             EXPECT_EQ(press(Qt::Key_Backspace), "");
             EXPECT_EQ(press(Qt::Key_F9), "F9");
             EXPECT_EQ(press(Qt::Key_Delete), "");
             EXPECT_EQ(press(Qt::Key_J, Qt::ControlModifier | Qt::AltModifier), "Ctrl+Alt+J");
             typed = true;
         }},
        Click("OK, with a combination another client holds", "cmdOK"),
        {"the refusal", [] { return Shown(Opened<QMessageBox>()); },
         [] {
             QMessageBox* box = Opened<QMessageBox>();
             EXPECT_EQ(box->windowTitle(), QString::fromUtf8("Penrika：エラー"));
             EXPECT_TRUE(box->text().contains(
                 QString::fromUtf8("「Ctrl+Alt+J」は、ほかのプログラムが使っている")))
                 << box->text().toStdString();
             box->buttons().front()->click();
         }},
        {"the dialog stays, the field focused",
         [] { return Shown(Dialog()) && !Opened<QMessageBox>(); },
         [&] {
             EXPECT_EQ(Dialog()->focusWidget(), field());
             EXPECT_EQ(ReadSetting(OptionKey, FillShortcutValue), "0") << "stored all the same";
             EXPECT_EQ(press(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier), "Ctrl+Alt+K");
             // Plain Tab still moves on.
             QTest::keyClick(field(), Qt::Key_Tab);
             EXPECT_EQ(Dialog()->focusWidget(), Child<QWidget>(Dialog(), "cmdVersion"));
         }},
        Click("OK", "cmdOK"),
    });
    EXPECT_TRUE(typed);
    EXPECT_EQ(ReadSetting(OptionKey, FillShortcutValue), "Ctrl+Alt+K");
    EXPECT_EQ(state.options.fillShortcut, "Ctrl+Alt+K");
    EXPECT_FALSE(grab('k')) << "the program does not hold Ctrl+Alt+K";
    // Emptied, it is given up.
    Open({{"empty the field", DialogShown,
           [&] {
               field()->setFocus();
               press(Qt::Key_Backspace);
           }},
          Click("OK", "cmdOK")});
    EXPECT_EQ(state.options.fillShortcut, "");
    EXPECT_TRUE(grab('k')) << "still held after it was emptied";
    xcb_key_symbols_free(syms);
    xcb_disconnect(other);
}

TEST_F(OptionTest, HelpOpensTopicTwelveAndTheDialogStays) {
    Open({
        Click("help", "cmdHelp"),
        {"topic 12 shown", [] { return CurrentHelpTopic() == 12; },
         [] { EXPECT_TRUE(Dialog()->isVisible()); }},
        Click("OK after help", "cmdOK"),
    });
    EXPECT_EQ(Op(1), "False");
}

QWidget* About() {
    return Opened<AboutDialog>();
}

TEST_F(OptionTest, EnterOrSpaceOnAFocusedButtonPressesItInBothWindows) {
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
        {Qt::Key_Return, {}}, {Qt::Key_Enter, Qt::KeypadModifier}, {Qt::Key_Space, {}}};
    for (const auto& [key, modifiers] : keys) {
        SCOPED_TRACE(key);
        Store("False", "False");
        CloseHelpWindow();
        auto press = [key, modifiers](QWidget* window, const char* name) {
            auto* b = Child<QPushButton>(window, name);
            b->setFocus();
            QTest::keyClick(b, key, modifiers);
        };
        Open({
            {"dialog active",
             [] { return DialogShown() && QApplication::activeWindow() == Dialog(); },
             [&] { press(Dialog(), "cmdHelp"); }},
            {"ヘルプ pressed", [] { return CurrentHelpTopic() == 12; },
             [&] {
                 for (QPushButton* b : Dialog()->findChildren<QPushButton*>())
                     EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
                 press(Dialog(), "cmdVersion");
             }},
            {"ﾊﾞｰｼﾞｮﾝ情報 pressed", [] { return Shown(About()); },
             [&] { press(About(), "cmdOK"); }},
            {"version window's OK pressed",
             [] { return About() == nullptr && Dialog()->isEnabled(); },
             [&] {
                 Child<QCheckBox>(Dialog(), "chkOption2")->setChecked(true);
                 press(Dialog(), "cmdOK");
             }},
        });
        EXPECT_EQ(Op(2), "True") << "OK stored the box";
    }
}

TEST_F(OptionTest, VersionWindowOnTheDialogCornerClosesByEnterAndEscapeThenOkWorks) {
    const QPoint moved(480, 360);
    Open({
        {"user moves the dialog", DialogShown, [&] { Dialog()->move(moved); }},
        Click("version", "cmdVersion"),
        {"version window on the dialog's corner, dialog disabled",
         [] {
             return Shown(About()) &&
                    About()->frameGeometry().topLeft() == Dialog()->frameGeometry().topLeft() &&
                    QApplication::activeWindow() == About();
         },
         [&] {
             EXPECT_EQ(Dialog()->frameGeometry().topLeft(), moved);
             EXPECT_FALSE(Dialog()->isEnabled());
             EXPECT_TRUE(About()->isEnabled());
             EXPECT_EQ(About()->focusWidget(), Child<QWidget>(About(), "cmdOK"));
             // The dialog takes no input meanwhile.
             QTest::mouseClick(Child<QPushButton>(Dialog(), "cmdOK"), Qt::LeftButton);
             EXPECT_TRUE(Dialog()->isVisible());
             QTest::keyClick(About()->focusWidget(), Qt::Key_Return);
         }},
        {"closed by Enter", [] { return About() == nullptr && Dialog()->isEnabled(); },
         [] { QTest::mouseClick(Child<QPushButton>(Dialog(), "cmdVersion"), Qt::LeftButton); }},
        {"open again", [] { return Shown(About()) && QApplication::activeWindow() == About(); },
         [] { QTest::keyClick(About()->focusWidget(), Qt::Key_Escape); }},
        {"closed by Escape", [] { return About() == nullptr && Dialog()->isEnabled(); },
         [] { Child<QCheckBox>(Dialog(), "chkOption2")->setChecked(true); }},
        Click("OK of the dialog", "cmdOK"),
    });
    EXPECT_EQ(Op(1), "False");
    EXPECT_EQ(Op(2), "True");
}

TEST_F(OptionTest, VersionWindowAsDesigned) {
    Store("True", nullptr);
    Open({
        Click("version", "cmdVersion"),
        {"version window shown", [] { return Shown(About()); },
         [this] {
             QWidget* a = About();
             EXPECT_EQ(a->windowTitle(), QString::fromUtf8("Penrika  for IE- ﾊﾞｰｼﾞｮﾝ情報"));
             EXPECT_EQ(a->size(), QSize(TwipsToPxX(4650), TwipsToPxY(2745)));
             EXPECT_TRUE(desktop_->windows().IsTopmost(IdOf(a)));
             struct Want {
                 const char* name;
                 const char* text;
                 int l, t;
                 const char* family;
                 double pt;
                 bool bold, italic;
             };
             for (const Want& w :
                  {Want{"lblTitle", "Penrika", 1800, 120, "IPAPGothic", 15.75, true, false},
                   Want{"Label3", "for Internet Explorer", 1320, 480, "IPAGothic", 9.75, false,
                        true},
                   Want{"Label1", "Version 1.1", 1830, 720, "IPAPGothic", 11.25, true, false}}) {
                 SCOPED_TRACE(w.name);
                 auto* l = Child<QLabel>(a, w.name);
                 ASSERT_NE(l, nullptr);
                 EXPECT_EQ(l->text(), w.text);
                 EXPECT_EQ(l->pos(), QPoint(TwipsToPxX(w.l), TwipsToPxY(w.t)));
                 EXPECT_EQ(l->font().family(), w.family);
                 EXPECT_DOUBLE_EQ(l->font().pointSizeF(), w.pt);
                 EXPECT_EQ(l->font().bold(), w.bold);
                 EXPECT_EQ(l->font().italic(), w.italic);
                 // The whole text fits.
                 EXPECT_GE(l->width(), l->sizeHint().width());
                 EXPECT_GE(l->height(), l->sizeHint().height());
             }
             auto* ok = Child<QPushButton>(a, "cmdOK");
             EXPECT_EQ(ok->geometry(), QRect(TwipsToPxX(2570), TwipsToPxY(2160), TwipsToPxX(1310),
                                             TwipsToPxY(345)));
             EXPECT_TRUE(ok->isDefault());
             EXPECT_EQ(ok->font().family(), "IPAPGothic");
             auto* icon = Child<QLabel>(a, "picIcon");
             EXPECT_EQ(icon->geometry(),
                       QRect(TwipsToPxX(240), TwipsToPxY(240), TwipsToPxX(480), TwipsToPxY(480)));
             EXPECT_FALSE(icon->pixmap().isNull());
             // The grey line runs across at 1920 twips, from 120 to 4512.
             const QImage img = a->grab().toImage();
             const int y = TwipsToPxY(1920);
             for (int x : {TwipsToPxX(130), TwipsToPxX(2300), TwipsToPxX(4500)})
                 EXPECT_EQ(QColor(img.pixel(x, y)), QColor(128, 128, 128)) << x;
             EXPECT_NE(QColor(img.pixel(TwipsToPxX(4600), y)), QColor(128, 128, 128));
             QTest::mouseClick(ok, Qt::LeftButton);
         }},
        {"closed", [] { return About() == nullptr; }, [] { Dialog()->close(); }},
    });
}

// Opened on the toolbar's corner (and the version window on the dialog's), both lie wholly on
// the toolbar's screen wherever the toolbar sits.
TEST_F(OptionTest, TheDialogAndTheVersionWindowLieOnTheScreenWhereverTheToolbarSits) {
    const QRect area = main_->screen()->availableGeometry();
    auto onScreen = [area](QWidget* w) {
        return Shown(w) && w->frameGeometry().height() > w->height() &&
               area.contains(w->frameGeometry());
    };
    for (const ScreenPlace& place : CornersAndEdges(main_->frameGeometry().size(), area)) {
        SCOPED_TRACE(place.name);
        main_->move(place.at);
        EXPECT_SOON_EQ(main_->frameGeometry().topLeft(), place.at);
        {
            OptionsDialog asked(main_.get(), state, shell());
            asked.Load();
            EXPECT_TRUE(area.contains(AskedFrame(&asked, main_.get())))
                << "where the dialog asks to be";
            // The version window opens over the dialog as the window manager placed it.
            asked.show();
            EXPECT_SOON(asked.frameGeometry().height() > asked.height());
            AboutDialog about(&asked, shell());
            about.Load(state.options);
            EXPECT_TRUE(area.contains(AskedFrame(&about, main_.get())))
                << "where the version window asks to be";
        }
        Open({
            {"dialog on the screen", [&] { return onScreen(Dialog()); },
             [] { QTest::mouseClick(Child<QPushButton>(Dialog(), "cmdVersion"), Qt::LeftButton); }},
            {"version window on the screen", [&] { return onScreen(About()); },
             [] { QTest::mouseClick(Child<QPushButton>(About(), "cmdOK"), Qt::LeftButton); }},
            {"version window closed", [] { return About() == nullptr && Dialog()->isEnabled(); },
             [] { QTest::mouseClick(Child<QPushButton>(Dialog(), "cmdOK"), Qt::LeftButton); }},
        });
    }
}

}  // namespace
