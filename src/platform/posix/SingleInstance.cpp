// One running copy per user and display. The running copy holds an exclusive flock on a lock
// file; the kernel drops it when the process dies in any way, so a crashed copy never blocks
// the next start, and two copies started in the same instant cannot both win it. Beside the
// lock the running copy listens on a local socket, through which a later copy asks for the
// window to bring forward. Both live in a folder that only this user can reach: anyone who
// could write there could hold the lock, answer for the running copy or remove its files.
#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/SystemReason.h"
#include "platform/Paths.h"

namespace platform {
namespace {

// What a later copy asks; the running copy answers with a window id in decimal and a line end,
// or to a fill request with kFillTaken before it fills.
constexpr char kAskWindow[] = "window?\n";
constexpr char kAskFill[] = "fill\n";
constexpr char kFillTaken[] = "ok\n";
// A later copy asks as soon as it connects. Connections silent for longer are dropped, so that
// idle clients cannot use up the running copy's open files.
constexpr int kAskWithinMs = 1500;
// Qt stops listening for good when accepting a connection fails (as at the open-file limit);
// the running copy looks this often and listens again.
constexpr int kListenCheckMs = 1000;

class LockedInstance : public SingleInstance {
  public:
    // `lockFd` is the held lock, -1 when none is held; `primary` tells whether this copy runs.
    LockedInstance(bool primary, int lockFd, QString socketPath, std::string failure = {})
        : primary_(primary),
          lockFd_(lockFd),
          socketPath_(std::move(socketPath)),
          failure_(std::move(failure)) {}

    ~LockedInstance() override {
        if (server_) {
            server_->close();
            delete server_.data();
        }
        // Releasing the lock last: a copy starting now finds the socket gone before it wins.
        if (lockFd_ >= 0) ::close(lockFd_);
    }

    bool IsPrimary() const override { return primary_; }
    std::string Failure() const override { return failure_; }

    WindowId RunningCopyWindow(int timeoutMs) override {
        QByteArray reply = Request(kAskWindow, timeoutMs);
        bool ok = false;
        const qulonglong id = reply.trimmed().toULongLong(&ok);
        if (!ok || static_cast<qulonglong>(static_cast<WindowId>(id)) != id) return 0;
        return static_cast<WindowId>(id);
    }

    bool AskToFill(int timeoutMs) override { return Request(kAskFill, timeoutMs) == kFillTaken; }

    void Serve(std::function<WindowId()> lastActive, std::function<void()> fill) override {
        if (!IsPrimary() || server_) return;
        lastActive_ = std::move(lastActive);
        fill_ = std::move(fill);
        // Owned by the application, so it goes (and removes its socket) with the event loop's
        // objects even when this object outlives them.
        server_ = new QLocalServer(QCoreApplication::instance());
        server_->setSocketOptions(QLocalServer::UserAccessOption);
        QObject::connect(server_.data(), &QLocalServer::newConnection, server_.data(),
                         [this] { Answer(); });
        Listen();
        auto* check = new QTimer(server_.data());
        QObject::connect(check, &QTimer::timeout, server_.data(), [this] {
            if (!server_->isListening()) Listen();
        });
        check->start(kListenCheckMs);
    }

  private:
    void Listen() {
        // Whatever a crashed copy left at this path is stale: this copy holds the lock.
        QLocalServer::removeServer(socketPath_);
        server_->listen(socketPath_);
    }

    static int Remaining(const QElapsedTimer& clock, int timeoutMs) {
        return std::max(1, timeoutMs - static_cast<int>(clock.elapsed()));
    }

    // Sends `question` to the running copy and returns its answer line (with its line end);
    // empty when none came in time.
    QByteArray Request(const char* question, int timeoutMs) {
        if (IsPrimary()) return {};
        QElapsedTimer clock;
        clock.start();
        // The running copy may have won the lock a moment ago and not listen yet.
        while (clock.elapsed() < timeoutMs) {
            QLocalSocket socket;
            socket.connectToServer(socketPath_);
            if (socket.waitForConnected(Remaining(clock, timeoutMs))) {
                QByteArray reply;
                if (Ask(socket, question, clock, timeoutMs, reply)) return reply;
            }
            QThread::msleep(20);
        }
        return {};
    }

