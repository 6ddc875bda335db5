// The entry editor's grid: a table of text cells with one fixed header row (row 0) and one
// fixed marker column (column 0), addressed as the classic flex grid is, by row and column
// counted from the fixed ones. Cells are never edited in place. Sizes are in twips.
#pragma once

#include <QTableView>
#include <functional>
#include <vector>

class FlexGridModel;

class FlexGrid : public QTableView {
    Q_OBJECT
  public:
    static constexpr int kFixedRows = 1;
    static constexpr int kFixedCols = 1;
    static constexpr int kCols = 4;
    // Sort setting: generic ascending (numbers as numbers, other keys as text).
    static constexpr int kSortGenericAscending = 1;

    explicit FlexGrid(QWidget* parent = nullptr);
    ~FlexGrid() override;

    // Number of rows, the fixed row included. Setting it drops rows at the end or appends
    // empty ones; at least the fixed row stays.
    int Rows() const;
    void SetRows(int rows);
    int Cols() const { return kCols; }

    // The current cell. Setting Row makes that row current (and visible); setting Col makes the
    // current cell a single cell in that column.
    int Row() const { return row_; }
    void SetRow(int row);
    int Col() const { return col_; }
    void SetCol(int col);

    // The current cell's text.
    QString Text() const { return TextMatrix(row_, col_); }
    void SetText(const QString& text) { SetTextMatrix(row_, col_, text); }
    // Any cell's text; out-of-range cells read as empty and are not written.
    QString TextMatrix(int row, int col) const;
    void SetTextMatrix(int row, int col, const QString& text);

    // Widths in twips; reading gives the value last set.
    int ColWidth(int col) const;
    void SetColWidth(int col, int twips);
    // Heights in twips: row 0 is the header; the data rows share one height.
    int RowHeight(int row) const;
    void SetRowHeight(int row, int twips);

    // The first non-fixed row shown at the top of the scrolled area.
    int TopRow() const;
    void SetTopRow(int row);

    // Appends a row; its cells, from column 0, are the tab-separated parts of `item`.
    void AddItem(const QString& item);
    // Removes a non-fixed row; the rows below move up. The current row keeps its number while
    // it exists (else it becomes the new last row).
    void RemoveItem(int row);
    // Sorts all non-fixed rows by the current column. Whole rows move; rows with equal keys keep
    // their order; the current row stays on the row it was on. Only the generic ascending
    // setting is known; other settings leave the rows as they are.
    void Sort(int setting);

    // With redraw off, changes are collected and the view is refreshed once it is back on:
    // loading thousands of rows costs no per-row view work.
    bool Redraw() const { return redraw_; }
    void SetRedraw(bool on);

    // Width measurement with a cache per cell: each cell is measured once by `measure`, and
    // again only after its text changed (or the measure or the grid's font changed).
    using Measure = std::function<long(const QString&)>;
    void SetMeasure(Measure measure);
    long MeasuredWidth(int row, int col) const;
    // The widest measured cell of a column over all rows, the header included.
    long WidestInColumn(int col) const;

  signals:
    // The user clicked a cell; Row is the clicked row by then.
    void Click();
    // A key moved the current row (arrows, Page keys, Home/End, typing a label's first letter).
    void RowMoved();

  protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void changeEvent(QEvent* e) override;

  private:
    void SyncCurrent();
    void ApplyDefaultRowHeight();

    FlexGridModel* model_ = nullptr;
    int row_ = 0;
    int col_ = 0;
    bool redraw_ = true;
    bool syncing_ = false;
    int colWidth_[kCols] = {};
    int headerHeight_ = 0;
    Measure measure_;
};
