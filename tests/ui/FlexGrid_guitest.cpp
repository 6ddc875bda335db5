// The grid that stands in for the flex grid: its row model, fixed row and column, widths in
// twips, scrolling, sorting, clicks and the per-cell width cache, on real widgets.
#include "ui/FlexGrid.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "support/GuiApp.h"
#include "ui/WindowUtil.h"

namespace {

QApplication& App() {
    return GuiApp();
}

class FlexGridTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        grid_ = std::make_unique<FlexGrid>();
        grid_->resize(470, 155);
        grid_->setFont(PGothic(11.25));
        grid_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(grid_.get()));
    }
    // Fills data rows 1..n with label i in column 1, leaving one empty last row.
    void Fill(const std::vector<QString>& labels) {
        for (size_t i = 0; i < labels.size(); ++i) {
            int r = grid_->Rows() - 1;
            grid_->SetTextMatrix(r, 1, labels[i]);
            grid_->SetTextMatrix(r, 2, QString("text%1").arg(i));
            grid_->AddItem("");
        }
    }
    QPoint CellCentre(int row, int col) {
        QModelIndex i =
            grid_->model()->index(row - FlexGrid::kFixedRows, col - FlexGrid::kFixedCols);
        return grid_->visualRect(i).center();
    }
    std::unique_ptr<FlexGrid> grid_;
};

TEST_F(FlexGridTest, StartsWithHeaderAndOneEmptyRowAndKeepsFixedCellsInHeaders) {
    EXPECT_EQ(grid_->Rows(), 2);
    EXPECT_EQ(grid_->Cols(), 4);
    EXPECT_EQ(grid_->Row(), 1);
    grid_->SetTextMatrix(0, 2, "記入文字");
    EXPECT_EQ(grid_->model()->headerData(1, Qt::Horizontal).toString(), "記入文字");
    EXPECT_EQ(grid_->TextMatrix(0, 2), "記入文字");
    // The fixed row and column are drawn by the headers at their set size.
    grid_->SetRowHeight(0, 350);
    grid_->SetColWidth(0, 400);
    EXPECT_EQ(grid_->horizontalHeader()->height(), TwipsToPxY(350));
    EXPECT_EQ(grid_->verticalHeader()->width(), TwipsToPxX(400));
    EXPECT_EQ(grid_->RowHeight(0), 350);
    EXPECT_EQ(grid_->ColWidth(0), 400);
    // Out-of-range cells read empty and are not written.
    grid_->SetTextMatrix(5, 1, "x");
    EXPECT_EQ(grid_->TextMatrix(5, 1), "");
    EXPECT_EQ(grid_->Rows(), 2);
}

TEST_F(FlexGridTest, AddItemSplitsTabsAndRemoveItemMovesRowsUp) {
    grid_->AddItem("m\ta\tb\tc");
    EXPECT_EQ(grid_->Rows(), 3);
    EXPECT_EQ(grid_->TextMatrix(2, 0), "m");
    EXPECT_EQ(grid_->TextMatrix(2, 3), "c");
    Fill({"x", "y"});
    ASSERT_EQ(grid_->Rows(), 5);
    grid_->SetRow(3);
    grid_->RemoveItem(3);
    EXPECT_EQ(grid_->Rows(), 4);
    EXPECT_EQ(grid_->Row(), 3) << "the current row keeps its number";
    // Removing the last row leaves the current row on the new last one; fixed rows stay.
    grid_->RemoveItem(3);
    EXPECT_EQ(grid_->Row(), 2);
    grid_->RemoveItem(0);
    EXPECT_EQ(grid_->Rows(), 3);
}

TEST_F(FlexGridTest, ColumnWidthsReadBackInTwipsAndSizeTheColumnsInPixels) {
    grid_->SetColWidth(2, 1335);
    EXPECT_EQ(grid_->ColWidth(2), 1335);
    EXPECT_EQ(grid_->columnWidth(1), TwipsToPxX(1335));
    // Sorting and a redraw rebuild the view's rows; the widths stay as set.
    Fill({"b", "a"});
    grid_->SetCol(1);
    grid_->Sort(FlexGrid::kSortGenericAscending);
    grid_->SetRedraw(false);
    grid_->SetRedraw(true);
    EXPECT_EQ(grid_->columnWidth(1), TwipsToPxX(1335));
    grid_->SetColWidth(3, 32767);
    EXPECT_EQ(grid_->ColWidth(3), 32767);
    EXPECT_EQ(grid_->columnWidth(2), TwipsToPxX(32767));
}

