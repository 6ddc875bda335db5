#include "ui/FlexGrid.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <array>

#include "core/GridSort.h"
#include "ui/WindowUtil.h"

namespace {
// Space between a cell's left edge and its text, in pixels.
constexpr int kTextMarginPx = 2;

// Draws a cell's text at a fixed small margin, never elided: a column fitted to its widest
// text then shows every text whole.
class FlexCellDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem o(option);
        initStyleOption(&o, index);
        const QString text = o.text;
        o.text.clear();
        const QWidget* w = o.widget;
        QStyle* style = w ? w->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &o, p, w);
        const QPalette::ColorGroup group =
            (o.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
        p->save();
        p->setFont(o.font);
        p->setPen(o.palette.color(group, (o.state & QStyle::State_Selected)
                                             ? QPalette::HighlightedText
                                             : QPalette::Text));
        p->drawText(o.rect.adjusted(kTextMarginPx, 0, -1, 0),
                    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        p->restore();
    }
};

// The fixed row (horizontal) and the fixed column (vertical): a set extent in pixels, text at
// the same margin as the cells.
class FlexHeader : public QHeaderView {
  public:
    FlexHeader(Qt::Orientation o, QWidget* parent) : QHeaderView(o, parent) {
        setSectionsClickable(false);
        setHighlightSections(false);
        setSectionResizeMode(QHeaderView::Fixed);
        setMinimumSectionSize(1);
        setStretchLastSection(false);
        setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    void SetExtent(int px) {
        extent_ = px;
        if (orientation() == Qt::Horizontal)
            setFixedHeight(px);
        else
            setFixedWidth(px);
        updateGeometry();
    }
    QSize sizeHint() const override {
        // The extent is set by the grid; measuring thousands of sections would only cost time.
        QSize s = QHeaderView::sizeHint();
        if (orientation() == Qt::Horizontal)
            s.setHeight(extent_);
        else
            s.setWidth(extent_);
        return s;
    }

  protected:
    void paintSection(QPainter* p, const QRect& rect, int logicalIndex) const override {
        if (!rect.isValid()) return;
        QStyleOptionHeader opt;
        initStyleOption(&opt);
        opt.rect = rect;
        opt.section = logicalIndex;
        opt.state |= QStyle::State_Raised;
        if (isEnabled()) opt.state |= QStyle::State_Enabled;
        style()->drawControl(QStyle::CE_HeaderSection, &opt, p, this);
        const QString text =
            model() ? model()->headerData(logicalIndex, orientation()).toString() : QString();
        if (text.isEmpty()) return;
        p->save();
        p->setPen(palette().color(QPalette::ButtonText));
        p->drawText(rect.adjusted(kTextMarginPx, 0, -1, 0),
                    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        p->restore();
    }

  private:
    int extent_ = 0;
};
}  // namespace

// The cells, fixed ones included: rows_[0] is the header row, column 0 the marker column. The
// view sees the non-fixed cells as its items and the fixed ones as its headers.
class FlexGridModel : public QAbstractTableModel {
  public:
    struct GridRow {
        std::array<QString, FlexGrid::kCols> text;
        // Measured width per cell in twips, -1 until measured.
        mutable std::array<long, FlexGrid::kCols> width{-1, -1, -1, -1};
    };

    explicit FlexGridModel(QObject* parent) : QAbstractTableModel(parent), rows_(2) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size()) - FlexGrid::kFixedRows;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : FlexGrid::kCols - FlexGrid::kFixedCols;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        return rows_[static_cast<size_t>(index.row() + FlexGrid::kFixedRows)]
            .text[static_cast<size_t>(index.column() + FlexGrid::kFixedCols)];
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (role != Qt::DisplayRole || section < 0) return {};
        if (o == Qt::Horizontal) {
            if (section >= columnCount()) return {};
            return rows_[0].text[static_cast<size_t>(section + FlexGrid::kFixedCols)];
        }
        if (section >= rowCount()) return {};
        return rows_[static_cast<size_t>(section + FlexGrid::kFixedRows)].text[0];
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        // Selectable and enabled, never editable.
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    int Rows() const { return static_cast<int>(rows_.size()); }
    const GridRow& At(int r) const { return rows_[static_cast<size_t>(r)]; }

    void SetCell(int r, int c, const QString& text) {
        GridRow& row = rows_[static_cast<size_t>(r)];
        row.text[static_cast<size_t>(c)] = text;
        row.width[static_cast<size_t>(c)] = -1;
        if (!live_) return;
        if (r < FlexGrid::kFixedRows) {
            if (c >= FlexGrid::kFixedCols) {
                int s = c - FlexGrid::kFixedCols;
                emit headerDataChanged(Qt::Horizontal, s, s);
            }
        } else if (c < FlexGrid::kFixedCols) {
            int s = r - FlexGrid::kFixedRows;
            emit headerDataChanged(Qt::Vertical, s, s);
        } else {
            QModelIndex i = index(r - FlexGrid::kFixedRows, c - FlexGrid::kFixedCols);
            emit dataChanged(i, i, {Qt::DisplayRole});
        }
    }

