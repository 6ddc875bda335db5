// The candidate list as a user meets it: a real window on a private X server, with a fake
// desktop recording what would have been typed into the browser.
#include "ui/CandidateList.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <map>
#include <memory>

#include "core/AppState.h"
#include "core/FillCommand.h"
#include "support/FakeDesktop.h"
#include "support/GuiApp.h"
#include "ui/WindowUtil.h"

namespace {

// The program's entries and options, as start-up makes them.
AppState state;

QApplication& App() {
    return GuiApp();
}

// Returns chosen widths instead of measuring, and records what it was asked.
class ChosenWidths : public TextMeasurer {
  public:
    std::map<QString, double> widths;
    double line = 240;
    mutable QStringList measured;
    double WidthTwips(const QString& t, const QFont&) const override {
        measured << t;
        auto it = widths.find(t);
        return it == widths.end() ? 0 : it->second;
    }
    double HeightTwips(const QString& t, const QFont&) const override {
        return t == "H" ? line : 99999;
    }
    double TwipsPerPixelX() const override { return 15; }
};

// What the Write command found and hands to the list.
std::vector<Candidate> candidates;

void SetCandidates(const std::vector<std::pair<std::string, std::string>>& pairs) {
    candidates.clear();
    for (const auto& [shown, fill] : pairs) candidates.push_back({shown, fill});
}

class SelectListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        state.options = {};
        browser_ = desk_.AddWindow({.caption = "お申込み - Chromium"});
        toolbar_ = std::make_unique<QWidget>(nullptr, Qt::Window);
        toolbar_->setWindowTitle("Penrika");
        toolbar_->resize(138, 26);
        toolbar_->move(300, 200);
        toolbar_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(toolbar_.get()));
        EXPECT_SOON_EQ(toolbar_->pos(), QPoint(300, 200));
    }
    void TearDown() override {
        CandidateList::SetMeasurer(nullptr);
        candidates.clear();
    }

    // The fill road the toolbar hands the list, into the fake browser.
    std::function<void(const std::string&)> Fill() {
        return [this](const std::string& text) {
            FillCommand road(desk_.Parts(), state, desk_.RoadToolbar(IdOf(toolbar_.get())));
            road.SetBrowser({browser_, "お申込み - Chromium", false});
            road.FillForm(text);
        };
    }

    // Opens the window as the Write command does, but without blocking the test.
    std::unique_ptr<CandidateList> Open() {
        auto dlg = std::make_unique<CandidateList>(desk_.shell(), toolbar_.get(), state.options,
                                                   candidates, Fill());
        dlg->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        return dlg;
    }

    fake::FakeDesktop desk_;
    platform::WindowId browser_ = 0;
    std::unique_ptr<QWidget> toolbar_;
};

TEST_F(SelectListTest, OpensOnTheToolbarWithTheCandidatesInOrder) {
    SetCandidates({{"自宅", "03-1111-2222"}, {"携帯", "090-3333-4444"}, {"", "x"}});
    auto dlg = Open();
    EXPECT_EQ(dlg->windowTitle(), QString::fromUtf8("Penrika  for IE - 記入候補"));
    EXPECT_SOON_EQ(dlg->pos(), QPoint(300, 200));
    ASSERT_EQ(dlg->List()->count(), 3);
    EXPECT_EQ(dlg->List()->item(0)->text(), QString::fromUtf8("自宅"));
    EXPECT_EQ(dlg->List()->item(1)->text(), QString::fromUtf8("携帯"));
    EXPECT_EQ(dlg->List()->item(2)->text(), QString());
    // The first row is highlighted, ready for Enter; nothing is typed before a pick.
    EXPECT_EQ(dlg->List()->currentRow(), 0);
    EXPECT_EQ(dlg->List()->selectedItems(), QList<QListWidgetItem*>{dlg->List()->item(0)});
    EXPECT_EQ(dlg->CancelButton()->text(), QString::fromUtf8("ｷｬﾝｾﾙ"));
    EXPECT_EQ(dlg->HelpButton()->text(), QString::fromUtf8("ヘルプ"));
    EXPECT_SOON(dlg->List()->hasFocus());
    // The window goes into (or stays out of) the band as the option says, without showing.
    ASSERT_FALSE(desk_.topmostCalls().empty());
    EXPECT_EQ(desk_.topmostCalls().back(), (fake::TopmostCall{IdOf(dlg.get()), false, false}));
    EXPECT_TRUE(desk_.typeCalls().empty());
}

