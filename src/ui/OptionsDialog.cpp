#include "ui/OptionsDialog.h"

#include <QCheckBox>
#include <QPushButton>

#include "core/AppState.h"
#include "core/Placement.h"
#include "core/Settings.h"
#include "ui/AboutDialog.h"
#include "ui/WindowUtil.h"

namespace {
// A check box keeps its designed size unless its text would be cut off.
void PlaceCheckBox(QCheckBox* c, int left, int top, int width, int height, int clientWidthPx) {
    SetGeometryTwips(c, left, top, width, height);
    const int need = c->sizeHint().width();
    if (need > c->width()) c->resize(std::min(need, clientWidthPx - c->x()), c->height());
}
}  // namespace

OptionsDialog::OptionsDialog(QWidget* owner, AppState& state, const Shell& shell)
    : QDialog(owner, kFixedDialogFlags), state_(state), shell_(shell) {
    SetUpFixedWindow(this, "OptionsDialog", "Penrika for IE- 設定", PGothic(9), 4170, 1740);

    // Created in tab order.
    versionButton_ = PlainButton(this, "cmdVersion", "ﾊﾞｰｼﾞｮﾝ情報");
    SetGeometryTwips(versionButton_, 164, 1200, 1200, 350);
    okButton_ = PlainButton(this, "cmdOK", "OK");
    SetGeometryTwips(okButton_, 1485, 1200, 1200, 350);
    onTopBox_ = new QCheckBox(QString::fromUtf8("常に手前に表示する。"), this);
    onTopBox_->setObjectName("chkOption1");
    PlaceCheckBox(onTopBox_, 293, 240, 3015, 255, width());
    confirmBox_ = new QCheckBox(QString::fromUtf8("フォームに記入する前に確認を取る。"), this);
    confirmBox_->setObjectName("chkOption2");
    PlaceCheckBox(confirmBox_, 293, 600, 3135, 255, width());
    helpButton_ = PlainButton(this, "cmdHelp", "ヘルプ");
    SetGeometryTwips(helpButton_, 2807, 1200, 1200, 350);
    setTabOrder(versionButton_, okButton_);
    setTabOrder(okButton_, onTopBox_);
    setTabOrder(onTopBox_, confirmBox_);
    setTabOrder(confirmBox_, helpButton_);
    EnterPressesFocusedButton(this);
    // Only OK and the window's close box close it.
    EscapeClosesNothing(this);

    connect(okButton_, &QPushButton::clicked, this, &OptionsDialog::onOk);
    connect(versionButton_, &QPushButton::clicked, this, &OptionsDialog::onVersion);
    connect(helpButton_, &QPushButton::clicked, this, &OptionsDialog::onHelp);
}

void OptionsDialog::ShowModal(QWidget* owner, AppState& state, const Shell& shell) {
    OptionsDialog dialog(owner, state, shell);
    dialog.Load();
    // Closing by any way but OK stores nothing: only OK writes.
    dialog.exec();
}

void OptionsDialog::Load() {
    if (parentWidget()) PlaceAtTopLeftOf(this, parentWidget());
    if (state_.options.alwaysOnTop) onTopBox_->setChecked(true);
    if (state_.options.confirmBeforeFill) confirmBox_->setChecked(true);
    versionButton_->setFocus();
    ApplyTopmost(shell_.windows, state_.options, IdOf(this));
}

void OptionsDialog::SaveOptions() {
    // A grayed box is not on.
    auto text = [](const QCheckBox* c) {
        return c->checkState() == Qt::Checked ? "True" : "False";
    };
    WriteSetting(OptionKey, "Op_1", text(onTopBox_));
    WriteSetting(OptionKey, "Op_2", text(confirmBox_));
}

void OptionsDialog::onOk() {
    SaveOptions();
    // The options are what was actually stored.
    state_.options = LoadOptions();
    shell_.messages.SetOnTop(state_.options.alwaysOnTop);
    hide();
    accept();
}

void OptionsDialog::onVersion() {
    setEnabled(false);
    AboutDialog::ShowModal(this, state_.options, shell_);
    // The dialog takes input again once the version window has closed.
    setEnabled(true);
    activateWindow();
    versionButton_->setFocus();
}

void OptionsDialog::onHelp() {
    shell_.help.Open(IdOf(this), 12);
}
