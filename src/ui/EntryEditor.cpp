#include "ui/EntryEditor.h"

#include <QFontMetricsF>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <algorithm>
#include <climits>

#include "core/AppState.h"
#include "core/EntryFile.h"
#include "core/FillCommand.h"
#include "core/GridText.h"
#include "platform/Desktop.h"
#include "ui/FlexGrid.h"
#include "ui/MainToolbar.h"
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

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(name);
    // No button is the default or cancel button: Enter presses only the focused one.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

// Places a child of Frame1 by its position in the window's client area.
void PlaceInFrame(QWidget* w, int left, int top, int width, int height) {
    SetGeometryTwips(w, left - kFrameLeft, top - kFrameTop, width, height);
}
}  // namespace

void EntryEditor::ShowModal(QWidget* owner) {
    EntryEditor w(owner);
    w.Form_Load();
    w.exec();
}

EntryEditor::EntryEditor(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint) {
    BuildControls();
}

EntryEditor::~EntryEditor() = default;

void EntryEditor::BuildControls() {
    setObjectName("EntryEditor");
    setWindowTitle(QString::fromUtf8(kCaption));
    setFont(PGothic(11.25));
    setSizeGripEnabled(false);
    SetFixedClientTwips(this, 7230, 5295);

    Frame1_ = new QFrame(this);
    Frame1_->setObjectName("Frame1");
    Frame1_->setFrameShape(QFrame::Box);
    Frame1_->setFrameShadow(QFrame::Sunken);
    SetGeometryTwips(Frame1_, kFrameLeft, kFrameTop, 7215, 4845);

    Label4_ = MakeLabel(Frame1_, "Label4", "記入項目：");
    PlaceInFrame(Label4_, 105, 315, 1170, 225);
    txtSelection_ = MakeTextBox(this, "txtSelection");
    SetGeometryTwips(txtSelection_, 1365, 315, 5790, 330);
    Label3_ = MakeLabel(Frame1_, "Label3", "記入文字：");
    PlaceInFrame(Label3_, 105, 787, 1170, 225);
    txtOutput_ = MakeTextBox(this, "txtOutput");
    SetGeometryTwips(txtOutput_, 1365, 787, 5790, 330);
    Label2_ = MakeLabel(Frame1_, "Label2", "メモ：");
    PlaceInFrame(Label2_, 630, 1260, 540, 225);
    txtMemo_ = MakeTextBox(this, "txtMemo");
    SetGeometryTwips(txtMemo_, 1365, 1260, 5790, 330);

    // The design's label boxes are a pixel short for this font's line; let no caption be cut.
    for (QLabel* l : {Label4_, Label3_, Label2_}) {
        l->resize(std::max(l->width(), l->sizeHint().width()),
                  std::max(l->height(), l->fontMetrics().height()));
    }

    cmdInsert_ = MakeButton(Frame1_, "cmdInsert", "追加");
    PlaceInFrame(cmdInsert_, 525, 1785, 1335, 375);
    cmdRevision_ = MakeButton(Frame1_, "cmdRevision", "修正");
    PlaceInFrame(cmdRevision_, 2205, 1770, 1335, 375);
    cmdDelete_ = MakeButton(Frame1_, "cmdDelete", "削除");
    PlaceInFrame(cmdDelete_, 3885, 1770, 1335, 375);
    cmdSort_ = MakeButton(Frame1_, "cmdSort", "ソート");
    PlaceInFrame(cmdSort_, 5565, 1770, 1335, 375);
    for (QPushButton* b : {cmdInsert_, cmdRevision_, cmdDelete_, cmdSort_}) b->setFont(PGothic(9));

    msgData_ = new FlexGrid(this);
    msgData_->setObjectName("msgData");
    msgData_->setFont(PGothic(11.25));
    SetGeometryTwips(msgData_, 105, 2310, 7050, 2325);

    cmdOK_ = MakeButton(this, "cmdOK", "OK");
    SetGeometryTwips(cmdOK_, 3000, 4845, 1095, 375);
    cmdCancel_ = MakeButton(this, "cmdCancel", "ｷｬﾝｾﾙ");
    SetGeometryTwips(cmdCancel_, 4380, 4845, 1095, 375);
    cmdHelp_ = MakeButton(this, "cmdHelp", "ﾍﾙﾌﾟ");
    SetGeometryTwips(cmdHelp_, 5760, 4845, 1095, 375);

    // The text boxes lie across the frame's area; keep them above it.
    for (QWidget* w : {static_cast<QWidget*>(txtSelection_), static_cast<QWidget*>(txtOutput_),
                       static_cast<QWidget*>(txtMemo_), static_cast<QWidget*>(msgData_)}) {
        w->raise();
    }

    QWidget* order[] = {txtSelection_, txtOutput_, txtMemo_, cmdInsert_, cmdRevision_, cmdDelete_,
                        cmdSort_,      msgData_,   cmdOK_,   cmdCancel_, cmdHelp_};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

    cmdRevision_->setEnabled(false);
    cmdDelete_->setEnabled(false);
    cmdSort_->setEnabled(false);

    connect(cmdInsert_, &QPushButton::clicked, this, &EntryEditor::cmdInsert_Click);
    connect(cmdRevision_, &QPushButton::clicked, this, &EntryEditor::cmdRevision_Click);
    connect(cmdDelete_, &QPushButton::clicked, this, &EntryEditor::cmdDelete_Click);
    connect(cmdSort_, &QPushButton::clicked, this, &EntryEditor::cmdSort_Click);
    connect(cmdOK_, &QPushButton::clicked, this, &EntryEditor::cmdOK_Click);
    connect(cmdCancel_, &QPushButton::clicked, this, &EntryEditor::cmdCancel_Click);
    connect(cmdHelp_, &QPushButton::clicked, this, &EntryEditor::cmdHelp_Click);
    connect(msgData_, &FlexGrid::Click, this, &EntryEditor::msgData_Click);
    // The header row is drawn by the grid's header, which the grid's own clicks do not cover.
    msgData_->horizontalHeader()->viewport()->installEventFilter(this);
    EnterPressesFocusedButton(this);

    msgData_->SetMeasure([this](const QString& text) { return TextWidthTwips(text); });
    txtSelection_->setFocus();
}