    void Resize(int rows) {
        const int old = Rows();
        if (rows == old) return;
        if (rows > old) {
            if (live_)
                beginInsertRows({}, old - FlexGrid::kFixedRows, rows - 1 - FlexGrid::kFixedRows);
            rows_.resize(static_cast<size_t>(rows));
            if (live_) endInsertRows();
        } else {
            if (live_)
                beginRemoveRows({}, rows - FlexGrid::kFixedRows, old - 1 - FlexGrid::kFixedRows);
            rows_.resize(static_cast<size_t>(rows));
            if (live_) endRemoveRows();
        }
    }

    void Append(GridRow row) {
        const int at = Rows() - FlexGrid::kFixedRows;
        if (live_) beginInsertRows({}, at, at);
        rows_.push_back(std::move(row));
        if (live_) endInsertRows();
    }

    void Remove(int r) {
        const int at = r - FlexGrid::kFixedRows;
        if (live_) beginRemoveRows({}, at, at);
        rows_.erase(rows_.begin() + r);
        if (live_) endRemoveRows();
    }

    // Puts the non-fixed rows in the order given (positions among the non-fixed rows).
    void Permute(const std::vector<std::size_t>& order) {
        if (live_) beginResetModel();
        std::vector<GridRow> sorted;
        sorted.reserve(order.size());
        for (std::size_t k : order) sorted.push_back(std::move(rows_[k + FlexGrid::kFixedRows]));
        std::move(sorted.begin(), sorted.end(), rows_.begin() + FlexGrid::kFixedRows);
        if (live_) endResetModel();
    }

    void ForgetWidths() {
        for (const GridRow& r : rows_) r.width.fill(-1);
    }

    bool Live() const { return live_; }
    void SetLive(bool on) {
        if (on == live_) return;
        if (!on) {
            beginResetModel();
            live_ = false;
        } else {
            live_ = true;
            endResetModel();
        }
    }

  private:
    std::vector<GridRow> rows_;
    bool live_ = true;
};

