// The help window: one page per context number, reused and brought forward on every request,
// and usable while a modal dialog of the program is open.
#include "ui/HelpViewer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <cstdlib>

#include "support/GuiApp.h"
#include "ui/Resources.h"
#include "ui/WindowUtil.h"

namespace {

QApplication& App() {
    return GuiApp();
}

QTextBrowser* Browser() {
    QWidget* w = HelpWindow();
    return w ? w->findChild<QTextBrowser*>("HelpBrowser") : nullptr;
}

// Shows `w` and waits until it is the active window. The first window of a fresh process may
// carry no user time yet and be refused the focus, so the test then asks as a pager would.
bool ShowActive(QWidget* w) {
    w->show();
    if (!QTest::qWaitForWindowExposed(w)) return false;
    w->activateWindow();
    if (QTest::qWaitForWindowActive(w, 1000)) return true;
    const std::string cmd = "xdotool windowactivate " + std::to_string(w->winId());
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (std::system(cmd.c_str()) != 0) continue;
        if (QTest::qWaitForWindowActive(w, 2000)) return true;
    }
    return false;
}

class HelpViewerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        InitResources();
        owner_ = std::make_unique<QWidget>(nullptr, Qt::Window);
        owner_->setWindowTitle("Owner");
        owner_->setGeometry(20, 40, 200, 60);
        ASSERT_TRUE(ShowActive(owner_.get()));
    }
    void TearDown() override { CloseHelpWindow(); }

    std::unique_ptr<QWidget> owner_;
};

TEST_F(HelpViewerTest, TopicOneTwiceReusesTheWindowAndBringsItForward) {
    ShowHelpWindow(IdOf(owner_.get()), 1);
    QWidget* help = HelpWindow();
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(CurrentHelpTopic(), 1);
    EXPECT_TRUE(help->windowTitle().contains(QString::fromUtf8("ツールバーと記入の流れ")))
        << help->windowTitle().toStdString();
    EXPECT_SOON_EQ(QApplication::activeWindow(), help);

    // The user goes elsewhere: another page, then the window minimised, the owner active.
    Browser()->setSource(QUrl("qrc:/help/keys.html"));
    EXPECT_EQ(CurrentHelpTopic(), 0);
    help->showMinimized();
    EXPECT_SOON_WITHIN(help->isMinimized(), 5000);
    owner_->activateWindow();
    EXPECT_SOON_EQ(QApplication::activeWindow(), owner_.get());

    ShowHelpWindow(IdOf(owner_.get()), 1);
    EXPECT_EQ(HelpWindow(), help);
    EXPECT_EQ(CurrentHelpTopic(), 1);
    EXPECT_EQ(Browser()->source(), QUrl("qrc:/help/topic1.html"));
    EXPECT_SOON_WITHIN(!help->isMinimized() && help->isVisible(), 5000);
    EXPECT_SOON_EQ(QApplication::activeWindow(), help);
    // Only one help window exists.
    int helpWindows = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        helpWindows += w->objectName() == "HelpWindow" && w->isVisible();
    EXPECT_EQ(helpWindows, 1);
}

TEST_F(HelpViewerTest, EachContextHasAPageOfItsOwn) {
    QStringList titles;
    for (int context : {1, 11, 12, 19}) {
        ShowHelpWindow(IdOf(owner_.get()), context);
        EXPECT_EQ(CurrentHelpTopic(), context);
        const QString title = Browser()->documentTitle();
        EXPECT_FALSE(title.isEmpty());
        EXPECT_FALSE(titles.contains(title)) << title.toStdString();
        EXPECT_GT(Browser()->toPlainText().size(), 100) << context;
        titles << title;
    }
    // A number without a page of its own shows the contents.
    for (int context : {0, 2, 13, 99, -1}) {
        ShowHelpWindow(IdOf(owner_.get()), context);
        EXPECT_EQ(CurrentHelpTopic(), 0) << context;
        EXPECT_EQ(Browser()->source(), QUrl("qrc:/help/index.html")) << context;
    }
}

