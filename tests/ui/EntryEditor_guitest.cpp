// The entry editor as a user meets it: a real window on a private X server, driven by clicks
// and keys, with a fake desktop recording messages, help and the topmost band.
#include "ui/EntryEditor.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>

#include <QMenu>
#include "core/AppState.h"
#include "core/EntryFile.h"
#include "core/FillCommand.h"
#include "core/Settings.h"
#include "support/FakeDesktop.h"
#include "support/GuiApp.h"
#include "support/TempHome.h"
#include "ui/FlexGrid.h"
#include "ui/MainToolbar.h"
#include "ui/Startup.h"
#include "ui/WindowUtil.h"

namespace {
// The program's entries and options, as start-up makes them.
AppState state;
}  // namespace

namespace fs = std::filesystem;

namespace {

QApplication& App() {
    return GuiApp();
}

constexpr const char* kMissing = "記入項目・記入文字の、\r\nいずれかが入力されていません。";

void SetTable(const std::vector<Entry>& rows) {
    state.entries.Resize(static_cast<std::int16_t>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) state.entries[i] = rows[i];
}

std::vector<Entry> Table() {
    return std::vector<Entry>(state.entries.begin(), state.entries.begin() + state.entries.count());
}

// Drives the modal editor once it is open, then closes it whatever happened, so that a failed
// check cannot leave the test waiting in the modal loop.
void WhenEditorOpens(std::function<void(EntryEditor*)> drive) {
    QTimer::singleShot(0, [drive] {
        EntryEditor* editor = nullptr;
        const bool open = QTest::qWaitFor(
            [&] {
                editor = qobject_cast<EntryEditor*>(QApplication::activeModalWidget());
                return editor != nullptr;
            },
            5000);
        EXPECT_TRUE(open) << "no modal editor";
        if (!open) {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* g = qobject_cast<EntryEditor*>(w)) editor = g;
            }
        }
        if (!editor) return;
        drive(editor);
        if (editor->isVisible()) editor->reject();
    });
}

class EditorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        state.options = {};
        SetTable({});
    }
    void TearDown() override { w_.reset(); }

    EntryEditor& Open(const std::vector<Entry>& rows) {
        SetTable(rows);
        w_ = std::make_unique<EntryEditor>(state, desk_.shell());
        w_->Load();
        w_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w_.get()));
        return *w_;
    }
    FlexGrid* Grid() { return w_->Grid(); }
    QLineEdit* Box(const char* name) { return w_->findChild<QLineEdit*>(name); }
    QPushButton* Button(const char* name) { return w_->findChild<QPushButton*>(name); }
    void Press(const char* name) {
        QPushButton* b = Button(name);
        ASSERT_TRUE(b && b->isEnabled()) << name;
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void Compose(const QString& label, const QString& text, const QString& memo = {}) {
        Box("txtSelection")->setText(label);
        Box("txtOutput")->setText(text);
        Box("txtMemo")->setText(memo);
    }
    void ClickRow(int row, int col = 1) {
        QModelIndex i = Grid()->model()->index(row - 1, col - 1);
        Grid()->scrollTo(i);
        QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, Grid()->visualRect(i).center());
    }
    // The grid's data rows and last row as (label, text, memo), header excluded.
    std::vector<Entry> GridRows() {
        std::vector<Entry> out;
        for (int r = 1; r < Grid()->Rows(); ++r) {
            out.push_back({S(Grid()->TextMatrix(r, 1)), S(Grid()->TextMatrix(r, 2)),
                           S(Grid()->TextMatrix(r, 3))});
        }
        return out;
    }
    std::vector<std::string> Labels() {
        std::vector<std::string> out;
        for (const Entry& e : GridRows()) out.push_back(e[0]);
        return out;
    }
    std::array<bool, 3> RevDelSort() {
        return {Button("cmdRevision")->isEnabled(), Button("cmdDelete")->isEnabled(),
                Button("cmdSort")->isEnabled()};
    }
    long MeasureTwips(const QString& s) {
        return RoundHalfEven(QFontMetricsF(Grid()->font()).horizontalAdvance(s) * TwipsPerPixelX());
    }
    std::string Setting(const char* name) { return ReadSetting(SettingKey, name); }

    TempHome home_;
    fake::FakeDesktop desk_;
    std::unique_ptr<EntryEditor> w_;
};

const Entry kEmpty = {"", "", ""};
const std::vector<Entry> kThree = {{"お名前", "山田太郎", ""},
                                   {"電話番号", "03-1234-5678", "自宅"},
                                   {"メール", "taro@example.jp", "仕事用"}};

