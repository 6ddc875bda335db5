#include "ui/EntryEditor.h"

#include <QFontMetricsF>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <algorithm>
#include <climits>

#include "core/AppState.h"
#include "core/EntryFile.h"
#include "core/GridText.h"
#include "core/KeyNotation.h"
#include "core/Placement.h"
#include "core/Settings.h"
#include "core/Titles.h"
#include "ui/FlexGrid.h"
#include "ui/WindowUtil.h"

namespace {
constexpr const char* kCaption = "Penrika for IE - データー編集";
constexpr const char* kMsgMissing = "記入項目・記入文字の、\r\nいずれかが入力されていません。";
constexpr const char* kMsgFull = "登録できるのは 32767 件までです。\r\nこれ以上は追加できません。";
constexpr const char* kMsgNotSaved =
    "\r\n登録内容はメモリーに残っています。終了するときに、もう一度保存します。";

// The stored width settings of the three data columns and their defaults.
constexpr const char* kWidthNames[4] = {"", "Set_7", "Set_8", "Set_9"};
constexpr const char* kWidthDefaults[4] = {"", "1000", "2000", "1000"};
constexpr const char* kHeadings[4] = {"", "項目", "記入文字", "メモ"};

// The frame that carries the labels and edit buttons starts above the client area.
constexpr int kFrameLeft = 0, kFrameTop = -105;

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption) {
    auto* l = new QLabel(QString::fromUtf8(caption), parent);
    l->setObjectName(name);
    l->setFont(PGothic(11.25, true));
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

QLineEdit* MakeTextBox(QWidget* parent, const char* name) {
    auto* t = new QLineEdit(parent);
    t->setObjectName(name);
    t->setFont(PGothic(9.75));
    // No limit: whatever the user types or pastes is kept whole.
    t->setMaxLength(INT_MAX);
    return t;
}


// Places a child of Frame1 by its position in the window's client area.
void PlaceInFrame(QWidget* w, int left, int top, int width, int height) {
    SetGeometryTwips(w, left - kFrameLeft, top - kFrameTop, width, height);
}
}  // namespace

void EntryEditor::ShowModal(QWidget* owner, AppState& state, const Shell& shell) {
    EntryEditor w(state, shell, owner);
    w.Load();
    w.exec();
}

EntryEditor::EntryEditor(AppState& state, const Shell& shell, QWidget* owner)
    : QDialog(owner, kFixedDialogFlags | Qt::WindowSystemMenuHint), state_(state), shell_(shell) {
    BuildControls();
}

EntryEditor::~EntryEditor() = default;

