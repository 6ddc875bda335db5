#include "ui/OptionsDialog.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>

#include "core/AppState.h"
#include "core/FillCommand.h"
#include "ui/AboutDialog.h"
#include "ui/MainToolbar.h"
#include "ui/Resources.h"
#include "ui/WindowUtil.h"

namespace {
OptionsDialog* g_current = nullptr;

QPushButton* PlainButton(QWidget* parent, const char* name, const char* text) {
    auto* b = new QPushButton(QString::fromUtf8(text), parent);
    b->setObjectName(name);
    // No button is the default: Enter presses only the button that has the focus.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

// A check box keeps its designed size unless its text would be cut off.
void PlaceCheckBox(QCheckBox* c, int left, int top, int width, int height, int clientWidthPx) {
    SetGeometryTwips(c, left, top, width, height);
    const int need = c->sizeHint().width();
    if (need > c->width()) c->resize(std::min(need, clientWidthPx - c->x()), c->height());
}
}  // namespace

OptionsDialog::OptionsDialog(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    InitResources();
    setObjectName("OptionsDialog");
    setWindowTitle(QString::fromUtf8("Penrika for IE- 設定"));
    setWindowIcon(QIcon(":/icons/penrika.svg"));
    setFont(PGothic(9));
    SetFixedClientTwips(this, 4170, 1740);

    // Created in tab order.
    cmdVersion_ = PlainButton(this, "cmdVersion", "ﾊﾞｰｼﾞｮﾝ情報");
    SetGeometryTwips(cmdVersion_, 164, 1200, 1200, 350);
    cmdOK_ = PlainButton(this, "cmdOK", "OK");
    SetGeometryTwips(cmdOK_, 1485, 1200, 1200, 350);
    chkOption1_ = new QCheckBox(QString::fromUtf8("常に手前に表示する。"), this);
    chkOption1_->setObjectName("chkOption1");
    PlaceCheckBox(chkOption1_, 293, 240, 3015, 255, width());
    chkOption2_ = new QCheckBox(QString::fromUtf8("フォームに記入する前に確認を取る。"), this);
    chkOption2_->setObjectName("chkOption2");
    PlaceCheckBox(chkOption2_, 293, 600, 3135, 255, width());
    cmdHelp_ = PlainButton(this, "cmdHelp", "ヘルプ");
    SetGeometryTwips(cmdHelp_, 2807, 1200, 1200, 350);
    setTabOrder(cmdVersion_, cmdOK_);
    setTabOrder(cmdOK_, chkOption1_);
    setTabOrder(chkOption1_, chkOption2_);
    setTabOrder(chkOption2_, cmdHelp_);
    EnterPressesFocusedButton(this);

    connect(cmdOK_, &QPushButton::clicked, this, &OptionsDialog::cmdOK_Click);
    connect(cmdVersion_, &QPushButton::clicked, this, &OptionsDialog::cmdVersion_Click);
    connect(cmdHelp_, &QPushButton::clicked, this, &OptionsDialog::cmdHelp_Click);
}

OptionsDialog::~OptionsDialog() {
    if (g_current == this) g_current = nullptr;
}

OptionsDialog* OptionsDialog::Current() {
    return g_current;
}

void OptionsDialog::ShowModal(QWidget* owner) {
    OptionsDialog dialog(owner);
    g_current = &dialog;
    dialog.Form_Load();
    // Closing by any way but OK stores nothing: only cmdOK_Click writes.
    dialog.exec();
}

void OptionsDialog::Form_Load() {
    if (const MainToolbar* main = MainToolbar::Instance())
        PlaceAtTopLeftOf(this, main);
    else if (parentWidget())
        PlaceAtTopLeftOf(this, parentWidget());
    if (Options[AlwaysOnTop]) chkOption1_->setChecked(true);
    if (Options[ConfirmBeforeFill]) chkOption2_->setChecked(true);
    cmdVersion_->setFocus();
    ApplyTopmost(IdOf(this));
}

void OptionsDialog::keyPressEvent(QKeyEvent* e) {
    // Escape does not close this dialog; only OK and the window's close box do.
    if (e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void OptionsDialog::SaveOptions() {
    // A grayed box is not on.
    auto text = [](const QCheckBox* c) {
        return c->checkState() == Qt::Checked ? "True" : "False";
    };
    WriteSetting(REG_SZ_TEXT, HKEY_CURRENT_USER, OptionKey, "Op_1", text(chkOption1_));
    WriteSetting(REG_SZ_TEXT, HKEY_CURRENT_USER, OptionKey, "Op_2", text(chkOption2_));
}

void OptionsDialog::cmdOK_Click() {
    SaveOptions();
    // Options holds what was actually stored.
    LoadOptions();
    hide();
    accept();
}

void OptionsDialog::cmdVersion_Click() {
    setEnabled(false);
    AboutDialog::ShowModal(this);
    // The dialog takes input again once the version window has closed.
    setEnabled(true);
    activateWindow();
    cmdVersion_->setFocus();
}

void OptionsDialog::cmdHelp_Click() {
    ShowHelp(IdOf(this), 12);
}