TEST_F(EditorTest, WindowLayoutFontsAndTabOrder) {
    EntryEditor& w = Open({});
    EXPECT_EQ(w.windowTitle(), "Penrika for IE - データー編集");
    EXPECT_EQ(w.size(), QSize(TwipsToPxX(7230), TwipsToPxY(5295)));
    EXPECT_EQ(w.minimumSize(), w.maximumSize()) << "the user cannot resize it";

    struct Place {
        const char* name;
        const char* caption;
        int l, t, wd, h;
        double pt;
        bool bold;
    };
    const Place places[] = {
        {"Label4", "記入項目：", 105, 315, 1170, 225, 11.25, true},
        {"txtSelection", "", 1365, 315, 5790, 330, 9.75, false},
        {"Label3", "記入文字：", 105, 787, 1170, 225, 11.25, true},
        {"txtOutput", "", 1365, 787, 5790, 330, 9.75, false},
        {"Label2", "メモ：", 630, 1260, 540, 225, 11.25, true},
        {"txtMemo", "", 1365, 1260, 5790, 330, 9.75, false},
        {"cmdInsert", "追加", 525, 1785, 1335, 375, 9, false},
        {"cmdRevision", "修正", 2205, 1770, 1335, 375, 9, false},
        {"cmdDelete", "削除", 3885, 1770, 1335, 375, 9, false},
        {"cmdSort", "ソート", 5565, 1770, 1335, 375, 9, false},
        {"msgData", "", 105, 2310, 7050, 2325, 11.25, false},
        {"cmdOK", "OK", 3000, 4845, 1095, 375, 11.25, false},
        {"cmdCancel", "ｷｬﾝｾﾙ", 4380, 4845, 1095, 375, 11.25, false},
        {"cmdHelp", "ﾍﾙﾌﾟ", 5760, 4845, 1095, 375, 11.25, false},
    };
    for (const Place& p : places) {
        SCOPED_TRACE(p.name);
        QWidget* c = w.findChild<QWidget*>(p.name);
        ASSERT_NE(c, nullptr);
        const QPoint at = c->mapTo(&w, QPoint(0, 0));
        EXPECT_NEAR(at.x(), TwipsToPxX(p.l), 1);
        EXPECT_NEAR(at.y(), TwipsToPxY(p.t), 1);
        EXPECT_NEAR(c->width(), TwipsToPxX(p.wd), 1);
        EXPECT_NEAR(c->height(), TwipsToPxY(p.h), 1);
        EXPECT_DOUBLE_EQ(c->font().pointSizeF(), p.pt);
        EXPECT_EQ(c->font().bold(), p.bold);
        if (auto* l = qobject_cast<QLabel*>(c)) {
            EXPECT_EQ(l->text(), p.caption);
        }
        if (auto* b = qobject_cast<QPushButton*>(c)) {
            EXPECT_EQ(b->text(), p.caption);
            EXPECT_FALSE(b->autoDefault());
            EXPECT_FALSE(b->isDefault());
        }
        if (auto* l = qobject_cast<QLabel*>(c)) {
            EXPECT_LE(l->sizeHint().width(), l->width()) << "the caption would be cut";
            EXPECT_LE(QFontMetrics(l->font()).height(), l->height()) << "the caption would be cut";
        }
    }
    // Tab order: the three boxes, the four edit buttons, the grid, OK, Cancel, Help.
    const QStringList expected = {"txtSelection", "txtOutput", "txtMemo", "cmdInsert",
                                  "cmdRevision",  "cmdDelete", "cmdSort", "msgData",
                                  "cmdOK",        "cmdCancel", "cmdHelp"};
    QStringList chain;
    QWidget* c = Box("txtSelection");
    do {
        if (expected.contains(c->objectName()) && !chain.contains(c->objectName())) {
            chain << c->objectName();
        }
        c = c->nextInFocusChain();
    } while (c != Box("txtSelection"));
    EXPECT_EQ(chain, expected);
    // The focus is the active window's: wait for the window manager to activate it.
    EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_EQ(QApplication::focusWidget(), Box("txtSelection"));
}

TEST_F(EditorTest, EnterAndSpacePressOnlyTheFocusedButton) {
    EntryEditor& w = Open(kThree);
    Compose("a", "b");
    Box("txtOutput")->setFocus();
    QTest::keyClick(Box("txtOutput"), Qt::Key_Return);
    QTest::keyClick(Box("txtOutput"), Qt::Key_Escape);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(Grid()->Rows(), 5) << "Enter in a box added nothing";
    EXPECT_TRUE(desk_.msgBoxes().empty());
    // Enter or Space on the focused button runs that button.
    Button("cmdInsert")->setFocus();
    QTest::keyClick(Button("cmdInsert"), Qt::Key_Return);
    EXPECT_EQ(Grid()->Rows(), 6);
    Compose("c", "d");
    QTest::keyClick(Button("cmdInsert"), Qt::Key_Space);
    EXPECT_EQ(Grid()->Rows(), 7);
    // A held Enter presses once.
    Compose("e", "f");
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", true);
    QApplication::sendEvent(Button("cmdInsert"), &repeat);
    EXPECT_EQ(Grid()->Rows(), 7);
    Button("cmdHelp")->setFocus();
    QTest::keyClick(Button("cmdHelp"), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(desk_.helpShown(), 1);
    for (QPushButton* b : w.findChildren<QPushButton*>())
        EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
    Button("cmdCancel")->setFocus();
    QTest::keyClick(Button("cmdCancel"), Qt::Key_Return);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.result(), QDialog::Rejected);
}