TEST_F(SelectListTest, LayoutFollowsTheMeasuredWidths) {
    ChosenWidths m;
    CandidateList::SetMeasurer(&m);
    struct Case {
        double widest;
        int listWidth;
        int extent;
    } cases[] = {
        {1000, 2430, 0}, {2279, 2430, 0}, {2280, 2780, 0}, {3850, 4350, 0}, {3851, 4000, 267}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.widest);
        m.widths = {{"短い", 10}, {"長い", c.widest}};
        m.measured.clear();
        SetCandidates({{"短い", "a"}, {"長い", "b"}});
        auto dlg = Open();
        EXPECT_EQ(m.measured, (QStringList{"短い", "長い"}));
        EXPECT_EQ(dlg->Layout().listWidth, c.listWidth);
        EXPECT_EQ(dlg->List()->width(), TwipsToPxX(c.listWidth));
        EXPECT_EQ(dlg->Layout().scrollExtentPx, c.extent);
        const int listH = c.extent ? 960 : 760;
        EXPECT_EQ(dlg->List()->height(), TwipsToPxY(listH));
        EXPECT_EQ(dlg->CancelButton()->x(), TwipsToPxX(c.listWidth + 70 - 2396));
        EXPECT_EQ(dlg->HelpButton()->x(), TwipsToPxX(c.listWidth + 70 - 1189));
        EXPECT_EQ(dlg->CancelButton()->y(), TwipsToPxY(listH + 100));
        // Buttons lie inside the window.
        EXPECT_LE(dlg->HelpButton()->geometry().right(), dlg->width());
        EXPECT_LE(dlg->HelpButton()->geometry().bottom(), dlg->height());
        QScrollBar* bar = dlg->List()->horizontalScrollBar();
        if (c.extent) {
            EXPECT_SOON(bar->isVisible());
            EXPECT_EQ(bar->maximum() + dlg->List()->viewport()->width(), c.extent);
            // The rows reach the end of the range, so what scrolls into view is drawn.
            EXPECT_GE(dlg->List()->visualItemRect(dlg->List()->item(1)).width(), c.extent);
        } else {
            EXPECT_FALSE(bar->isVisible());
        }
    }
}

TEST_F(SelectListTest, ManyCandidatesCapTheListHeight) {
    ChosenWidths m;
    CandidateList::SetMeasurer(&m);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 0; i < 12; ++i) pairs.push_back({"候補" + std::to_string(i), "x"});
    SetCandidates(pairs);
    EXPECT_EQ(Open()->Layout().listHeight, 3040);
    pairs.resize(11);
    SetCandidates(pairs);
    EXPECT_EQ(Open()->Layout().listHeight, 2920);
    // Thousands of rows and a very wide text still open a window of ordinary size.
    pairs.clear();
    for (int i = 0; i < 5000; ++i) pairs.push_back({std::string(i == 7 ? 3000 : 3, 'w'), "x"});
    SetCandidates(pairs);
    CandidateList::SetMeasurer(nullptr);
    auto dlg = Open();
    EXPECT_EQ(dlg->List()->count(), 5000);
    EXPECT_EQ(dlg->Layout().listWidth, 4000);
    EXPECT_EQ(dlg->Layout().listHeight, 3040);
    EXPECT_GT(dlg->Layout().scrollExtentPx, dlg->List()->width());
    EXPECT_LT(dlg->height(), TwipsToPxY(4000));
}

TEST_F(SelectListTest, EnterPicksTheFirstRowAndTheToolbarTakesTheListsPlace) {
    SetCandidates({{"自宅", "03-1111-2222"}, {"携帯", "090-3333-4444"}});
    auto dlg = Open();
    dlg->move(520, 410);
    EXPECT_SOON_EQ(dlg->pos(), QPoint(520, 410));
    toolbar_->hide();
    QTest::keyClick(dlg->List(), Qt::Key_Return);
    EXPECT_EQ(desk_.TypedText(browser_), "{TAB}03-1111-2222");
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_SOON(toolbar_->isVisible());
    EXPECT_SOON_EQ(toolbar_->pos(), QPoint(520, 410));
}

