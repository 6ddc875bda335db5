#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <csignal>
#include <vector>

#include "core/EntryFile.h"
#include "platform/x11/X11Desktop.h"
#include "ui/HelpViewer.h"
#include "ui/MainToolbar.h"
#include "ui/Startup.h"

namespace {
int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

// SIGTERM, SIGHUP and SIGINT close the toolbar as a close request would, saving the entries.
void HandleTerminationSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char buf[16];
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], buf, sizeof buf);
        if (MainToolbar* main = MainToolbar::Instance()) main->CloseForShutdown();
    });
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &sa, nullptr);
}
}  // namespace

int main(int argc, char** argv) {
    // The desktop layer speaks X11; under Wayland the program runs through XWayland.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Penrika");
    QApplication::setQuitOnLastWindowClosed(false);
    InstallQtTranslations();
    std::unique_ptr<platform::Desktop> desktop =
        platform::CreateX11Desktop({ShowHelpWindow, CloseHelpWindow});
    platform::SetDesktop(desktop.get());
    HandleTerminationSignals(app);
    // The end of the desktop session saves as a close does.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, [](QSessionManager&) {
        try {
            SaveEntries();
        } catch (const EntryFileError&) {
            // Reported when the window closes.
        }
    });
    if (!Main()) return 1;
    int rc = app.exec();
    // Windows go before the desktop layer that watches them.
    // (Guarded: deleting a window also deletes the dialogs it owns.)
    std::vector<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets()) windows.emplace_back(w);
    for (QPointer<QWidget>& w : windows) delete w.data();
    platform::SetDesktop(nullptr);
    return rc;
}