TEST_F(EditorTest, AnEmptyTableOpensWithHeaderAndOneEmptyRow) {
    Open({});
    EXPECT_EQ(Grid()->Rows(), 2);
    EXPECT_EQ(Grid()->TextMatrix(0, 1), "項目");
    EXPECT_EQ(Grid()->TextMatrix(0, 2), "記入文字");
    EXPECT_EQ(Grid()->TextMatrix(0, 3), "メモ");
    EXPECT_EQ(GridRows(), std::vector<Entry>{kEmpty});
    EXPECT_EQ(RevDelSort(), (std::array<bool, 3>{false, false, false}));
    EXPECT_TRUE(Button("cmdInsert")->isEnabled());
    EXPECT_TRUE(Button("cmdOK")->isEnabled());
    EXPECT_EQ(Grid()->ColWidth(0), 400);
    EXPECT_EQ(Grid()->RowHeight(0), 350);
}

TEST_F(EditorTest, EntriesOpenInTableOrderFollowedByTheEmptyRow) {
    Open(kThree);
    EXPECT_EQ(Grid()->Rows(), 5);
    std::vector<Entry> expected = kThree;
    expected.push_back(kEmpty);
    EXPECT_EQ(GridRows(), expected);
}

TEST_F(EditorTest, AClickCopiesTheRowExactlyAndTheEmptyRowKeepsTheBoxes) {
    Open({{" 前後に空白 ", "  2  ", " m "}, {"b", "c", ""}});
    ClickRow(1, 2);
    EXPECT_EQ(Box("txtSelection")->text(), " 前後に空白 ");
    EXPECT_EQ(Box("txtOutput")->text(), "  2  ");
    EXPECT_EQ(Box("txtMemo")->text(), " m ");
    EXPECT_EQ(RevDelSort(), (std::array<bool, 3>{true, true, false}));
    ClickRow(3);
    EXPECT_EQ(RevDelSort(), (std::array<bool, 3>{false, false, false}));
    EXPECT_EQ(Box("txtSelection")->text(), " 前後に空白 ") << "the boxes keep their texts";
    EXPECT_EQ(Box("txtMemo")->text(), " m ");
}

TEST_F(EditorTest, AClickOnTheHeaderRowChoosesNoEntry) {
    Open(kThree);
    ClickRow(2);
    ASSERT_EQ(RevDelSort(), (std::array<bool, 3>{true, true, false}));
    QHeaderView* header = Grid()->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    EXPECT_EQ(RevDelSort(), (std::array<bool, 3>{false, false, false}));
    EXPECT_TRUE(Grid()->selectionModel()->selectedRows().isEmpty()) << "no entry highlighted";
    EXPECT_EQ(Box("txtSelection")->text(), "電話番号") << "the boxes keep their texts";
    // 追加 still appends after the entries.
    Press("cmdInsert");
    EXPECT_EQ(GridRows(), (std::vector<Entry>{kThree[0], kThree[1], kThree[2], kThree[1], kEmpty}));
}

// 修正 and 削除 act on the row whose text the boxes show: the boxes follow the current row
// whichever key moves it.
TEST_F(EditorTest, TheBoxesFollowTheCurrentRowWhicheverKeyMovesIt) {
    std::vector<Entry> rows;
    for (int i = 1; i <= 30; ++i) {
        const std::string n = std::to_string(i);
        rows.push_back({"項目" + n, "文字" + n, "メモ" + n});
    }
    Open(rows);
    ClickRow(1);
    Grid()->setFocus();
    auto shown = [&] {
        return Entry{S(Box("txtSelection")->text()), S(Box("txtOutput")->text()),
                     S(Box("txtMemo")->text())};
    };
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
        {Qt::Key_Down, Qt::NoModifier},     {Qt::Key_Down, Qt::NoModifier},
        {Qt::Key_Up, Qt::NoModifier},       {Qt::Key_PageDown, Qt::NoModifier},
        {Qt::Key_PageUp, Qt::NoModifier},   {Qt::Key_End, Qt::ControlModifier},
        {Qt::Key_Up, Qt::NoModifier},       {Qt::Key_Home, Qt::ControlModifier},
        {Qt::Key_PageDown, Qt::NoModifier},
    };
    for (const auto& [key, mods] : keys) {
        const int before = Grid()->Row();
        const Entry shownBefore = shown();
        QTest::keyClick(Grid(), key, mods);
        const int r = Grid()->Row();
        SCOPED_TRACE(QKeySequence(key | mods).toString().toStdString());
        ASSERT_NE(r, before) << "the key moved the current row";
        if (r == Grid()->Rows() - 1) {
            // The empty last row is no entry: the boxes keep their texts.
            EXPECT_EQ(shown(), shownBefore);
            EXPECT_EQ(RevDelSort(), (std::array<bool, 3>{false, false, false}));
            continue;
        }
        EXPECT_EQ(shown(), rows[static_cast<size_t>(r - 1)]);
        EXPECT_EQ(RevDelSort(), (std::array<bool, 3>{true, true, false}));
    }
    // 修正 writes the row the keys moved to, and only that one.
    const int revised = Grid()->Row();
    Box("txtOutput")->setText("新しい文字");
    Press("cmdRevision");
    for (int r = 1; r <= 30; ++r) {
        Entry expected = rows[static_cast<size_t>(r - 1)];
        if (r == revised) expected[1] = "新しい文字";
        EXPECT_EQ(GridRows()[static_cast<size_t>(r - 1)], expected) << "row " << r;
    }
    // 削除 removes the row shown after the keys moved on.
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_Up);
    const Entry gone = shown();
    ASSERT_EQ(gone, rows[static_cast<size_t>(revised - 2)]);
    Press("cmdDelete");
    EXPECT_EQ(Grid()->Rows(), 31);
    const std::vector<Entry> left = GridRows();
    EXPECT_EQ(std::count(left.begin(), left.end(), gone), 0);
}