void EntryEditor::Form_Load() {
    // The editor opens with its top-left corner on the toolbar's.
    if (QWidget* anchor = MainToolbar::Instance() ? MainToolbar::Instance() : parentWidget()) {
        PlaceAtTopLeftOf(this, anchor);
    }

    for (int n = 1; n <= 3; ++n) {
        ColumnWidths[n] = ReadSetting(HKEY_CURRENT_USER, SettingKey, kWidthNames[n]);
        if (ColumnWidths[n] == "0") ColumnWidths[n] = kWidthDefaults[n];
    }
    for (int n = 1; n <= 3; ++n) msgData_->SetTextMatrix(0, n, QString::fromUtf8(kHeadings[n]));
    msgData_->SetColWidth(0, 400);
    for (int n = 1; n <= 3; ++n) {
        const long fallback = std::stol(kWidthDefaults[n]);
        msgData_->SetColWidth(n, static_cast<int>(ParseStoredWidth(ColumnWidths[n], fallback)));
    }
    msgData_->SetRowHeight(0, 350);

    // Thousands of rows load with the view refreshed once, not once per row.
    msgData_->SetRedraw(false);
    const int count = std::min<int>(
        EntryCount, static_cast<int>(EntryTable.size()) - (EntryTable.empty() ? 0 : 1));
    for (int k = 1; k <= count; ++k) {
        const Entry& e = EntryTable[static_cast<size_t>(k - 1)];
        msgData_->SetTextMatrix(k, 1, Q(e[ItemLabel]));
        msgData_->SetTextMatrix(k, 2, Q(e[FillText]));
        msgData_->SetTextMatrix(k, 3, Q(e[Memo]));
        msgData_->AddItem(QString());
    }
    msgData_->SetRedraw(true);
    msgData_->SetRow(FlexGrid::kFixedRows);
    msgData_->SetTopRow(FlexGrid::kFixedRows);

    FitColumns();
    ApplyTopmost(IdOf(this));
}

long EntryEditor::TextWidthTwips(const QString& text) const {
    // Measured as the grid draws it: one line, in the grid's font.
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QFontMetricsF fm(msgData_->font());
    return RoundHalfEven(fm.horizontalAdvance(line) * TwipsPerPixelX());
}

void EntryEditor::FitColumns() {
    // Every cell is measured once and remembered by the grid, so fitting after a command only
    // measures what the command changed.
    for (int j = 1; j <= 3; ++j) {
        msgData_->SetColWidth(j, static_cast<int>(FittedColumnWidth(msgData_->WidestInColumn(j))));
        ColumnWidths[j] = std::to_string(msgData_->ColWidth(j));
    }
}

bool EntryEditor::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::MouseButtonRelease &&
        watched == msgData_->horizontalHeader()->viewport() &&
        static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        // The header is no entry: nothing stays chosen that 修正 or 削除 could act on.
        msgData_->SetRow(0);
        msgData_Click();
    }
    return QDialog::eventFilter(watched, e);
}

void EntryEditor::msgData_Click() {
    const int r = msgData_->Row();
    if (r == msgData_->Rows() - 1 || r == 0) {
        cmdRevision_->setEnabled(false);
        cmdDelete_->setEnabled(false);
        return;
    }
    txtSelection_->setText(msgData_->TextMatrix(r, 1));
    txtOutput_->setText(msgData_->TextMatrix(r, 2));
    txtMemo_->setText(msgData_->TextMatrix(r, 3));
    cmdRevision_->setEnabled(true);
    cmdDelete_->setEnabled(true);
}

void EntryEditor::ClearBoxes() {
    txtSelection_->clear();
    txtOutput_->clear();
    txtMemo_->clear();
}

