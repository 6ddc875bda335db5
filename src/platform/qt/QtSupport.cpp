#include "platform/qt/QtSupport.h"

#include <QApplication>
#include <QEventLoop>
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

}  // namespace platform