void EntryEditor::BuildControls() {
    setObjectName("EntryEditor");
    setWindowTitle(QString::fromUtf8(kCaption));
    setFont(PGothic(11.25));
    setSizeGripEnabled(false);
    SetFixedClientTwips(this, 7230, 5295);

    frame_ = new QFrame(this);
    frame_->setObjectName("Frame1");
    frame_->setFrameShape(QFrame::Box);
    frame_->setFrameShadow(QFrame::Sunken);
    SetGeometryTwips(frame_, kFrameLeft, kFrameTop, 7215, 4845);

    itemLabel_ = MakeLabel(frame_, "Label4", "記入項目：");
    PlaceInFrame(itemLabel_, 105, 315, 1170, 225);
    itemEdit_ = MakeTextBox(this, "txtSelection");
    SetGeometryTwips(itemEdit_, 1365, 315, 5790, 330);
    fillTextLabel_ = MakeLabel(frame_, "Label3", "記入文字：");
    PlaceInFrame(fillTextLabel_, 105, 787, 1170, 225);
    fillTextEdit_ = MakeTextBox(this, "txtOutput");
    SetGeometryTwips(fillTextEdit_, 1365, 787, 5790, 330);
    memoLabel_ = MakeLabel(frame_, "Label2", "メモ：");
    PlaceInFrame(memoLabel_, 630, 1260, 540, 225);
    memoEdit_ = MakeTextBox(this, "txtMemo");
    SetGeometryTwips(memoEdit_, 1365, 1260, 5790, 330);

    // The design's label boxes are a pixel short for this font's line; let no caption be cut.
    for (QLabel* l : {itemLabel_, fillTextLabel_, memoLabel_}) {
        l->resize(std::max(l->width(), l->sizeHint().width()),
                  std::max(l->height(), l->fontMetrics().height()));
    }

    insertButton_ = PlainButton(frame_, "cmdInsert", "追加");
    PlaceInFrame(insertButton_, 525, 1785, 1335, 375);
    reviseButton_ = PlainButton(frame_, "cmdRevision", "修正");
    PlaceInFrame(reviseButton_, 2205, 1770, 1335, 375);
    deleteButton_ = PlainButton(frame_, "cmdDelete", "削除");
    PlaceInFrame(deleteButton_, 3885, 1770, 1335, 375);
    sortButton_ = PlainButton(frame_, "cmdSort", "ソート");
    PlaceInFrame(sortButton_, 5565, 1770, 1335, 375);
    for (QPushButton* b : {insertButton_, reviseButton_, deleteButton_, sortButton_})
        b->setFont(PGothic(9));

    grid_ = new FlexGrid(this);
    grid_->setObjectName("msgData");
    grid_->setFont(PGothic(11.25));
    SetGeometryTwips(grid_, 105, 2310, 7050, 2325);

    okButton_ = PlainButton(this, "cmdOK", "OK");
    SetGeometryTwips(okButton_, 3000, 4845, 1095, 375);
    cancelButton_ = PlainButton(this, "cmdCancel", "ｷｬﾝｾﾙ");
    SetGeometryTwips(cancelButton_, 4380, 4845, 1095, 375);
    helpButton_ = PlainButton(this, "cmdHelp", "ﾍﾙﾌﾟ");
    SetGeometryTwips(helpButton_, 5760, 4845, 1095, 375);

    // The text boxes lie across the frame's area; keep them above it.
    for (QWidget* w : {static_cast<QWidget*>(itemEdit_), static_cast<QWidget*>(fillTextEdit_),
                       static_cast<QWidget*>(memoEdit_), static_cast<QWidget*>(grid_)}) {
        w->raise();
    }

    QWidget* order[] = {itemEdit_,     fillTextEdit_, memoEdit_,   insertButton_,
                        reviseButton_, deleteButton_, sortButton_, grid_,
                        okButton_,     cancelButton_, helpButton_};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

    reviseButton_->setEnabled(false);
    deleteButton_->setEnabled(false);
    sortButton_->setEnabled(false);

    connect(insertButton_, &QPushButton::clicked, this, &EntryEditor::onInsert);
    connect(reviseButton_, &QPushButton::clicked, this, &EntryEditor::onRevise);
    connect(deleteButton_, &QPushButton::clicked, this, &EntryEditor::onDelete);
    connect(sortButton_, &QPushButton::clicked, this, &EntryEditor::onSort);
    connect(okButton_, &QPushButton::clicked, this, &EntryEditor::onOk);
    connect(cancelButton_, &QPushButton::clicked, this, &EntryEditor::onCancel);
    connect(helpButton_, &QPushButton::clicked, this, &EntryEditor::onHelp);
    connect(grid_, &FlexGrid::Click, this, &EntryEditor::onGridClick);
    // The boxes show the row the keys move to, so that 修正 and 削除 act on the row shown.
    connect(grid_, &FlexGrid::RowMoved, this, &EntryEditor::onGridClick);
    // The header row is drawn by the grid's header, which the grid's own clicks do not cover.
    grid_->horizontalHeader()->viewport()->installEventFilter(this);
    EnterPressesFocusedButton(this);
    // No cancel button: Escape does not close the window.
    EscapeClosesNothing(this);

    grid_->SetMeasure([this](const QString& text) { return TextWidthTwips(text); });
    itemEdit_->setFocus();
}