FlexGrid::FlexGrid(QWidget* parent) : QTableView(parent), model_(new FlexGridModel(this)) {
    setHorizontalHeader(new FlexHeader(Qt::Horizontal, this));
    setVerticalHeader(new FlexHeader(Qt::Vertical, this));
    setModel(model_);
    setItemDelegate(new FlexCellDelegate(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    ApplyDefaultRowHeight();
    SetColWidth(0, 400);
    for (int c = 1; c < kCols; ++c) SetColWidth(c, 1000);
    SetRowHeight(0, 300);
    row_ = kFixedRows;
    col_ = kFixedCols;
    SyncCurrent();
}

FlexGrid::~FlexGrid() = default;

int FlexGrid::Rows() const {
    return model_->Rows();
}

void FlexGrid::SetRows(int rows) {
    model_->Resize(std::max(rows, kFixedRows));
    row_ = std::clamp(row_, std::min(kFixedRows, Rows() - 1), Rows() - 1);
    SyncCurrent();
}

void FlexGrid::SetRow(int row) {
    if (row < 0 || row >= Rows()) return;
    row_ = row;
    SyncCurrent();
}

void FlexGrid::SetCol(int col) {
    if (col < 0 || col >= kCols) return;
    col_ = col;
    SyncCurrent();
}

QString FlexGrid::TextMatrix(int row, int col) const {
    if (row < 0 || row >= Rows() || col < 0 || col >= kCols) return {};
    return model_->At(row).text[static_cast<size_t>(col)];
}

void FlexGrid::SetTextMatrix(int row, int col, const QString& text) {
    if (row < 0 || row >= Rows() || col < 0 || col >= kCols) return;
    model_->SetCell(row, col, text);
}

int FlexGrid::ColWidth(int col) const {
    return col >= 0 && col < kCols ? colWidth_[col] : 0;
}

void FlexGrid::SetColWidth(int col, int twips) {
    if (col < 0 || col >= kCols) return;
    twips = std::max(twips, 0);
    colWidth_[col] = twips;
    const int px = TwipsToPxX(twips);
    if (col < kFixedCols) {
        static_cast<FlexHeader*>(verticalHeader())->SetExtent(px);
    } else {
        horizontalHeader()->resizeSection(col - kFixedCols, px);
    }
    updateGeometries();
}

int FlexGrid::RowHeight(int row) const {
    if (row < 0 || row >= Rows()) return 0;
    if (row < kFixedRows) return headerHeight_;
    return static_cast<int>(RoundHalfEven(PxToTwipsY(verticalHeader()->defaultSectionSize())));
}

void FlexGrid::SetRowHeight(int row, int twips) {
    if (row < 0 || row >= Rows()) return;
    twips = std::max(twips, 0);
    if (row < kFixedRows) {
        headerHeight_ = twips;
        static_cast<FlexHeader*>(horizontalHeader())->SetExtent(TwipsToPxY(twips));
    } else {
        // The data rows share one height: uniform rows keep scrolling cheap for many rows.
        verticalHeader()->setDefaultSectionSize(std::max(1, TwipsToPxY(twips)));
    }
    updateGeometries();
}

int FlexGrid::TopRow() const {
    return verticalScrollBar()->value() + kFixedRows;
}

void FlexGrid::SetTopRow(int row) {
    // The scroll range follows the rows only after the view's delayed layout; bring it up to
    // date first so that a row just added can be scrolled to.
    updateGeometries();
    verticalScrollBar()->setValue(std::max(row - kFixedRows, 0));
}

void FlexGrid::AddItem(const QString& item) {
    FlexGridModel::GridRow row;
    const QStringList parts = item.split(QLatin1Char('\t'));
    for (int c = 0; c < kCols && c < parts.size(); ++c) row.text[static_cast<size_t>(c)] = parts[c];
    model_->Append(std::move(row));
    if (row_ < kFixedRows) row_ = kFixedRows;
    SyncCurrent();
}

void FlexGrid::RemoveItem(int row) {
    if (row < kFixedRows || row >= Rows()) return;
    const int keep = row_;
    model_->Remove(row);
    row_ = std::min(keep, Rows() - 1);
    SyncCurrent();
}

void FlexGrid::Sort(int setting) {
    if (setting != kSortGenericAscending) return;
    const int n = Rows() - kFixedRows;
    if (n <= 1) return;
    std::vector<std::string> keys;
    keys.reserve(static_cast<size_t>(n));
    for (int r = kFixedRows; r < Rows(); ++r) {
        keys.push_back(model_->At(r).text[static_cast<size_t>(col_)].toStdString());
    }
    const std::vector<std::size_t> order = GenericAscendingOrder(keys);
    const int top = TopRow();
    // The current row goes with its cells, so that what was chosen stays chosen.
    if (row_ >= kFixedRows) {
        const auto at =
            std::find(order.begin(), order.end(), static_cast<size_t>(row_ - kFixedRows));
        row_ = static_cast<int>(at - order.begin()) + kFixedRows;
    }
    model_->Permute(order);
    SyncCurrent();
    SetTopRow(top);
}

void FlexGrid::SetRedraw(bool on) {
    if (on == redraw_) return;
    redraw_ = on;
    model_->SetLive(on);
    if (on) SyncCurrent();
}

void FlexGrid::SetMeasure(Measure measure) {
    measure_ = std::move(measure);
    model_->ForgetWidths();
}

long FlexGrid::MeasuredWidth(int row, int col) const {
    if (row < 0 || row >= Rows() || col < 0 || col >= kCols) return 0;
    const FlexGridModel::GridRow& r = model_->At(row);
    long& w = r.width[static_cast<size_t>(col)];
    if (w < 0) {
        const QString& text = r.text[static_cast<size_t>(col)];
        w = text.isEmpty() || !measure_ ? 0 : std::max(0L, measure_(text));
    }
    return w;
}

long FlexGrid::WidestInColumn(int col) const {
    long m = 0;
    for (int r = 0; r < Rows(); ++r) m = std::max(m, MeasuredWidth(r, col));
    return m;
}

void FlexGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (syncing_ || !current.isValid()) return;
    // The keyboard or the mouse moved the current cell.
    row_ = current.row() + kFixedRows;
    col_ = current.column() + kFixedCols;
}

void FlexGrid::mouseReleaseEvent(QMouseEvent* e) {
    QTableView::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton) emit Click();
}

void FlexGrid::keyPressEvent(QKeyEvent* e) {
    const int before = row_;
    QTableView::keyPressEvent(e);
    if (row_ != before) emit RowMoved();
}

void FlexGrid::changeEvent(QEvent* e) {
    QTableView::changeEvent(e);
    if (e->type() == QEvent::FontChange) {
        model_->ForgetWidths();
        ApplyDefaultRowHeight();
    }
}

void FlexGrid::SyncCurrent() {
    if (!redraw_ || !selectionModel()) return;
    QModelIndex idx;
    if (row_ >= kFixedRows && row_ < Rows()) {
        idx = model_->index(row_ - kFixedRows, std::max(col_, kFixedCols) - kFixedCols);
    }
    syncing_ = true;
    if (idx.isValid()) {
        selectionModel()->setCurrentIndex(
            idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        selectionModel()->clear();
    }
    syncing_ = false;
}

void FlexGrid::ApplyDefaultRowHeight() {
    // A data row is as high as a line of the grid's font with a little air, as the flex grid
    // sizes its rows.
    const int px = fontMetrics().height() + 4;
    verticalHeader()->setDefaultSectionSize(px);
}