TEST_F(EditorTest, TheBoxesStayWithTheirRowThroughASort) {
    Open({{"b", "2", "び"}, {"a", "1", "え"}, {"c", "3", "し"}});
    ClickRow(3);
    Press("cmdRevision");  // c written back unchanged; enables Sort
    ClickRow(1);
    ASSERT_EQ(Box("txtSelection")->text(), "b");
    Press("cmdSort");
    EXPECT_EQ(Labels(), (std::vector<std::string>{"a", "b", "c", ""}));
    EXPECT_EQ(Box("txtSelection")->text(), "b");
    Press("cmdDelete");
    EXPECT_EQ(Labels(), (std::vector<std::string>{"a", "c", ""}));
}

TEST_F(EditorTest, InsertWithoutLabelOrTextShowsTheMessageAndChangesNothing) {
    Open(kThree);
    for (auto [label, text] : {std::pair<QString, QString>{"", "山田"}, {"お名前", ""}}) {
        const size_t before = desk_.msgBoxes().size();
        Compose(label, text, "memo");
        Press("cmdInsert");
        ASSERT_EQ(desk_.msgBoxes().size(), before + 1);
        EXPECT_EQ(desk_.msgBoxes().back().prompt, kMissing);
        EXPECT_EQ(desk_.msgBoxes().back().style, 64);
        EXPECT_EQ(desk_.msgBoxes().back().title, "Penrika");
        EXPECT_EQ(Grid()->Rows(), 5);
        EXPECT_EQ(Box("txtSelection")->text(), label);
        EXPECT_EQ(Box("txtOutput")->text(), text);
        EXPECT_EQ(Box("txtMemo")->text(), "memo");
        EXPECT_FALSE(Button("cmdSort")->isEnabled());
    }
}

TEST_F(EditorTest, InsertKeepsLabelAndTextExactlyAndTrimsTheMemo) {
    Open({});
    QTest::keyClicks(Box("txtSelection"), " Address ");
    QTest::keyClicks(Box("txtOutput"), "   ");
    QTest::keyClicks(Box("txtMemo"), "  x  ");
    Press("cmdInsert");
    EXPECT_TRUE(desk_.msgBoxes().empty()) << "spaces alone are not empty";
    Compose("お名前", "山田", "　自宅　");
    Press("cmdInsert");
    Compose("お名前", "山田", "　自宅　");
    Press("cmdInsert");
    EXPECT_EQ(GridRows(), (std::vector<Entry>{{" Address ", "   ", "x"},
                                              {"お名前", "山田", "自宅"},
                                              {"お名前", "山田", "自宅"},
                                              kEmpty}))
        << "a duplicate is added all the same";
    EXPECT_EQ(Box("txtSelection")->text(), "");
    EXPECT_EQ(Box("txtOutput")->text(), "");
    EXPECT_EQ(Box("txtMemo")->text(), "");
    EXPECT_EQ(Grid()->Row(), 3) << "the new row is current";
    EXPECT_EQ(RevDelSort(), (std::array<bool, 3>{false, false, true}));
}

TEST_F(EditorTest, AnInsertIntoRowSevenOrLaterScrollsItIntoView) {
    std::vector<Entry> five;
    for (int i = 0; i < 5; ++i) five.push_back({"項目" + std::to_string(i), "x", ""});
    Open(five);
    Compose("六", "6");
    Press("cmdInsert");
    EXPECT_EQ(Grid()->TopRow(), 1) << "row 6 needs no scrolling";
    Compose("七", "7");
    Press("cmdInsert");
    EXPECT_EQ(Grid()->Rows(), 9);
    EXPECT_EQ(Grid()->TopRow(), 2);
    for (int i = 0; i < 5; ++i) {
        Compose("次", "n");
        Press("cmdInsert");
    }
    EXPECT_EQ(Grid()->TopRow(), Grid()->Rows() - 7);
    const QRect last = Grid()->visualRect(Grid()->model()->index(Grid()->Rows() - 3, 0));
    EXPECT_TRUE(Grid()->viewport()->rect().contains(last)) << "the new entry is shown whole";
}