void EntryEditor::Load() {
    // The editor opens with its top-left corner on its owner's, the toolbar's.
    if (QWidget* owner = parentWidget()) PlaceAtTopLeftOf(this, owner);

    for (int n = 1; n <= 3; ++n) {
        columnWidths_[n] = ReadSetting(SettingKey, kWidthNames[n]);
        if (columnWidths_[n] == "0") columnWidths_[n] = kWidthDefaults[n];
    }
    for (int n = 1; n <= 3; ++n) grid_->SetTextMatrix(0, n, QString::fromUtf8(kHeadings[n]));
    grid_->SetColWidth(0, 400);
    for (int n = 1; n <= 3; ++n) {
        const long fallback = std::stol(kWidthDefaults[n]);
        grid_->SetColWidth(n, static_cast<int>(ParseStoredWidth(columnWidths_[n], fallback)));
    }
    grid_->SetRowHeight(0, 350);

    // Thousands of rows load with the view refreshed once, not once per row.
    grid_->SetRedraw(false);
    const int count = state_.entries.count();
    for (int k = 1; k <= count; ++k) {
        const Entry& e = state_.entries[static_cast<size_t>(k - 1)];
        grid_->SetTextMatrix(k, 1, Q(e[ItemLabel]));
        grid_->SetTextMatrix(k, 2, Q(e[FillText]));
        grid_->SetTextMatrix(k, 3, Q(e[Memo]));
        grid_->AddItem(QString());
    }
    grid_->SetRedraw(true);
    grid_->SetRow(FlexGrid::kFixedRows);
    grid_->SetTopRow(FlexGrid::kFixedRows);

    FitColumns();
    ApplyTopmost(shell_.windows, state_.options, IdOf(this));
}

long EntryEditor::TextWidthTwips(const QString& text) const {
    // Measured as the grid draws it: one line, in the grid's font.
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QFontMetricsF fm(grid_->font());
    return RoundHalfEven(fm.horizontalAdvance(line) * TwipsPerPixelX());
}

void EntryEditor::FitColumns() {
    // Every cell is measured once and remembered by the grid, so fitting after a command only
    // measures what the command changed.
    for (int j = 1; j <= 3; ++j) {
        grid_->SetColWidth(j, static_cast<int>(FittedColumnWidth(grid_->WidestInColumn(j))));
        columnWidths_[j] = std::to_string(grid_->ColWidth(j));
    }
}

bool EntryEditor::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::MouseButtonRelease &&
        watched == grid_->horizontalHeader()->viewport() &&
        static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        // The header is no entry: nothing stays chosen that 修正 or 削除 could act on.
        grid_->SetRow(0);
        onGridClick();
    }
    return QDialog::eventFilter(watched, e);
}

void EntryEditor::onGridClick() {
    const int r = grid_->Row();
    if (r == grid_->Rows() - 1 || r == 0) {
        reviseButton_->setEnabled(false);
        deleteButton_->setEnabled(false);
        return;
    }
    itemEdit_->setText(grid_->TextMatrix(r, 1));
    fillTextEdit_->setText(grid_->TextMatrix(r, 2));
    memoEdit_->setText(grid_->TextMatrix(r, 3));
    reviseButton_->setEnabled(true);
    deleteButton_->setEnabled(true);
}

void EntryEditor::ClearBoxes() {
    itemEdit_->clear();
    fillTextEdit_->clear();
    memoEdit_->clear();
}

void EntryEditor::WarnIfUntypable(const QString& fillText) {
    const std::string warning = KeyNotationWarning(S(fillText));
    if (!warning.empty()) shell_.messages.Box(warning, MsgOk, AppTitle);
}

QString EntryEditor::OfferLiteral(const QString& fillText) {
    const std::string text = S(fillText);
    if (!ParseKeys(text).ok()) return fillText;  // warned about once it is stored
    auto shiftedOf = [this](char32_t c) { return shell_.keyboard.ShiftedChar(c); };
    const std::string typed = TypedAsRead(text, shiftedOf);
    const std::string literal = LiteralOutsideBraces(text);
    // Only a + ^ % ~ ( ) outside braces may have been meant as a character: the {…} keys are
    // written on purpose.
    if (typed == TypedAsRead(literal, shiftedOf)) return fillText;
    std::string prompt = "この記入文字は、書いたとおりには記入されません。\r\n\r\n書いた文字：";
    prompt += text;
    prompt += "\r\n記入される内容：";
    prompt += typed;
    prompt +=
        "\r\n\r\n+ ^ % ~ ( ) はキーの操作になります（+ は Shift、^ は Ctrl、% は Alt、~ は "
        "Enter）。文字そのものを記入するには、{+} のように { } で囲んで書きます。\r\n\r\n"
        "書いた文字のとおりに記入されるよう、「";
    prompt += literal;
    prompt += "」と書き直して登録しますか？\r\n「いいえ」を選ぶと、書いたとおりに登録します。";
    const int answer = shell_.messages.Box(prompt, MsgYesNoQuestion, AppTitle);
    return answer == MsgAnswerYes ? Q(literal) : fillText;
}

