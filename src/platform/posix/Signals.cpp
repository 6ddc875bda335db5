// SIGTERM, SIGHUP and SIGINT, taken from the signal handler to the event loop through a socket
// pair: the handler only writes a byte, which is all it may safely do.
#include "platform/Signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <csignal>
#include <utility>

namespace platform {
namespace {
int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}
}  // namespace

void OnTerminationRequest(QObject* context, std::function<void()> handler) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [handler = std::move(handler)] {
                         char buf[16];
                         [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], buf, sizeof buf);
                         handler();
                     });
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &sa, nullptr);
}

void EndAsTerminated() {
    std::signal(SIGTERM, SIG_DFL);
    std::raise(SIGTERM);
    ::_exit(128 + SIGTERM);
}

}  // namespace platform
