#include "ui/OptionsDialog.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>

#include "core/AppState.h"
#include "core/Placement.h"
#include "core/Settings.h"
#include "core/Titles.h"
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

std::string ShortcutRefusal(platform::GlobalShortcut::Outcome outcome, const std::string& combo) {
    using Outcome = platform::GlobalShortcut::Outcome;
    const std::string named = "記入のショートカット「" + combo + "」";
    switch (outcome) {
        case Outcome::Taken:
        case Outcome::Released:
            return {};
        case Outcome::Held:
            return named +
                   "は、ほかのプログラムが使っているため使えません。別のキーの組み合わせを選んで"
                   "ください。";
        case Outcome::Unsupported:
            return "このデスクトップでは、Penrika が" + named +
                   "を受け取れません。デスクトップのキーボード設定で、キーの組み合わせに"
                   "「penrika --fill」を割り当ててください。";
        case Outcome::Invalid:
            break;
    }
    return named + "は、このキーボードで使えるキーの組み合わせではありません。";
}

ShortcutEdit::ShortcutEdit(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    // The field shows what was pressed; no caret, no input method composing in it.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setPlaceholderText(QString::fromUtf8("なし"));
}

void ShortcutEdit::SetPortable(const std::string& text) {
    const QKeySequence seq =
        QKeySequence::fromString(QString::fromStdString(text), QKeySequence::PortableText);
    portable_ =
        seq.isEmpty() ? std::string() : seq.toString(QKeySequence::PortableText).toStdString();
    setText(seq.toString(QKeySequence::NativeText));
}

bool ShortcutEdit::event(QEvent* e) {
    // The dialog's and the program's own shortcuts must not take the keys meant for the field.
    if (e->type() == QEvent::ShortcutOverride) {
        const auto* k = static_cast<QKeyEvent*>(e);
        const Qt::KeyboardModifiers mods = k->modifiers() & ~Qt::KeypadModifier;
        if (mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
            e->accept();
            return true;
        }
    }
    return QLineEdit::event(e);
}

void ShortcutEdit::keyPressEvent(QKeyEvent* e) {
    const int key = e->key();
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    const bool plain = (mods & ~Qt::ShiftModifier) == Qt::NoModifier;
    if (plain && (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Escape ||
                  key == Qt::Key_Return || key == Qt::Key_Enter)) {
        // Moving on, and the dialog's own keys, as in any other field.
        e->ignore();
        QWidget::keyPressEvent(e);
        return;
    }
    if (mods == Qt::NoModifier && (key == Qt::Key_Backspace || key == Qt::Key_Delete)) {
        SetPortable("");
        return;
    }
    switch (key) {
        case Qt::Key_Control:
        case Qt::Key_Shift:
        case Qt::Key_Alt:
        case Qt::Key_Meta:
        case Qt::Key_AltGr:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
        case Qt::Key_CapsLock:
        case Qt::Key_NumLock:
        case Qt::Key_ScrollLock:
        case Qt::Key_unknown:
            return;  // the combination is not complete yet
        default:
            break;
    }
    const bool functionKey = key >= Qt::Key_F1 && key <= Qt::Key_F35;
    if (plain && !functionKey) return;  // typing with it would fill every form
    SetPortable(QKeySequence(QKeyCombination(mods, static_cast<Qt::Key>(key)))
                    .toString(QKeySequence::PortableText)
                    .toStdString());
}

OptionsDialog::OptionsDialog(QWidget* owner, AppState& state, const Shell& shell)
    : QDialog(owner, kFixedDialogFlags), state_(state), shell_(shell) {
    // The shortcut's row lies below the buttons, the dialog grown to hold it.
    SetUpFixedWindow(this, "OptionsDialog", "Penrika for IE- 設定", PGothic(9), 4170, 2250);

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
    shortcutLabel_ = new QLabel(QString::fromUtf8("記入のショートカット(&K)："), this);
    shortcutLabel_->setObjectName("lblShortcut");
    SetGeometryTwips(shortcutLabel_, 164, 1770, 1950, 330);
    shortcutEdit_ = new ShortcutEdit(this);
    shortcutEdit_->setObjectName("txtShortcut");
    SetGeometryTwips(shortcutEdit_, 2150, 1740, 1857, 360);
    shortcutLabel_->setBuddy(shortcutEdit_);
    setTabOrder(versionButton_, okButton_);
    setTabOrder(okButton_, onTopBox_);
    setTabOrder(onTopBox_, confirmBox_);
    setTabOrder(confirmBox_, helpButton_);
    setTabOrder(helpButton_, shortcutEdit_);
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
    shortcutEdit_->SetPortable(state_.options.fillShortcut);
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
    WriteSetting(OptionKey, FillShortcutValue, shortcutEdit_->Portable());
}

bool OptionsDialog::TakeShortcut() {
    const std::string combo = shortcutEdit_->Portable();
    if (combo == state_.options.fillShortcut) return true;
    const std::string refusal = ShortcutRefusal(shell_.shortcut.Take(combo), combo);
    if (refusal.empty()) return true;
    shell_.messages.Box(refusal, MsgOk, ErrorTitle);
    activateWindow();
    shortcutEdit_->setFocus();
    return false;
}

void OptionsDialog::onOk() {
    // A combination the desktop will not give stores nothing: the dialog stays for another.
    if (!TakeShortcut()) return;
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