// After 追加 the boxes are empty and show no row: 修正 and 削除 wait until one is chosen, so that
// neither acts on a row the user does not see in the boxes.
TEST_F(EditorTest, AfterAnInsertReviseAndDeleteWaitForARowToBeChosen) {
    Open(kThree);
    ClickRow(1);
    Compose("新しい", "new");
    Press("cmdInsert");
    EXPECT_EQ(RevDelSort(), (std::array<bool, 3>{false, false, true}));
    EXPECT_EQ(Grid()->Row(), 4) << "the new row is current";
    ClickRow(4);
    EXPECT_EQ(Box("txtSelection")->text(), "新しい");
    Press("cmdDelete");
    std::vector<Entry> expected = kThree;
    expected.push_back(kEmpty);
    EXPECT_EQ(GridRows(), expected);
    EXPECT_TRUE(desk_.msgBoxes().empty()) << "no confirmation";
    EXPECT_EQ(RevDelSort(), (std::array<bool, 3>{false, false, true}));
}

TEST_F(EditorTest, ReviseOverwritesTheClickedRowAndMayEmptyTheLabel) {
    Open(kThree);
    ClickRow(2);
    Compose("", "090-0000-0000", "  携帯  ");
    Press("cmdRevision");
    EXPECT_EQ(GridRows()[1], (Entry{"", "090-0000-0000", "携帯"}));
    EXPECT_EQ(RevDelSort(), (std::array<bool, 3>{false, false, true}));
    EXPECT_EQ(Box("txtOutput")->text(), "");
    EXPECT_TRUE(desk_.msgBoxes().empty());
}

TEST_F(EditorTest, ReviseOnTheEmptyLastRowWritesNothing) {
    Open(kThree);
    ClickRow(3);
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_Down);
    ASSERT_EQ(Grid()->Row(), 4);
    EXPECT_EQ(RevDelSort(), (std::array<bool, 3>{false, false, false}))
        << "the empty row is no entry to revise or delete";
    EXPECT_EQ(Box("txtSelection")->text(), "メール") << "the boxes keep their texts";
    Compose("x", "y");
    QTest::mouseClick(Button("cmdRevision"), Qt::LeftButton);
    EXPECT_EQ(GridRows().back(), kEmpty);
    EXPECT_EQ(Box("txtSelection")->text(), "x") << "what was typed is not thrown away";
    EXPECT_FALSE(Button("cmdRevision")->isEnabled());
}

TEST_F(EditorTest, SortOrdersNumbersThenTextAndEndsWithOneEmptyRow) {
    Open({{"b", "1", ""}, {"10", "2", ""}, {"a", "3", ""}, {"9", "4", ""}});
    ClickRow(1);
    Compose("b", "1");
    Press("cmdRevision");  // enables Sort
    Press("cmdSort");
    EXPECT_EQ(Labels(), (std::vector<std::string>{"9", "10", "a", "b", ""}));
    EXPECT_EQ(GridRows()[0], (Entry{"9", "4", ""})) << "whole rows move";
    EXPECT_FALSE(Button("cmdSort")->isEnabled());
    // Insert, Revise and Delete each enable it again.
    Compose("c", "5");
    Press("cmdInsert");
    EXPECT_TRUE(Button("cmdSort")->isEnabled());
}

TEST_F(EditorTest, SortKeepsEntriesWithAnEmptyLabelAndTheOrderOfEqualLabels) {
    Open({{"b", "1", ""}, {"a", "first", ""}, {"x", "2", ""}, {"a", "second", ""}});
    ClickRow(3);
    Compose("", "no label");
    Press("cmdRevision");
    ClickRow(1);  // "b": the current row goes with it through the sort
    Press("cmdSort");
    EXPECT_EQ(GridRows(), (std::vector<Entry>{{"", "no label", ""},
                                              {"a", "first", ""},
                                              {"a", "second", ""},
                                              {"b", "1", ""},
                                              kEmpty}));
    EXPECT_EQ(Grid()->TextMatrix(Grid()->Row(), 1), "b");
    Compose("B", "1");
    Press("cmdRevision");
    EXPECT_EQ(Labels(), (std::vector<std::string>{"", "a", "a", "B", ""}))
        << "Revise after Sort changed the entry that was clicked";
}

TEST_F(EditorTest, OkAfterSortStoresTheNewOrderInMemoryAndOnDisk) {
    Open({{"b", "2", "m"}, {"a", "1", ""}});
    ClickRow(1);
    Press("cmdRevision");
    Press("cmdSort");
    Press("cmdOK");
    EXPECT_FALSE(w_->isVisible());
    EXPECT_EQ(w_->result(), QDialog::Accepted);
    ASSERT_EQ(state.entries.count(), 2);
    ASSERT_EQ(state.entries.size(), 3u);
    EXPECT_EQ(Table(), (std::vector<Entry>{{"a", "1", ""}, {"b", "2", "m"}}));
    EXPECT_EQ(state.entries[2], kEmpty);
    EXPECT_EQ(Setting("Set_6"), "2");
    const std::string bytes = TempHome::ReadFile(DataFilePath());
    EXPECT_EQ(DecodeEntries(bytes, "Penrika.dat"), Table());
    EXPECT_TRUE(desk_.msgBoxes().empty());
}

