#include "ui/MessageBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

namespace {
// Takes a box's keyboard answer (Enter, Space, Escape) when the key comes up, not when it goes
// down: the typing that may follow the answer must not find the key still held, or its repeats
// go on into the browser (a repeating Enter sends the form). A key that was already down when
// the box opened, whose repeats reach the box, answers nothing.
class AnswerOnRelease : public QObject {
  public:
    explicit AnswerOnRelease(QMessageBox* box) : QObject(box), box_(box) {
        qApp->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        const bool press = e->type() == QEvent::KeyPress;
        if (!press && e->type() != QEvent::KeyRelease) return false;
        auto* w = qobject_cast<QWidget*>(watched);
        if (!w || w->window() != box_) return false;
        const auto* k = static_cast<QKeyEvent*>(e);
        const int key = k->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Space &&
            key != Qt::Key_Escape)
            return false;
        if (k->isAutoRepeat()) return true;
        if (press) {
            downKey_ = key;
        } else if (key == downKey_) {
            downKey_ = 0;
            Answer(key);
        }
        return true;
    }

  private:
    void Answer(int key) {
        QAbstractButton* button = nullptr;
        auto* focused = qobject_cast<QAbstractButton*>(box_->focusWidget());
        if (key == Qt::Key_Escape)
            button = box_->escapeButton();
        else if (key == Qt::Key_Space)
            button = focused;
        else
            button = focused ? focused : box_->defaultButton();
        if (button) button->click();
    }

    QMessageBox* box_;
    int downKey_ = 0;
};

}  // namespace

int MessageBoxes::Box(const std::string& prompt, int style, const std::string& title) {
    QString text = QString::fromStdString(prompt);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent) parent = QApplication::activeWindow();
    QMessageBox box(parent);
    box.setWindowTitle(QString::fromStdString(title));
    box.setText(text);
    box.setIcon((style & 64)   ? QMessageBox::Information
                : (style & 32) ? QMessageBox::Question
                               : QMessageBox::NoIcon);
    const bool yesNo = (style & 0x0f) == 4;
    QPushButton* ok =
        box.addButton(QString::fromUtf8(yesNo ? "はい" : "OK"), QMessageBox::AcceptRole);
    QPushButton* cancel = nullptr;
    if (yesNo)
        cancel = box.addButton(QString::fromUtf8("いいえ"), QMessageBox::RejectRole);
    else if ((style & 0x0f) == 1)
        cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(cancel ? cancel : ok);
    // Over the browser when the program's windows stay on top.
    if (onTop_) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    new AnswerOnRelease(&box);
    box.exec();
    // Only OK itself says yes: a box that went away otherwise (the program told to end while
    // it was open) must not let a fill go ahead unconfirmed.
    if (!cancel) return MsgAnswerOk;
    const bool yes = box.clickedButton() == ok;
    if (yesNo) return yes ? MsgAnswerYes : MsgAnswerNo;
    return yes ? MsgAnswerOk : MsgAnswerCancel;
}