TEST_F(HelpViewerTest, EveryLinkAndImageOfTheHelpPagesExists) {
    const QStringList pages = QDir(":/help").entryList({"*.html"});
    ASSERT_GE(pages.size(), 6);
    const QRegularExpression ref(R"re((?:href|src)="([^"#]*)(#[^"]*)?")re");
    for (const QString& page : pages) {
        QFile f(":/help/" + page);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(f.readAll());
        for (auto it = ref.globalMatch(html); it.hasNext();) {
            const QString target = it.next().captured(1);
            if (target.isEmpty()) continue;
            const QUrl url = QUrl("qrc:/help/" + page).resolved(QUrl(target));
            ASSERT_EQ(url.scheme(), "qrc") << page.toStdString() << " -> " << target.toStdString();
            EXPECT_TRUE(QFile::exists(":" + url.path()))
                << page.toStdString() << " -> " << target.toStdString();
        }
    }
    // The key notation is reachable from the editor's page, where 記入文字 is typed.
    QFile editor(":/help/topic11.html");
    ASSERT_TRUE(editor.open(QIODevice::ReadOnly));
    EXPECT_TRUE(editor.readAll().contains("keys.html"));
}

// Scrolls the help text with the real mouse wheel, as the user would, and tells whether the
// text moved. Input to a window blocked by a modal dialog is dropped.
bool WheelScrollsHelp() {
    QTextBrowser* b = Browser();
    if (!b) return false;
    // The page is laid out for the window's final size before it can scroll.
    if (!QTest::qWaitFor([&] { return b->verticalScrollBar()->maximum() > 0; }, 3000)) return false;
    b->verticalScrollBar()->setValue(0);
    const QPoint at = b->viewport()->mapToGlobal(b->viewport()->rect().center());
    const std::string cmd = "xdotool mousemove " + std::to_string(at.x()) + " " +
                            std::to_string(at.y()) + " click 5 click 5 click 5";
    if (std::system(cmd.c_str()) != 0) return false;
    return QTest::qWaitFor([&] { return b->verticalScrollBar()->value() > 0; }, 3000);
}

// Runs `body` while a modal dialog, placed away from the help window, is open.
void WhileModal(const std::function<void(QDialog&)>& body) {
    QDialog dialog;
    dialog.setWindowTitle("Modal");
    dialog.setGeometry(900, 700, 200, 100);
    bool ran = false;
    QTimer::singleShot(0, &dialog, [&] {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        body(dialog);
        ran = true;
        dialog.done(0);
    });
    dialog.exec();
    EXPECT_TRUE(ran);
}

TEST_F(HelpViewerTest, OpenedFromAModalDialogItTakesInput) {
    WhileModal([&](QDialog& dialog) {
        ShowHelpWindow(IdOf(&dialog), 12);
        QWidget* help = HelpWindow();
        ASSERT_NE(help, nullptr);
        help->setGeometry(20, 150, 500, 250);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(help));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return help->geometry() == QRect(20, 150, 500, 250); }, 3000));
        EXPECT_TRUE(WheelScrollsHelp());
    });
}

TEST_F(HelpViewerTest, OpenBeforeAModalDialogItStillTakesInput) {
    ShowHelpWindow(IdOf(owner_.get()), 1);
    QWidget* help = HelpWindow();
    ASSERT_NE(help, nullptr);
    help->setGeometry(20, 150, 500, 250);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(help));
    EXPECT_SOON_EQ(help->geometry(), QRect(20, 150, 500, 250));
    WhileModal([&](QDialog&) { EXPECT_TRUE(WheelScrollsHelp()); });
}

TEST_F(HelpViewerTest, CloseHelpWindowClosesIt) {
    CloseHelpWindow();  // nothing open: no effect
    ShowHelpWindow(IdOf(owner_.get()), 19);
    QPointer<QWidget> help = HelpWindow();
    ASSERT_TRUE(help);
    EXPECT_EQ(CurrentHelpTopic(), 19);
    CloseHelpWindow();
    EXPECT_TRUE(help.isNull());
    EXPECT_EQ(HelpWindow(), nullptr);
    EXPECT_EQ(CurrentHelpTopic(), 0);
    // It opens again afterwards.
    ShowHelpWindow(IdOf(owner_.get()), 11);
    ASSERT_NE(HelpWindow(), nullptr);
    EXPECT_EQ(CurrentHelpTopic(), 11);
}

}  // namespace