TEST_F(EditorTest, CancelAndTheCloseBoxDropEverything) {
    for (bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "cancel");
        Open({{"b", "2", ""}, {"a", "1", ""}});
        ClickRow(1);
        Press("cmdDelete");
        Compose("c", "3");
        Press("cmdInsert");
        Press("cmdSort");
        if (closeBox) {
            w_->close();
        } else {
            Press("cmdCancel");
        }
        EXPECT_FALSE(w_->isVisible());
        EXPECT_EQ(w_->result(), QDialog::Rejected);
        EXPECT_EQ(Table(), (std::vector<Entry>{{"b", "2", ""}, {"a", "1", ""}}));
        EXPECT_EQ(Setting("Set_6"), "0");
        EXPECT_EQ(Setting("Set_7"), "0");
        EXPECT_FALSE(fs::exists(DataFilePath()));
    }
}

TEST_F(EditorTest, OkWithEntriesStoresTheFittedWidths) {
    Open(kThree);
    Press("cmdOK");
    for (int n = 1; n <= 3; ++n) {
        const std::string name = "Set_" + std::to_string(n + 6);
        EXPECT_EQ(Setting(name.c_str()), w_->ColumnWidths()[n]) << name;
        EXPECT_EQ(w_->ColumnWidths()[n], std::to_string(Grid()->ColWidth(n)));
    }
    EXPECT_EQ(Grid()->ColWidth(2), MeasureTwips("taro@example.jp") + 90);
}

TEST_F(EditorTest, DeletingEveryEntryAndOkLeavesAnEmptyTableAndTheStoredWidths) {
    WriteSetting(SettingKey, "Set_7", "1234");
    WriteSetting(SettingKey, "Set_6", "3");
    Open(kThree);
    for (int i = 0; i < 3; ++i) {
        ClickRow(1);
        Press("cmdDelete");
    }
    EXPECT_EQ(GridRows(), std::vector<Entry>{kEmpty});
    Press("cmdOK");
    EXPECT_EQ(state.entries.count(), 0);
    EXPECT_EQ(state.entries.rows(), std::vector<Entry>{kEmpty});
    EXPECT_EQ(Setting("Set_7"), "1234");
    EXPECT_EQ(Setting("Set_8"), "0");
    EXPECT_EQ(Setting("Set_6"), "0") << "the deletion is on disk at once";
}

TEST_F(EditorTest, ColumnsFitTheirWidestTextHeaderIncluded) {
    WriteSetting(SettingKey, "Set_8", "0");
    Open({{"とても長い項目の名前です", "a", ""}});
    EXPECT_EQ(Grid()->ColWidth(1), MeasureTwips("とても長い項目の名前です") + 90);
    EXPECT_EQ(Grid()->ColWidth(2), MeasureTwips("記入文字") + 90) << "the heading is widest";
    EXPECT_EQ(Grid()->ColWidth(3), MeasureTwips("メモ") + 90);
    EXPECT_EQ(w_->ColumnWidths()[2], std::to_string(MeasureTwips("記入文字") + 90));
    // Insert, Revise and Delete fit again.
    Compose("a", "ずっと長い記入文字がここにあります");
    Press("cmdInsert");
    EXPECT_EQ(Grid()->ColWidth(2), MeasureTwips("ずっと長い記入文字がここにあります") + 90);
    ClickRow(1);
    Compose("少し短い名前", "a");
    Press("cmdRevision");
    EXPECT_EQ(Grid()->ColWidth(1), MeasureTwips("少し短い名前") + 90);
    ClickRow(2);
    Press("cmdDelete");
    EXPECT_EQ(Grid()->ColWidth(2), MeasureTwips("記入文字") + 90);
    EXPECT_EQ(w_->ColumnWidths()[2], std::to_string(Grid()->ColWidth(2)));
}

TEST_F(EditorTest, AWidthBeyondSixteenBitsIsHeldAtTheLimit) {
    const std::string huge(4000, 'W');
    Open({{huge, "a", ""}});
    EXPECT_EQ(Grid()->ColWidth(1), 32767);
    EXPECT_EQ(w_->ColumnWidths()[1], "32767");
    Press("cmdOK");
    EXPECT_EQ(Setting("Set_7"), "32767");
    EXPECT_EQ(Table()[0][0], huge) << "the text itself is kept whole";
}

TEST_F(EditorTest, TheBoxesTakeLongTextsWhole) {
    Open({});
    const QString longText(5000, QChar(u'あ'));
    Box("txtOutput")->setText(longText);
    EXPECT_EQ(Box("txtOutput")->text(), longText);
    Box("txtSelection")->setText("a");
    Press("cmdInsert");
    EXPECT_EQ(Grid()->TextMatrix(1, 2), longText);
}

