// The clipboard and message boxes through Qt, which speaks to each system's clipboard and
// window manager for the program.
#include "platform/qt/QtDesktop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>

namespace platform {
namespace {
// The clipboard's formats as Qt read them, copied out of whoever owned it.
struct QtClipboardContents : ClipboardContents {
    std::unique_ptr<QMimeData> data = std::make_unique<QMimeData>();
};

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

bool QtDesktop::RunEventsUntil(const std::function<bool()>& done, int timeoutMs, int pollMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    QEventLoop loop;
    QTimer tick;
    tick.setSingleShot(true);
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (;;) {
        if (done()) return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        tick.start(static_cast<int>(std::min<long long>(left.count(), pollMs)));
        loop.exec();
        tick.stop();
    }
}
void QtDesktop::RunEventsFor(int ms) {
    RunEventsUntil([] { return false; }, ms, ms);
}

bool QtDesktop::ClipboardHasText() {
    const QMimeData* m = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    return m && m->hasText();
}

std::string QtDesktop::ClipboardText() {
    return QGuiApplication::clipboard()->text(QClipboard::Clipboard).toStdString();
}

void QtDesktop::ClipboardClear() {
    // Owning the clipboard with no formats at all: no text for anyone.
    QGuiApplication::clipboard()->setMimeData(new QMimeData, QClipboard::Clipboard);
}

bool QtDesktop::WaitClipboardText(int timeoutMs) {
    QClipboard* cb = QGuiApplication::clipboard();
    bool changed = true;
    QMetaObject::Connection conn =
        QObject::connect(cb, &QClipboard::dataChanged, [&changed] { changed = true; });
    // The clipboard is asked again only when its owner changed (and every half second, in
    // case a change slipped past before the connection was made).
    auto lastAsk = std::chrono::steady_clock::now();
    bool has = false;
    bool ok = RunEventsUntil(
        [&] {
            auto now = std::chrono::steady_clock::now();
            if (changed || now - lastAsk > std::chrono::milliseconds(500)) {
                changed = false;
                lastAsk = now;
                has = ClipboardHasText();
            }
            return has;
        },
        timeoutMs, 10);
    QObject::disconnect(conn);
    return ok;
}

std::unique_ptr<ClipboardContents> QtDesktop::ClipboardSave() {
    auto saved = std::make_unique<QtClipboardContents>();
    const QMimeData* m = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!m) return saved;
    for (const QString& format : m->formats()) {
        // Names without a slash are the selection protocol's own targets (TARGETS,
        // TIMESTAMP, ...); application/x-qt-* are Qt's views of the real formats.
        if (!format.contains(u'/') || format.startsWith(QLatin1String("application/x-qt-")))
            continue;
        QByteArray bytes = m->data(format);
        if (!bytes.isNull()) saved->data->setData(format, bytes);
    }
    return saved;
}

void QtDesktop::ClipboardRestore(std::unique_ptr<ClipboardContents> saved) {
    auto* contents = dynamic_cast<QtClipboardContents*>(saved.get());
    // Nothing saved: owned with no formats, as after ClipboardClear.
    QMimeData* data = contents ? contents->data.release() : new QMimeData;
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

int QtDesktop::MsgBox(const std::string& prompt, int style, const std::string& title) {
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
    if (messagesOnTop_) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    new AnswerOnRelease(&box);
    box.exec();
    // Only OK itself says yes: a box that went away otherwise (the program told to end while
    // it was open) must not let a fill go ahead unconfirmed.
    if (!cancel) return MsgAnswerOk;
    const bool yes = box.clickedButton() == ok;
    if (yesNo) return yes ? MsgAnswerYes : MsgAnswerNo;
    return yes ? MsgAnswerOk : MsgAnswerCancel;
}

}  // namespace platform
