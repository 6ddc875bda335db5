#include "ui/CandidateList.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <memory>

#include "core/AppState.h"
#include "core/FillCommand.h"
#include "ui/WindowUtil.h"

namespace {
const TextMeasurer* g_measurer = nullptr;

const TextMeasurer& Measurer() {
    static const TextMeasurer real;
    return g_measurer ? *g_measurer : real;
}

// This window's frame belongs to the window manager; the client area keeps the list's width
// and the design's 495 twips below the list for the buttons.
constexpr int kClientBelowList = 495;
}  // namespace

double TextMeasurer::WidthTwips(const QString& text, const QFont& font) const {
    return PxToTwipsX(QFontMetricsF(font).horizontalAdvance(text));
}

double TextMeasurer::HeightTwips(const QString& text, const QFont& font) const {
    // A line of text, as a list row is tall: the font's height, whatever the characters.
    return PxToTwipsY(QFontMetricsF(font).height());
}

double TextMeasurer::TwipsPerPixelX() const {
    return ::TwipsPerPixelX();
}

namespace {
// Rows as wide as the scroll extent, so that the part scrolled into view is drawn.
class ExtentDelegate : public QStyledItemDelegate {
  public:
    explicit ExtentDelegate(ScrollExtentList* list) : QStyledItemDelegate(list), list_(list) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setWidth(std::max(s.width(), list_->HorizontalExtent()));
        return s;
    }

  private:
    ScrollExtentList* list_;
};
}  // namespace

ScrollExtentList::ScrollExtentList(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new ExtentDelegate(this));
}

void ScrollExtentList::SetHorizontalExtent(int px) {
    extent_ = px;
    setHorizontalScrollBarPolicy(px > 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    updateGeometries();
}

void ScrollExtentList::updateGeometries() {
    QListWidget::updateGeometries();
    if (extent_ <= 0) return;
    QScrollBar* bar = horizontalScrollBar();
    const int page = viewport()->width();
    bar->setPageStep(page);
    bar->setRange(0, std::max(0, extent_ - page));
}

void CandidateList::SetMeasurer(const TextMeasurer* measurer) {
    g_measurer = measurer;
}

CandidateList::CandidateList(QWidget* toolbar)
    : QDialog(toolbar, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), toolbar_(toolbar) {
    setObjectName("CandidateList");
    setWindowTitle(QString::fromUtf8("Penrika  for IE - 記入候補"));
    setFont(PGothic(9));

    List1_ = new ScrollExtentList(this);
    List1_->setObjectName("List1");
    List1_->setSelectionMode(QAbstractItemView::SingleSelection);
    List1_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    List1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    List1_->setUniformItemSizes(true);
    // Rows wider than the list scroll sideways rather than being cut short.
    List1_->setTextElideMode(Qt::ElideNone);
    SetGeometryTwips(List1_, 0, 0, 2430, 1500);

    cmdCancel_ = new QPushButton(QString::fromUtf8("ｷｬﾝｾﾙ"), this);
    cmdCancel_->setObjectName("cmdCancel");
    SetGeometryTwips(cmdCancel_, 104, 1560, 1000, 330);
    cmdHelp_ = new QPushButton(QString::fromUtf8("ヘルプ"), this);
    cmdHelp_->setObjectName("cmdHelp");
    SetGeometryTwips(cmdHelp_, 1311, 1560, 1000, 330);
    // No default button: Enter belongs to the list, or presses the button that has the focus.
    for (QPushButton* b : {cmdCancel_, cmdHelp_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    EnterPressesFocusedButton(this);
    setTabOrder(List1_, cmdCancel_);
    setTabOrder(cmdCancel_, cmdHelp_);
    SetFixedClientTwips(this, 2415, 1995);

    connect(cmdCancel_, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(cmdHelp_, &QPushButton::clicked, this, [this] { cmdHelp_Click(); });

    Form_Load();

    // The keys only move the highlight, so that no row is typed on the way to another; Enter or
    // Space picks it (eventFilter). The mouse picks the row it clicks at once.
    List1_->installEventFilter(this);
    connect(List1_, &QListWidget::clicked, this, [this] { List1_Click(); });
    connect(List1_, &QListWidget::doubleClicked, this, [this] { List1_Click(); });
    if (List1_->count() > 0) List1_->setCurrentRow(0);
    List1_->setFocus();
}

void CandidateList::Form_Load() {
    if (toolbar_) move(toolbar_->window()->pos());

    const QFont listFont = List1_->font();
    const TextMeasurer& m = Measurer();
    std::vector<double> widths;
    widths.reserve(Candidates[0].size());
    for (const std::string& shown : Candidates[0]) {
        const QString text = Q(shown);
        List1_->addItem(text);
        widths.push_back(m.WidthTwips(text, listFont));
    }
    layout_ = LayoutSelectList(widths, m.HeightTwips("H", listFont), m.TwipsPerPixelX());

    const int listW = static_cast<int>(layout_.listWidth);
    const int listH = static_cast<int>(layout_.listHeight);
    SetGeometryTwips(List1_, 0, 0, listW, listH);
    List1_->SetHorizontalExtent(layout_.scrollExtentPx);
    SetGeometryTwips(cmdCancel_, static_cast<int>(layout_.cancelLeft),
                     static_cast<int>(layout_.buttonTop), 1000, 330);
    SetGeometryTwips(cmdHelp_, static_cast<int>(layout_.helpLeft),
                     static_cast<int>(layout_.buttonTop), 1000, 330);
    SetFixedClientTwips(this, listW, listH + kClientBelowList);

    ApplyTopmost(IdOf(this));
}

void CandidateList::List1_Click() {
    if (leaving_) return;
    const int i = List1_->currentRow();
    if (i < 0 || List1_->selectedItems().isEmpty()) return;
    if (static_cast<std::size_t>(i) >= Candidates[1].size()) return;
    leaving_ = true;
    const std::string text = Candidates[1][static_cast<std::size_t>(i)];
    FillForm(text);
    for (auto& column : Candidates) {
        column.clear();
        column.shrink_to_fit();
    }
    LeaveToToolbar();
}

void CandidateList::cmdCancel_Click() {
    if (leaving_) return;
    leaving_ = true;
    LeaveToToolbar();
}

void CandidateList::cmdHelp_Click() {
    ShowHelp(IdOf(this), 19);
}

void CandidateList::LeaveToToolbar() {
    const QPoint here = pos();
    hide();
    done(QDialog::Accepted);
    if (toolbar_) {
        QWidget* w = toolbar_->window();
        w->move(here);
        w->show();
    }
}

bool CandidateList::eventFilter(QObject* watched, QEvent* e) {
    const bool press = e->type() == QEvent::KeyPress;
    if (watched != List1_ || (!press && e->type() != QEvent::KeyRelease))
        return QDialog::eventFilter(watched, e);
    const auto* k = static_cast<QKeyEvent*>(e);
    const int key = k->key();
    const bool plain = (k->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (!plain || (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Space))
        return QDialog::eventFilter(watched, e);
    // Picked when the key comes up, so that no held key goes on into the browser with the text
    // (a repeating Enter there would send the form).
    if (k->isAutoRepeat()) return true;
    if (press)
        pickKey_ = key;
    else if (key == pickKey_)
        List1_Click();
    return true;
}

void CandidateList::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        cmdCancel_Click();
        return;
    }
    QDialog::keyPressEvent(e);
}

void CandidateList::ShowModal(QWidget* toolbar) {
    // Built afresh for every showing and gone when it returns.
    auto dlg = std::make_unique<CandidateList>(toolbar);
    dlg->exec();
}