TEST_F(EditorTest, AFillTextThatCannotBeTypedIsWarnedAboutButStored) {
    Open({});
    Compose("項目", "{TAB");
    Press("cmdInsert");
    ASSERT_EQ(desk_.msgBoxes().size(), 1u);
    EXPECT_NE(desk_.msgBoxes()[0].prompt.find("記入できません"), std::string::npos);
    EXPECT_EQ(desk_.msgBoxes()[0].title, "Penrika");
    EXPECT_EQ(GridRows()[0], (Entry{"項目", "{TAB", ""})) << "stored all the same";
    ClickRow(1);
    Compose("項目", "a{NOSUCHKEY}");
    Press("cmdRevision");
    EXPECT_EQ(desk_.msgBoxes().size(), 2u);
    EXPECT_EQ(GridRows()[0][1], "a{NOSUCHKEY}");
    ClickRow(1);
    Compose("項目", "{TAB}山田");
    Press("cmdRevision");
    EXPECT_EQ(desk_.msgBoxes().size(), 2u) << "a text that can be typed is not warned about";
}

// A 記入文字 whose + ~ ( ) act as keys where a character may have been meant: the user is told
// what it types and how to write the character itself, and may store it written literally.
TEST_F(EditorTest, AFillTextThatTypesOtherThanItReadsIsOfferedWrittenLiterally) {
    Open({});
    desk_.AnswerMsgBoxes({MsgAnswerYes});
    Compose("メール", "taro+shop@example.com");
    Press("cmdInsert");
    ASSERT_EQ(desk_.msgBoxes().size(), 1u);
    const fake::MsgBoxCall offer = desk_.msgBoxes()[0];
    EXPECT_EQ(offer.style, MsgYesNoQuestion);
    EXPECT_EQ(offer.title, "Penrika");
    for (const char* part : {"taroShop@example.com", "{+}", "「taro{+}shop@example.com」"})
        EXPECT_NE(offer.prompt.find(part), std::string::npos) << part << "\n" << offer.prompt;
    EXPECT_EQ(GridRows()[0], (Entry{"メール", "taro{+}shop@example.com", ""}));

    // No keeps it as written.
    desk_.AnswerMsgBoxes({MsgAnswerNo});
    Compose("URL", "https://example.jp/~taro");
    Press("cmdInsert");
    ASSERT_EQ(desk_.msgBoxes().size(), 2u);
    EXPECT_NE(desk_.msgBoxes()[1].prompt.find("https://example.jp/［Enter］taro"),
              std::string::npos);
    EXPECT_EQ(GridRows()[1][1], "https://example.jp/~taro");

    // 修正 offers the same; the keys written in braces stay keys.
    desk_.AnswerMsgBoxes({MsgAnswerYes});
    ClickRow(2);
    Compose("電話", "{TAB}(03)1234");
    Press("cmdRevision");
    ASSERT_EQ(desk_.msgBoxes().size(), 3u);
    EXPECT_EQ(GridRows()[1], (Entry{"電話", "{TAB}{(}03{)}1234", ""}));

    // A text that types as it reads, or whose keys are all in braces, is not asked about.
    for (const char* text : {"山田太郎", "{TAB}山田{ENTER}", "{+}81 3-1234", "[x]"}) {
        Compose("x", text);
        Press("cmdInsert");
    }
    EXPECT_EQ(desk_.msgBoxes().size(), 3u);
}

TEST_F(EditorTest, ASaveThatFailsIsReportedAndTheTableStaysInMemory) {
    fs::create_directories(DataFilePath());  // a directory where the file must go
    Open(kThree);
    Compose("追加", "x");
    Press("cmdInsert");
    Press("cmdOK");
    ASSERT_EQ(desk_.msgBoxes().size(), 1u);
    EXPECT_EQ(desk_.msgBoxes()[0].style, 0);
    EXPECT_EQ(desk_.msgBoxes()[0].title, "Penrika：エラー");
    EXPECT_EQ(state.entries.count(), 4);
    EXPECT_EQ(Table().back(), (Entry{"追加", "x", ""}));
    EXPECT_FALSE(w_->isVisible());
}

TEST_F(EditorTest, NoMoreThan32767Entries) {
    std::vector<Entry> full(32767, Entry{"項目", "x", ""});
    Open(full);
    EXPECT_EQ(Grid()->Rows(), 32769);
    Compose("もう一つ", "y");
    Press("cmdInsert");
    ASSERT_EQ(desk_.msgBoxes().size(), 1u);
    EXPECT_EQ(Grid()->Rows(), 32769);
    EXPECT_EQ(Box("txtSelection")->text(), "もう一つ");
    Press("cmdOK");
    EXPECT_EQ(state.entries.count(), 32767);
}

TEST_F(EditorTest, HelpOpensTopicElevenAndTheWindowStays) {
    EntryEditor& w = Open({});
    Press("cmdHelp");
    ASSERT_FALSE(desk_.log().empty());
    EXPECT_EQ(desk_.log().back(), "help " + std::to_string(IdOf(&w)) + " 11");
    EXPECT_TRUE(w.isVisible());
}