TEST_F(SelectListTest, KeysMoveOnlyTheHighlightUntilEnterOrSpacePicksByIndex) {
    struct Case {
        const char* what;
        std::vector<std::pair<Qt::Key, QString>> moves;
        Qt::Key pick;
        int row;
    } cases[] = {
        {"Down Down Enter", {{Qt::Key_Down, {}}, {Qt::Key_Down, {}}}, Qt::Key_Return, 2},
        {"Up stays on the first row", {{Qt::Key_Up, {}}, {Qt::Key_Up, {}}}, Qt::Key_Return, 0},
        {"End Home Down Space",
         {{Qt::Key_End, {}}, {Qt::Key_Home, {}}, {Qt::Key_Down, {}}},
         Qt::Key_Space,
         1},
        {"Page Down, keypad Enter", {{Qt::Key_PageDown, {}}}, Qt::Key_Enter, 3},
        {"a letter", {{Qt::Key_F, "f"}}, Qt::Key_Return, 3},
        {"Page Up from the last", {{Qt::Key_End, {}}, {Qt::Key_PageUp, {}}}, Qt::Key_Return, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Equal display texts: the row index, not the text, decides what is typed.
        SetCandidates({{"電話", "03-1111-2222"},
                       {"電話", "090-3333-4444"},
                       {"携帯", "080-5555-6666"},
                       {"FAX", "03-7777-8888"}});
        const std::string before = desk_.TypedText(browser_);
        auto dlg = Open();
        QListWidget* list = dlg->List();
        for (const auto& [key, text] : c.moves) {
            if (text.isEmpty())
                QTest::keyClick(list, key);
            else
                QTest::keyClicks(list, text);
        }
        EXPECT_EQ(desk_.TypedText(browser_), before) << "moving types nothing";
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_EQ(list->currentRow(), c.row);
        EXPECT_EQ(list->selectedItems(), QList<QListWidgetItem*>{list->item(c.row)});
        QTest::keyClick(list, c.pick,
                        c.pick == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        const char* texts[] = {"03-1111-2222", "090-3333-4444", "080-5555-6666", "03-7777-8888"};
        EXPECT_EQ(desk_.TypedText(browser_), before + "{TAB}" + texts[c.row]);
        EXPECT_FALSE(dlg->isVisible());
    }
}

TEST_F(SelectListTest, MouseClickPicksThatRow) {
    SetCandidates({{"一", "one"}, {"二", "two"}, {"三", "three"}});
    auto dlg = Open();
    QListWidget* list = dlg->List();
    const QRect r = list->visualItemRect(list->item(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_EQ(desk_.TypedText(browser_), "{TAB}three");
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(desk_.typeCalls().size(), 2u) << "one pick types once";

    // A double-click on a row not highlighted picks that row, once.
    SetCandidates({{"一", "one"}, {"二", "two"}, {"三", "three"}});
    dlg = Open();
    list = dlg->List();
    const QPoint second = list->visualItemRect(list->item(1)).center();
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, second);
    EXPECT_EQ(desk_.TypedText(browser_), "{TAB}three{TAB}two");
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(SelectListTest, DecliningTheConfirmationStillClosesAndErases) {
    state.options.confirmBeforeFill = true;
    desk_.AnswerMsgBoxes({MsgAnswerCancel});
    SetCandidates({{"a", "A"}, {"b", "B"}});
    auto dlg = Open();
    QTest::keyClick(dlg->List(), Qt::Key_Down);
    EXPECT_TRUE(desk_.msgBoxes().empty()) << "moving the highlight asks nothing";
    QTest::keyClick(dlg->List(), Qt::Key_Return);
    ASSERT_EQ(desk_.msgBoxes().size(), 1u);
    EXPECT_EQ(desk_.msgBoxes()[0].prompt, "[ B ]をフォームに記入します。");
    EXPECT_TRUE(desk_.typeCalls().empty());
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(SelectListTest, CancelAndEscapeTypeNothing) {
    for (bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Escape" : "ｷｬﾝｾﾙ");
        SetCandidates({{"a", "A"}, {"b", "B"}});
        toolbar_->move(300, 200);
        EXPECT_SOON_EQ(toolbar_->pos(), QPoint(300, 200));
        auto dlg = Open();
        dlg->move(640, 480);
        EXPECT_SOON_EQ(dlg->pos(), QPoint(640, 480));
        toolbar_->showMinimized();
        if (escape)
            QTest::keyClick(dlg->List(), Qt::Key_Escape);
        else
            QTest::mouseClick(dlg->CancelButton(), Qt::LeftButton);
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_TRUE(desk_.typeCalls().empty());
        EXPECT_SOON_EQ(toolbar_->pos(), QPoint(640, 480));
        EXPECT_TRUE(toolbar_->isVisible());
        toolbar_->showNormal();
    }
}

TEST_F(SelectListTest, EnterOrSpaceOnAFocusedButtonPressesIt) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
        SCOPED_TRACE(key == Qt::Key_Return ? "Enter" : "Space");
        SetCandidates({{"a", "A"}, {"b", "B"}});
        const int helpBefore = desk_.helpShown();
        auto dlg = Open();
        dlg->HelpButton()->setFocus();
        QTest::keyClick(dlg->HelpButton(), key);
        EXPECT_EQ(desk_.helpShown(), helpBefore + 1);
        EXPECT_EQ(desk_.log().back(), "help " + std::to_string(IdOf(dlg.get())) + " 19");
        EXPECT_TRUE(dlg->isVisible());
        // Neither button became the default on the way.
        EXPECT_FALSE(dlg->HelpButton()->isDefault());
        EXPECT_FALSE(dlg->CancelButton()->isDefault());
        dlg->CancelButton()->setFocus();
        QTest::keyClick(dlg->CancelButton(), key);
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_TRUE(desk_.typeCalls().empty());
    }
}

TEST_F(SelectListTest, ClosingTheWindowOtherwiseChangesNothing) {
    SetCandidates({{"a", "A"}, {"b", "B"}});
    toolbar_->hide();
    bool closed = false;
    // The modal road: the window closes through the window manager while exec() runs.
    QTimer::singleShot(0, [&] {
        EXPECT_SOON(qobject_cast<CandidateList*>(QApplication::activeModalWidget()));
        auto* dlg = qobject_cast<CandidateList*>(QApplication::activeModalWidget());
        dlg->move(700, 500);
        EXPECT_SOON_EQ(dlg->pos(), QPoint(700, 500));
        closed = dlg->close();
    });
    CandidateList::ShowModal(desk_.shell(), toolbar_.get(), state.options, candidates, Fill());
    EXPECT_TRUE(closed);
    EXPECT_TRUE(desk_.typeCalls().empty());
    EXPECT_FALSE(toolbar_->isVisible());
    EXPECT_EQ(toolbar_->pos(), QPoint(300, 200));
    EXPECT_TRUE(toolbar_->findChildren<CandidateList*>().isEmpty()) << "unloaded after closing";
}

// Opened on the toolbar's corner, the list still lies wholly on the toolbar's screen wherever
// the toolbar sits; the toolbar that takes its place afterwards does too.
TEST_F(SelectListTest, TheListLiesOnTheScreenWhereverTheToolbarSits) {
    std::vector<std::pair<std::string, std::string>> many;
    for (int i = 0; i < 14; ++i) many.push_back({"候補の表示 " + std::to_string(i), "x"});
    SetCandidates(many);
    const QRect area = toolbar_->screen()->availableGeometry();
    for (const ScreenPlace& place : CornersAndEdges(toolbar_->frameGeometry().size(), area)) {
        SCOPED_TRACE(place.name);
        toolbar_->move(place.at);
        EXPECT_SOON_EQ(toolbar_->frameGeometry().topLeft(), place.at);
        {
            CandidateList asked(desk_.shell(), toolbar_.get(), state.options, candidates, Fill());
            EXPECT_TRUE(area.contains(AskedFrame(&asked, toolbar_.get())))
                << "where the list asks to be";
        }
        auto dlg = Open();
        EXPECT_SOON(area.contains(dlg->frameGeometry()));
        EXPECT_GT(dlg->frameGeometry().height(), dlg->height()) << "measured with its frame";
        QTest::keyClick(dlg->List(), Qt::Key_Escape);
        EXPECT_SOON(area.contains(toolbar_->frameGeometry()));
    }
}

}  // namespace
