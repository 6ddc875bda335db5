#include "platform/qt/QtSupport.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeySequence>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <memory>

namespace platform {

bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs, int pollMs, bool userInput,
                    int wakeFd, const std::function<bool()>& drain) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    QEventLoop loop;
    QTimer tick;
    tick.setSingleShot(true);
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    std::unique_ptr<QSocketNotifier> notifier;
    if (wakeFd >= 0) {
        notifier = std::make_unique<QSocketNotifier>(wakeFd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    }
    for (;;) {
        const bool arrived = drain && drain();
        if (done()) return true;
        if (arrived) continue;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        tick.start(static_cast<int>(std::min<long long>(left.count(), pollMs)));
        loop.exec(userInput ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        tick.stop();
    }
}

void RunEventsFor(int ms, bool userInput) {
    if (ms <= 0) return;
    RunEventsUntil([] { return false; }, ms, ms, userInput);
}

QWidget* OwnWidget(WindowId w) {
    if (!w) return nullptr;
    for (QWidget* t : QApplication::topLevelWidgets()) {
        if (t->testAttribute(Qt::WA_WState_Created) && t->internalWinId() == w) return t;
    }
    return nullptr;
}

unsigned QtKeyToKeysym(int key) {
    // Latin-1 keysyms are the characters' codes, letters in their small form.
    if (key >= 0x20 && key <= 0x7e) return key >= 'A' && key <= 'Z' ? key - 'A' + 'a' : key;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35) return 0xffbe + (key - Qt::Key_F1);
    switch (key) {
        case Qt::Key_Escape:
            return 0xff1b;
        case Qt::Key_Tab:
            return 0xff09;
        case Qt::Key_Backspace:
            return 0xff08;
        case Qt::Key_Return:
            return 0xff0d;
        case Qt::Key_Enter:
            return 0xff8d;  // the keypad's
        case Qt::Key_Insert:
            return 0xff63;
        case Qt::Key_Delete:
            return 0xffff;
        case Qt::Key_Pause:
            return 0xff13;
        case Qt::Key_Print:
            return 0xff61;
        case Qt::Key_Home:
            return 0xff50;
        case Qt::Key_End:
            return 0xff57;
        case Qt::Key_Left:
            return 0xff51;
        case Qt::Key_Up:
            return 0xff52;
        case Qt::Key_Right:
            return 0xff53;
        case Qt::Key_Down:
            return 0xff54;
        case Qt::Key_PageUp:
            return 0xff55;
        case Qt::Key_PageDown:
            return 0xff56;
        default:
            return 0;
    }
}

std::optional<QKeyCombination> ShortcutCombination(const std::string& text) {
    const QKeySequence seq =
        QKeySequence::fromString(QString::fromStdString(text), QKeySequence::PortableText);
    if (seq.count() != 1) return std::nullopt;
    return seq[0];
}

}  // namespace platform