TEST_F(EditorTest, ShowModalOpensOnTheOwnersCornerInTheBandAndReturnsWhenClosed) {
    for (bool onTop : {true, false}) {
        SCOPED_TRACE(onTop ? "AlwaysOnTop on" : "off");
        state.options.alwaysOnTop = onTop;
        QWidget owner;
        owner.setWindowTitle("owner");
        owner.resize(200, 40);
        owner.move(230, 170);
        owner.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
        QPoint editorAt;
        platform::WindowId editorId = 0;
        bool shown = false;
        WhenEditorOpens([&](EntryEditor* editor) {
            shown = QTest::qWaitForWindowExposed(editor);
            EXPECT_TRUE(QTest::qWaitFor(
                [&] {
                    return editor->frameGeometry().topLeft() == owner.frameGeometry().topLeft();
                },
                5000));
            editorAt = editor->frameGeometry().topLeft();
            editorId = IdOf(editor);
            QTest::mouseClick(editor->findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
        });
        EntryEditor::ShowModal(&owner, state, desk_.shell());
        EXPECT_TRUE(shown);
        EXPECT_EQ(editorAt, owner.frameGeometry().topLeft());
        ASSERT_FALSE(desk_.topmostCalls().empty());
        EXPECT_EQ(desk_.topmostCalls().back(), (fake::TopmostCall{editorId, onTop, false}));
    }
}

TEST_F(EditorTest, TheToolbarsGridButtonOpensItOnTheToolbarAndDropsTheToolbarAfterwards) {
    WriteSetting(OptionKey, "Op_1", "True");
    MainToolbar main(state, desk_.shell());
    main.Load();
    main.move(300, 200);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    platform::WindowId editorId = 0;
    QPoint editorAt;
    WhenEditorOpens([&](EntryEditor* editor) {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return editor->frameGeometry().topLeft() == main.frameGeometry().topLeft(); },
            5000));
        editorAt = editor->frameGeometry().topLeft();
        editorId = IdOf(editor);
        editor->findChild<QLineEdit*>("txtSelection")->setText("お名前");
        editor->findChild<QLineEdit*>("txtOutput")->setText("山田");
        QTest::mouseClick(editor->findChild<QPushButton*>("cmdInsert"), Qt::LeftButton);
        QTest::mouseClick(editor->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
    });
    main.RunCommandNamed("Grid");
    EXPECT_EQ(editorAt, main.frameGeometry().topLeft());
    EXPECT_EQ(Table(), (std::vector<Entry>{{"お名前", "山田", ""}}));
    const auto& calls = desk_.topmostCalls();
    auto applied = std::find(calls.begin(), calls.end(), fake::TopmostCall{editorId, true, false});
    ASSERT_NE(applied, calls.end()) << "the editor entered the band as its load ended";
    EXPECT_NE(std::find(applied, calls.end(), fake::TopmostCall{IdOf(&main), false, true}),
              calls.end())
        << "the toolbar left the band after the editor closed";
}

// Opened on the toolbar's corner, the editor still lies wholly on the toolbar's screen wherever
// the toolbar sits (its OK must not end up beyond the right or the bottom edge).
TEST_F(EditorTest, TheEditorLiesOnTheScreenWhereverTheToolbarSits) {
    MainToolbar main(state, desk_.shell());
    main.Load();
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    const QRect area = main.screen()->availableGeometry();
    for (const ScreenPlace& place : CornersAndEdges(main.frameGeometry().size(), area)) {
        SCOPED_TRACE(place.name);
        main.move(place.at);
        EXPECT_SOON_EQ(main.frameGeometry().topLeft(), place.at);
        {
            EntryEditor asked(state, desk_.shell(), &main);
            asked.Load();
            EXPECT_TRUE(area.contains(AskedFrame(&asked, &main))) << "where the editor asks to be";
        }
        QRect editorFrame;
        int clientHeight = 0;
        WhenEditorOpens([&](EntryEditor* editor) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(editor));
            // Framed by the window manager and settled where it was put.
            (void)QTest::qWaitFor([&] { return area.contains(editor->frameGeometry()); }, 3000);
            editorFrame = editor->frameGeometry();
            clientHeight = editor->height();
            editor->reject();
        });
        main.RunCommandNamed("Grid");
        EXPECT_TRUE(area.contains(editorFrame))
            << "editor at " << editorFrame.x() << "," << editorFrame.y() << " "
            << editorFrame.width() << "x" << editorFrame.height();
        EXPECT_GT(editorFrame.height(), clientHeight) << "measured with its frame";
    }
}

}  // namespace

// Qt's own words in the editor, as start-up installs them.

namespace {

TEST_F(EditorTest, TheBoxesContextMenuSpeaksJapanese) {
    ASSERT_TRUE(InstallQtTranslations()) << "Qt's Japanese translations are missing";
    Open({});
    std::unique_ptr<QMenu> menu(Box("txtSelection")->createStandardContextMenu());
    QStringList texts;
    for (QAction* a : menu->actions()) {
        if (!a->isSeparator()) texts << a->text();
    }
    EXPECT_TRUE(texts.filter("元に戻す").size() == 1 && texts.filter("すべてを選択").size() == 1)
        << texts.join(" | ").toStdString();
    EXPECT_TRUE(texts.filter("Undo").isEmpty() && texts.filter("Select All").isEmpty())
        << texts.join(" | ").toStdString();
}

}  // namespace