void EntryEditor::WarnIfUntypable(const QString& fillText) {
    const std::string warning = KeyNotationWarning(S(fillText));
    if (!warning.empty()) platform::TheDesktop().MsgBox(warning, platform::MsgOk, AppTitle);
}

void EntryEditor::cmdInsert_Click() {
    const QString label = txtSelection_->text();
    const QString text = txtOutput_->text();
    const QString memo = Q(TrimMemo(S(txtMemo_->text())));
    if (text.isEmpty() || label.isEmpty()) {
        platform::TheDesktop().MsgBox(kMsgMissing, platform::MsgInfo, AppTitle);
        return;
    }
    // The count is 16-bit in the settings: one more entry could never be stored.
    if (msgData_->Rows() - 2 >= kMaxEntries) {
        platform::TheDesktop().MsgBox(kMsgFull, platform::MsgInfo, AppTitle);
        return;
    }
    const int r = msgData_->Rows() - 1;
    msgData_->SetRow(r);
    msgData_->SetTextMatrix(r, 1, label);
    msgData_->SetTextMatrix(r, 2, text);
    msgData_->SetTextMatrix(r, 3, memo);
    ClearBoxes();
    msgData_->AddItem(QString());
    if (r > 6) msgData_->SetTopRow(msgData_->Rows() - 7);
    FitColumns();
    cmdSort_->setEnabled(true);
    WarnIfUntypable(text);
}

void EntryEditor::cmdRevision_Click() {
    const int r = msgData_->Row();
    if (r < FlexGrid::kFixedRows || r >= msgData_->Rows() - 1) {
        // The arrow keys can have moved onto the empty last row: it is not an entry, so nothing
        // is written, and the boxes keep what the user typed.
        cmdRevision_->setEnabled(false);
        cmdDelete_->setEnabled(false);
        return;
    }
    const QString text = txtOutput_->text();
    msgData_->SetTextMatrix(r, 1, txtSelection_->text());
    msgData_->SetTextMatrix(r, 2, text);
    msgData_->SetTextMatrix(r, 3, Q(TrimMemo(S(txtMemo_->text()))));
    FitColumns();
    cmdRevision_->setEnabled(false);
    cmdDelete_->setEnabled(false);
    cmdSort_->setEnabled(true);
    ClearBoxes();
    WarnIfUntypable(text);
}

void EntryEditor::cmdDelete_Click() {
    const int r = msgData_->Row();
    if (r >= FlexGrid::kFixedRows && r != msgData_->Rows() - 1) {
        msgData_->RemoveItem(r);
        FitColumns();
    }
    cmdRevision_->setEnabled(false);
    cmdDelete_->setEnabled(false);
    cmdSort_->setEnabled(true);
    ClearBoxes();
}

void EntryEditor::SortEntries() {
    // The empty last row is kept out of the sort, so that entries with an empty label stay
    // entries and exactly one empty row ends the grid.
    const bool onBlankRow = msgData_->Row() == msgData_->Rows() - 1;
    msgData_->RemoveItem(msgData_->Rows() - 1);
    msgData_->SetCol(1);
    msgData_->Sort(FlexGrid::kSortGenericAscending);
    msgData_->AddItem(QString());
    if (onBlankRow) msgData_->SetRow(msgData_->Rows() - 1);
}

void EntryEditor::cmdSort_Click() {
    SortEntries();
    cmdSort_->setEnabled(false);
}

void EntryEditor::CommitGrid() {
    const int count = msgData_->Rows() - 2;
    if (count <= 0) {
        ResizeEntryTable(0);
        return;
    }
    ResizeEntryTable(static_cast<std::int16_t>(count));
    for (int i = 0; i < count; ++i) {
        Entry& e = EntryTable[static_cast<size_t>(i)];
        e[ItemLabel] = S(msgData_->TextMatrix(i + 1, 1));
        e[FillText] = S(msgData_->TextMatrix(i + 1, 2));
        e[Memo] = S(msgData_->TextMatrix(i + 1, 3));
    }
    for (int n = 1; n <= 3; ++n) {
        WriteSetting(REG_SZ_TEXT, HKEY_CURRENT_USER, SettingKey, kWidthNames[n], ColumnWidths[n]);
    }
}

void EntryEditor::cmdOK_Click() {
    CommitGrid();
    // Saved at once as well as at the program's end, so that no edit waits in memory alone.
    try {
        SaveEntries();
    } catch (const EntryFileError& err) {
        platform::TheDesktop().MsgBox(std::string(err.what()) + kMsgNotSaved, platform::MsgOk,
                                      ErrorTitle);
    }
    accept();
}

void EntryEditor::cmdCancel_Click() {
    reject();
}

void EntryEditor::cmdHelp_Click() {
    ShowHelp(IdOf(this), 11);
}

void EntryEditor::keyPressEvent(QKeyEvent* e) {
    // No cancel button: Esc does not close the window.
    if (e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}
