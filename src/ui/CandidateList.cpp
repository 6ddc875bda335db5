#include "ui/CandidateList.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <memory>

#include "core/AppState.h"
#include "core/Placement.h"
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

CandidateList::CandidateList(const Shell& shell, QWidget* toolbar, const Options& options,
                             const std::vector<Candidate>& candidates,
                             std::function<void(const std::string&)> fill, platform::WindowId over)
    : QDialog(toolbar, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      shell_(shell),
      toolbar_(toolbar),
      over_(over),
      options_(options),
      candidates_(candidates),
      fill_(std::move(fill)) {
    setObjectName("CandidateList");
    setWindowTitle(QString::fromUtf8("Penrika  for IE - 記入候補"));
    setFont(PGothic(9));

    list_ = new ScrollExtentList(this);
    list_->setObjectName("List1");
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setUniformItemSizes(true);
    // Rows wider than the list scroll sideways rather than being cut short.
    list_->setTextElideMode(Qt::ElideNone);
    SetGeometryTwips(list_, 0, 0, 2430, 1500);

    cancelButton_ = new QPushButton(QString::fromUtf8("ｷｬﾝｾﾙ"), this);
    cancelButton_->setObjectName("cmdCancel");
    SetGeometryTwips(cancelButton_, 104, 1560, 1000, 330);
    helpButton_ = new QPushButton(QString::fromUtf8("ヘルプ"), this);
    helpButton_->setObjectName("cmdHelp");
    SetGeometryTwips(helpButton_, 1311, 1560, 1000, 330);
    // No default button: Enter belongs to the list, or presses the button that has the focus.
    for (QPushButton* b : {cancelButton_, helpButton_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    EnterPressesFocusedButton(this);
    setTabOrder(list_, cancelButton_);
    setTabOrder(cancelButton_, helpButton_);
    SetFixedClientTwips(this, 2415, 1995);

    connect(cancelButton_, &QPushButton::clicked, this, [this] { onCancel(); });
    connect(helpButton_, &QPushButton::clicked, this, [this] { onHelp(); });

    LayOut();

    // The keys only move the highlight, so that no row is typed on the way to another; Enter or
    // Space picks it (eventFilter). The mouse picks the row it clicks at once.
    list_->installEventFilter(this);
    connect(list_, &QListWidget::clicked, this, [this] { onPick(); });
    connect(list_, &QListWidget::doubleClicked, this, [this] { onPick(); });
    if (list_->count() > 0) list_->setCurrentRow(0);
    list_->setFocus();
}

void CandidateList::LayOut() {
    const QFont listFont = list_->font();
    const TextMeasurer& m = Measurer();
    std::vector<double> widths;
    widths.reserve(candidates_.size());
    for (const Candidate& c : candidates_) {
        const QString text = Q(c.shown);
        list_->addItem(text);
        widths.push_back(m.WidthTwips(text, listFont));
    }
    layout_ = LayoutSelectList(widths, m.HeightTwips("H", listFont), m.TwipsPerPixelX());

    const int listW = static_cast<int>(layout_.listWidth);
    const int listH = static_cast<int>(layout_.listHeight);
    SetGeometryTwips(list_, 0, 0, listW, listH);
    list_->SetHorizontalExtent(layout_.scrollExtentPx);
    SetGeometryTwips(cancelButton_, static_cast<int>(layout_.cancelLeft),
                     static_cast<int>(layout_.buttonTop), 1000, 330);
    SetGeometryTwips(helpButton_, static_cast<int>(layout_.helpLeft),
                     static_cast<int>(layout_.buttonTop), 1000, 330);
    SetFixedClientTwips(this, listW, listH + kClientBelowList);
    // On the toolbar's corner, as far as the screen allows now that the size is known.
    if (toolbar_)
        PlaceAtTopLeftOf(this, toolbar_);
    else
        PlaceInMiddleOf(this, shell_.windows, over_);

    ApplyTopmost(shell_.windows, options_, IdOf(this));
}

void CandidateList::onPick() {
    if (leaving_) return;
    const int i = list_->currentRow();
    if (i < 0 || list_->selectedItems().isEmpty()) return;
    if (static_cast<std::size_t>(i) >= candidates_.size()) return;
    leaving_ = true;
    // Where the program cannot give the keyboard back to the browser (GNOME), the desktop gives
    // it back once the list has gone: the list goes before the fill.
    if (shell_.toolbarTakesNoFocus) hide();
    if (fill_) fill_(candidates_[static_cast<std::size_t>(i)].fillText);
    LeaveToToolbar();
}

void CandidateList::onCancel() {
    if (leaving_) return;
    leaving_ = true;
    LeaveToToolbar();
}

void CandidateList::onHelp() {
    shell_.help.Open(IdOf(this), 19);
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
    if (watched != list_ || (!press && e->type() != QEvent::KeyRelease))
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
        onPick();
    return true;
}

void CandidateList::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        onCancel();
        return;
    }
    QDialog::keyPressEvent(e);
}

void CandidateList::ShowModal(const Shell& shell, QWidget* toolbar, const Options& options,
                              const std::vector<Candidate>& candidates,
                              std::function<void(const std::string&)> fill,
                              platform::WindowId over) {
    // Built afresh for every showing and gone when it returns.
    auto dlg =
        std::make_unique<CandidateList>(shell, toolbar, options, candidates, std::move(fill), over);
    dlg->exec();
}
