// The toolbar as the user sees it: its size, its six image buttons, and what each key runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QTest>
#include <QToolButton>
#include <QToolTip>

#include "core/AppState.h"
#include "support/FakeDesktop.h"
#include "support/GuiApp.h"
#include "support/TempHome.h"
#include "ui/MainToolbar.h"
#include "ui/WindowUtil.h"

namespace {

// The program's entries and options, as start-up makes them.
AppState state;

QApplication& App() {
    return GuiApp();
}

class ToolbarTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        state.options = {};
        main_ = std::make_unique<MainToolbar>(state, desk_.shell());
        main_->move(200, 150);
        main_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main_.get()));
        desk_.SetActive(IdOf(main_.get()));
    }
    // Help entries in the fake desktop's log.
    std::vector<std::string> HelpCalls() const {
        std::vector<std::string> calls;
        for (const std::string& line : desk_.log())
            if (line.rfind("help", 0) == 0) calls.push_back(line);
        return calls;
    }

    TempHome home_;
    fake::FakeDesktop desk_;
    std::unique_ptr<MainToolbar> main_;
};

TEST_F(ToolbarTest, ClientAreaIsSixButtonsWideAndFixed) {
    EXPECT_EQ(main_->windowTitle(), "Penrika");
    EXPECT_EQ(main_->size(), QSize(TwipsToPxX(2070), TwipsToPxY(390)));
    if (TwipsPerPixelX() == 15 && TwipsPerPixelY() == 15) {
        EXPECT_EQ(main_->size(), QSize(138, 26));
    }
    // The user cannot resize it.
    EXPECT_EQ(main_->minimumSize(), main_->maximumSize());
    EXPECT_FALSE(main_->windowIcon().isNull());
}

TEST_F(ToolbarTest, SixKeyedImageButtonsInOneRowWithTheirTooltips) {
    const char* keys[] = {"Write", "Grid", "Option", "Help", "Min", "Exit"};
    const char* tips[] = {"記入", "データー編集", "設定", "ヘルプ", "最小化", "終了"};
    QList<QToolButton*> all = main_->findChildren<QToolButton*>();
    ASSERT_EQ(all.size(), 6);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(keys[i]);
        QToolButton* b = main_->Button(keys[i]);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->toolTip(), QString::fromUtf8(tips[i]));
        EXPECT_TRUE(b->text().isEmpty() || b->toolButtonStyle() == Qt::ToolButtonIconOnly);
        EXPECT_EQ(b->height(), TwipsToPxY(330));
        EXPECT_LE(b->width() * 6, main_->width());
        EXPECT_GE(b->width() * 6, main_->width() - 5);
        if (TwipsPerPixelX() == 15 && TwipsPerPixelY() == 15) {
            EXPECT_EQ(b->size(), QSize(23, 22));
        }
        // Side by side from the left edge, each wholly inside the client area.
        const QPoint at = b->mapTo(main_.get(), QPoint(0, 0));
        EXPECT_EQ(at.x(), b->width() * i);
        EXPECT_GE(at.y(), 0);
        EXPECT_LE(at.y() + b->height(), main_->height());
        if (TwipsPerPixelX() == 15) {
            EXPECT_EQ(b->iconSize(), QSize(16, 16));
        }
        // The image is there and is drawn: a 16 px rendering with enough opaque pixels.
        QImage img = b->icon().pixmap(16, 16).toImage();
        ASSERT_FALSE(img.isNull());
        int opaque = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) opaque += qAlpha(img.pixel(x, y)) > 128;
        EXPECT_GE(opaque, 20);
        // A transparent background: the corners show what lies behind.
        EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);
    }
}

TEST_F(ToolbarTest, TooltipsShowOnHoverWhileAnotherWindowIsActive) {
    // The browser is the active window whenever the user reaches for the toolbar.
    QWidget browser;
    browser.setWindowTitle("ブラウザー");
    browser.setGeometry(450, 350, 200, 120);
    browser.show();
    browser.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&browser));
    QCursor::setPos(browser.mapToGlobal(QPoint(20, 20)));
    for (const auto& [key, tip] : {std::pair{"Write", "記入"}, std::pair{"Exit", "終了"}}) {
        SCOPED_TRACE(key);
        QToolButton* b = main_->Button(key);
        QTest::mouseMove(b, b->rect().center());
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return QToolTip::isVisible() && QToolTip::text() == QString::fromUtf8(tip); },
            5000));
    }
    EXPECT_FALSE(main_->isActiveWindow()) << "hovering activates nothing";
    QToolTip::hideText();
}

TEST_F(ToolbarTest, ImagesDifferFromEachOther) {
    const char* keys[] = {"Write", "Grid", "Option", "Help", "Min", "Exit"};
    std::vector<QImage> images;
    for (const char* k : keys) images.push_back(main_->Button(k)->icon().pixmap(16, 16).toImage());
    for (size_t i = 0; i < images.size(); ++i)
        for (size_t j = i + 1; j < images.size(); ++j)
            EXPECT_NE(images[i], images[j]) << keys[i] << " looks like " << keys[j];
}

TEST_F(ToolbarTest, HelpOpensTopicOneEachTime) {
    main_->RunCommandNamed("Help");
    QTest::mouseClick(main_->Button("Help"), Qt::LeftButton);
    const std::string expected = "help " + std::to_string(IdOf(main_.get())) + " 1";
    EXPECT_EQ(HelpCalls(), (std::vector<std::string>{expected, expected}));
}

TEST_F(ToolbarTest, KeysAreComparedExactly) {
    for (const char* key :
         {"help", "HELP", "Help ", " Exit", "exit", "min", "", "Quit", "Write\n"}) {
        SCOPED_TRACE(key);
        main_->RunCommandNamed(QString::fromUtf8(key));
    }
    QApplication::processEvents();
    EXPECT_TRUE(HelpCalls().empty());
    EXPECT_TRUE(desk_.msgBoxes().empty());
    EXPECT_TRUE(desk_.typeCalls().empty());
    EXPECT_TRUE(main_->isVisible());
    EXPECT_FALSE(main_->isMinimized());
}

TEST_F(ToolbarTest, MinMinimisesTheToolbar) {
    QTest::mouseClick(main_->Button("Min"), Qt::LeftButton);
    EXPECT_SOON_WITHIN(main_->isMinimized(), 5000);
    EXPECT_TRUE(HelpCalls().empty());
}

}  // namespace
