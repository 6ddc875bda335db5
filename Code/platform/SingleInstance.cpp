// One running copy per user and display. The running copy holds an exclusive flock on a lock
// file; the kernel drops it when the process dies in any way, so a crashed copy never blocks
// the next start, and two copies started in the same instant cannot both win it. Beside the
// lock the running copy listens on a local socket, through which a later copy asks for the
// window to bring forward.
#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/Paths.h"

namespace platform {
namespace {

// What a later copy asks; the running copy answers with a window id in decimal and a line end.
constexpr char kAskWindow[] = "window?\n";

class LockedInstance : public SingleInstance {
  public:
    // `lockFd` is the held lock, -1 when none is held; `primary` tells whether this copy runs.
    LockedInstance(bool primary, int lockFd, QString socketPath)
        : primary_(primary), lockFd_(lockFd), socketPath_(std::move(socketPath)) {}

    ~LockedInstance() override {
        if (server_) {
            server_->close();
            delete server_.data();
        }
        // Releasing the lock last: a copy starting now finds the socket gone before it wins.
        if (lockFd_ >= 0) ::close(lockFd_);
    }

    bool IsPrimary() const override { return primary_; }

    WindowId RunningCopyWindow(int timeoutMs) override {
        if (IsPrimary()) return 0;
        QElapsedTimer clock;
        clock.start();
        // The running copy may have won the lock a moment ago and not listen yet.
        while (clock.elapsed() < timeoutMs) {
            QLocalSocket socket;
            socket.connectToServer(socketPath_);
            if (socket.waitForConnected(Remaining(clock, timeoutMs))) {
                WindowId w = 0;
                if (Ask(socket, clock, timeoutMs, w)) return w;
            }
            QThread::msleep(20);
        }
        return 0;
    }

    void Serve(std::function<WindowId()> lastActive) override {
        if (!IsPrimary() || server_) return;
        lastActive_ = std::move(lastActive);
        // Owned by the application, so it goes (and removes its socket) with the event loop's
        // objects even when this object outlives them.
        server_ = new QLocalServer(QCoreApplication::instance());
        server_->setSocketOptions(QLocalServer::UserAccessOption);
        // Whatever a crashed copy left at this path is stale: this copy holds the lock.
        QLocalServer::removeServer(socketPath_);
        if (!server_->listen(socketPath_)) return;
        QObject::connect(server_.data(), &QLocalServer::newConnection, server_.data(),
                         [this] { Answer(); });
    }

  private:
    static int Remaining(const QElapsedTimer& clock, int timeoutMs) {
        return std::max(1, timeoutMs - static_cast<int>(clock.elapsed()));
    }

    static bool Ask(QLocalSocket& socket, const QElapsedTimer& clock, int timeoutMs,
                    WindowId& window) {
        socket.write(kAskWindow);
        if (!socket.waitForBytesWritten(Remaining(clock, timeoutMs))) return false;
        QByteArray reply;
        while (!reply.contains('\n')) {
            if (!socket.waitForReadyRead(Remaining(clock, timeoutMs))) return false;
            reply += socket.readAll();
            if (reply.size() > 64) return false;
        }
        bool ok = false;
        const qulonglong id = reply.left(reply.indexOf('\n')).trimmed().toULongLong(&ok);
        if (!ok || id > 0xFFFFFFFFull) return false;
        window = static_cast<WindowId>(id);
        return true;
    }

    void Answer() {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            QObject::connect(peer, &QLocalSocket::readyRead, peer, [this, peer] {
                if (!peer->canReadLine()) {
                    // Nothing sensible is that long; a stray client is cut off.
                    if (peer->bytesAvailable() > 64) peer->abort();
                    return;
                }
                const QByteArray line = peer->readLine();
                if (line != kAskWindow) {
                    peer->abort();
                    return;
                }
                const WindowId w = lastActive_ ? lastActive_() : 0;
                peer->write(QByteArray::number(static_cast<qulonglong>(w)) + "\n");
                peer->flush();
                peer->disconnectFromServer();
            });
        }
    }

    bool primary_;
    int lockFd_;
    QString socketPath_;
    QPointer<QLocalServer> server_;
    std::function<WindowId()> lastActive_;
};

// The display the program runs on, as a file-name part: ":0.0" and ":0" are one display.
std::string DisplayKey() {
    std::string d;
    if (const char* v = std::getenv("DISPLAY"); v && *v)
        d = v;
    else if (const char* w = std::getenv("WAYLAND_DISPLAY"); w && *w)
        d = std::string("wl-") + w;
    else
        d = "none";
    const std::size_t colon = d.rfind(':');
    if (colon != std::string::npos) {
        const std::size_t dot = d.find('.', colon);
        if (dot != std::string::npos) d.erase(dot);
    }
    for (char& c : d) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                           (c >= 'A' && c <= 'Z') || c == '-' || c == '.' || c == ':';
        if (!plain) c = '_';
    }
    return d;
}

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::Claim() {
    const std::string base =
        (RuntimeDir() / ("penrika-" + std::to_string(::getuid()) + "-" + DisplayKey())).string();
    const std::string lockPath = base + ".lock";
    const QString socketPath = QString::fromStdString(base + ".sock");
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        // Without a lock file nothing can be decided; run rather than refuse to start.
        return std::make_unique<LockedInstance>(true, -1, socketPath);
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return std::make_unique<LockedInstance>(false, -1, socketPath);
    }
    if (rc != 0) {
        // A file system without locks: run rather than refuse to start.
        ::close(fd);
        return std::make_unique<LockedInstance>(true, -1, socketPath);
    }
    return std::make_unique<LockedInstance>(true, fd, socketPath);
}

}  // namespace platform