TEST_F(FlexGridTest, SortIsGenericAscendingStableAndTheCurrentRowFollowsItsCells) {
    Fill({"b", "10", "a", "9", "a"});
    grid_->RemoveItem(grid_->Rows() - 1);
    grid_->SetRow(1);  // "b"
    grid_->SetCol(1);
    grid_->Sort(FlexGrid::kSortGenericAscending);
    std::vector<QString> labels, texts;
    for (int r = 1; r < grid_->Rows(); ++r) {
        labels.push_back(grid_->TextMatrix(r, 1));
        texts.push_back(grid_->TextMatrix(r, 2));
    }
    EXPECT_EQ(labels, (std::vector<QString>{"9", "10", "a", "a", "b"}));
    EXPECT_EQ(texts, (std::vector<QString>{"text3", "text1", "text2", "text4", "text0"}))
        << "whole rows move and equal labels keep their order";
    EXPECT_EQ(grid_->Row(), 5);
    EXPECT_EQ(grid_->TextMatrix(grid_->Row(), 1), "b");
    // Another setting leaves the rows alone.
    grid_->SetCol(2);
    grid_->Sort(7);
    EXPECT_EQ(grid_->TextMatrix(1, 1), "9");
}

TEST_F(FlexGridTest, AClickMakesItsRowCurrentAndRaisesClick) {
    Fill({"one", "two", "three"});
    QSignalSpy clicks(grid_.get(), &FlexGrid::Click);
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, {}, CellCentre(2, 2));
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(grid_->Row(), 2);
    EXPECT_EQ(grid_->Col(), 2);
    // Arrows move the current row without a Click.
    grid_->setFocus();
    QTest::keyClick(grid_.get(), Qt::Key_Down);
    EXPECT_EQ(grid_->Row(), 3);
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(FlexGridTest, CellsAreNeverEditedInPlace) {
    Fill({"one"});
    const QPoint p = CellCentre(1, 1);
    QTest::mouseDClick(grid_->viewport(), Qt::LeftButton, {}, p);
    grid_->setFocus();
    QTest::keyClick(grid_.get(), Qt::Key_F2);
    QTest::keyClicks(grid_.get(), "zz");
    EXPECT_TRUE(grid_->findChildren<QLineEdit*>().isEmpty()) << "an editor was opened";
    EXPECT_EQ(grid_->TextMatrix(1, 1), "one");
}

TEST_F(FlexGridTest, TopRowScrollsToARowJustAdded) {
    for (int i = 0; i < 30; ++i) Fill({QString::number(i)});
    EXPECT_EQ(grid_->TopRow(), 1);
    grid_->SetTopRow(grid_->Rows() - 7);
    EXPECT_EQ(grid_->TopRow(), grid_->Rows() - 7);
    const QModelIndex last = grid_->model()->index(grid_->Rows() - 3, 0);
    EXPECT_TRUE(grid_->viewport()->rect().intersects(grid_->visualRect(last)));
}

TEST_F(FlexGridTest, EachCellIsMeasuredOnceUntilItsTextChanges) {
    QStringList measured;
    grid_->SetMeasure([&](const QString& t) {
        measured << t;
        return static_cast<long>(t.size() * 100);
    });
    grid_->SetTextMatrix(0, 1, "項目");
    Fill({"abc", "abcdef", ""});
    EXPECT_EQ(grid_->WidestInColumn(1), 600);
    const int afterFirst = measured.size();
    EXPECT_EQ(grid_->WidestInColumn(1), 600);
    EXPECT_EQ(measured.size(), afterFirst) << "nothing measured twice";
    EXPECT_FALSE(measured.contains("")) << "an empty cell needs no measuring";
    grid_->SetTextMatrix(2, 1, "a");
    EXPECT_EQ(grid_->WidestInColumn(1), 300);
    EXPECT_EQ(measured.size(), afterFirst + 1);
    grid_->RemoveItem(1);
    EXPECT_EQ(grid_->WidestInColumn(1), 200) << "the header 項目 is the widest now";
    // A new font makes every width stale.
    grid_->setFont(PGothic(20));
    EXPECT_EQ(grid_->WidestInColumn(1), 200);
    EXPECT_GT(measured.size(), afterFirst + 1);
}

TEST_F(FlexGridTest, RedrawOffCollectsChangesAndShowsThemOnce) {
    grid_->SetRedraw(false);
    for (int i = 0; i < 1000; ++i) {
        grid_->SetTextMatrix(grid_->Rows() - 1, 1, QString::number(i));
        grid_->AddItem("");
    }
    grid_->SetRedraw(true);
    EXPECT_EQ(grid_->model()->rowCount(), 1001);
    EXPECT_EQ(grid_->model()->data(grid_->model()->index(999, 0)).toString(), "999");
    EXPECT_EQ(grid_->Row(), 1);
    EXPECT_TRUE(grid_->selectionModel()->isRowSelected(0, {}));
}

}  // namespace