    static bool Ask(QLocalSocket& socket, const char* question, const QElapsedTimer& clock,
                    int timeoutMs, QByteArray& reply) {
        socket.write(question);
        if (!socket.waitForBytesWritten(Remaining(clock, timeoutMs))) return false;
        while (!reply.contains('\n')) {
            if (!socket.waitForReadyRead(Remaining(clock, timeoutMs))) return false;
            reply += socket.readAll();
            if (reply.size() > 64) return false;
        }
        reply = reply.left(reply.indexOf('\n') + 1);
        return true;
    }

    void Answer() {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            QTimer::singleShot(kAskWithinMs, peer, [peer] {
                peer->abort();
                peer->deleteLater();
            });
            QObject::connect(peer, &QLocalSocket::readyRead, peer, [this, peer] {
                if (!peer->canReadLine()) {
                    // Nothing sensible is that long; a stray client is cut off.
                    if (peer->bytesAvailable() > 64) peer->abort();
                    return;
                }
                const QByteArray line = peer->readLine();
                if (line == kAskFill) {
                    peer->write(kFillTaken);
                    peer->flush();
                    peer->disconnectFromServer();
                    // Once this answer is out: the fill runs event loops of its own.
                    if (fill_) QTimer::singleShot(0, server_.data(), fill_);
                    return;
                }
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
    std::string failure_;
    QPointer<QLocalServer> server_;
    std::function<WindowId()> lastActive_;
    std::function<void()> fill_;
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

std::string SystemError(int err) {
    return SystemReason(err);
}

// Whether `st` is a folder of this user's that nobody else can reach; otherwise `why` says so.
bool IsPrivate(const struct stat& st, std::string& why) {
    if (S_ISLNK(st.st_mode))
        why = "シンボリックリンクです";
    else if (!S_ISDIR(st.st_mode))
        why = "フォルダーではありません";
    else if (st.st_uid != ::getuid())
        why = "ほかのユーザーのフォルダーです";
    else if ((st.st_mode & 077) != 0)
        why = "ほかのユーザーも使えるフォルダーです";
    else
        return true;
    return false;
}

// Makes `dir` with mode 0700 when missing and checks what is there, never following a link:
// someone else may have put a folder or a link at that name first.
bool MakePrivateDir(const std::string& dir, std::string& why) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        why = SystemError(errno);
        return false;
    }
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0) {
        why = SystemError(errno);
        return false;
    }
    if (!IsPrivate(st, why)) return false;
    if ((st.st_mode & 0777) != 0700) {
        why = "アクセス権が 0700 ではありません";
        return false;
    }
    return true;
}

std::string AbsoluteEnv(const char* name) {
    const char* v = std::getenv(name);
    return v && *v == '/' ? v : "";
}

// The folder for the lock and socket: the session's runtime directory when it is this user's
// own, else a folder in the user's cache. Never a shared temporary folder: anyone can make or
// remove a name there, so which folder a start took would depend on what others did, and two
// starts that took different folders would both run. Empty, with `failure` set, when neither
// is private.
std::string LockFolder(std::string& failure) {
    std::string why;
    if (const std::string run = AbsoluteEnv("XDG_RUNTIME_DIR"); !run.empty()) {
        struct stat st;
        if (::stat(run.c_str(), &st) == 0 && IsPrivate(st, why) && (st.st_mode & 0777) == 0700)
            return run;
    }
    const std::string cache = CacheHome().string();
    std::error_code ec;
    std::filesystem::create_directories(cache, ec);
    const std::string own = cache + "/Penrika";
    if (MakePrivateDir(own, why)) return own;
    failure = "起動の確認に使うフォルダー " + own + " を使えません（" + why + "）。";
    return {};
}

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::Claim() {
    std::string failure;
    const std::string folder = LockFolder(failure);
    if (folder.empty()) return std::make_unique<LockedInstance>(false, -1, QString(), failure);
    const std::string base = folder + "/penrika-" + std::to_string(::getuid()) + "-" + DisplayKey();
    const std::string lockPath = base + ".lock";
    const QString socketPath = QString::fromStdString(base + ".sock");
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        const int err = errno;
        // Without the lock nothing can be decided, and running anyway would let every launch
        // run side by side.
        failure =
            "起動の確認に使うファイル " + lockPath + " を開けません（" + SystemError(err) + "）。";
        return std::make_unique<LockedInstance>(false, -1, socketPath, failure);
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