void EntryEditor::onInsert() {
    const QString label = itemEdit_->text();
    QString text = fillTextEdit_->text();
    const QString memo = Q(TrimMemo(S(memoEdit_->text())));
    if (text.isEmpty() || label.isEmpty()) {
        shell_.messages.Box(kMsgMissing, MsgInfo, AppTitle);
        return;
    }
    // The count is 16-bit in the settings: one more entry could never be stored.
    if (grid_->Rows() - 2 >= kMaxEntries) {
        shell_.messages.Box(kMsgFull, MsgInfo, AppTitle);
        return;
    }
    text = OfferLiteral(text);
    const int r = grid_->Rows() - 1;
    grid_->SetRow(r);
    grid_->SetTextMatrix(r, 1, label);
    grid_->SetTextMatrix(r, 2, text);
    grid_->SetTextMatrix(r, 3, memo);
    ClearBoxes();
    grid_->AddItem(QString());
    if (r > 6) grid_->SetTopRow(grid_->Rows() - 7);
    FitColumns();
    // The boxes are empty now: no row is shown in them for 修正 or 削除 to act on.
    reviseButton_->setEnabled(false);
    deleteButton_->setEnabled(false);
    sortButton_->setEnabled(true);
    WarnIfUntypable(text);
}

void EntryEditor::onRevise() {
    const int r = grid_->Row();
    if (r < FlexGrid::kFixedRows || r >= grid_->Rows() - 1) {
        // The arrow keys can have moved onto the empty last row: it is not an entry, so nothing
        // is written, and the boxes keep what the user typed.
        reviseButton_->setEnabled(false);
        deleteButton_->setEnabled(false);
        return;
    }
    const QString text = OfferLiteral(fillTextEdit_->text());
    grid_->SetTextMatrix(r, 1, itemEdit_->text());
    grid_->SetTextMatrix(r, 2, text);
    grid_->SetTextMatrix(r, 3, Q(TrimMemo(S(memoEdit_->text()))));
    FitColumns();
    reviseButton_->setEnabled(false);
    deleteButton_->setEnabled(false);
    sortButton_->setEnabled(true);
    ClearBoxes();
    WarnIfUntypable(text);
}

void EntryEditor::onDelete() {
    const int r = grid_->Row();
    if (r >= FlexGrid::kFixedRows && r != grid_->Rows() - 1) {
        grid_->RemoveItem(r);
        FitColumns();
    }
    reviseButton_->setEnabled(false);
    deleteButton_->setEnabled(false);
    sortButton_->setEnabled(true);
    ClearBoxes();
}

void EntryEditor::SortEntries() {
    // The empty last row is kept out of the sort, so that entries with an empty label stay
    // entries and exactly one empty row ends the grid.
    const bool onBlankRow = grid_->Row() == grid_->Rows() - 1;
    grid_->RemoveItem(grid_->Rows() - 1);
    grid_->SetCol(1);
    grid_->Sort(FlexGrid::kSortGenericAscending);
    grid_->AddItem(QString());
    if (onBlankRow) grid_->SetRow(grid_->Rows() - 1);
}

void EntryEditor::onSort() {
    SortEntries();
    sortButton_->setEnabled(false);
}

void EntryEditor::CommitGrid() {
    const int count = grid_->Rows() - 2;
    if (count <= 0) {
        state_.entries.Resize(0);
        return;
    }
    state_.entries.Resize(static_cast<std::int16_t>(count));
    for (int i = 0; i < count; ++i) {
        Entry& e = state_.entries[static_cast<size_t>(i)];
        e[ItemLabel] = S(grid_->TextMatrix(i + 1, 1));
        e[FillText] = S(grid_->TextMatrix(i + 1, 2));
        e[Memo] = S(grid_->TextMatrix(i + 1, 3));
    }
    for (int n = 1; n <= 3; ++n) {
        WriteSetting(SettingKey, kWidthNames[n], columnWidths_[n]);
    }
}

void EntryEditor::onOk() {
    CommitGrid();
    // Saved at once as well as at the program's end, so that no edit waits in memory alone.
    try {
        SaveEntries(state_.entries);
    } catch (const EntryFileError& err) {
        shell_.messages.Box(std::string(err.what()) + kMsgNotSaved, MsgOk, ErrorTitle);
    }
    accept();
}

void EntryEditor::onCancel() {
    reject();
}

void EntryEditor::onHelp() {
    shell_.help.Open(IdOf(this), 11);
}
