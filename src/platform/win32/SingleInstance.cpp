// One running copy per user and session. The running copy owns a named mutex in the session's
// namespace; the system releases it when the process ends in any way (a crashed copy's mutex
// comes back abandoned, which counts as won), and two copies started in the same instant
// cannot both own it. Beside it the running copy serves a named pipe through which a later
// copy asks for the window to bring forward. Both names carry the user's SID; the later copy
// trusts an answer only from a process of the same user.
#include "platform/SingleInstance.h"
#include "platform/win32/Win32Support.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <QObject>
#include <QTimer>
#include <QWinEventNotifier>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {
namespace {

// Connections that have had their answer and stay open longer are dropped, so that an idle
// client cannot keep later copies waiting.
constexpr int kDrainWithinMs = 1500;

std::string SystemMessage(DWORD err) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring w = text ? text : L"";
    LocalFree(text);
    while (!w.empty() && (w.back() == L'\n' || w.back() == L'\r' || w.back() == L' '))
        w.pop_back();
    if (w.empty()) return "エラー " + std::to_string(err);
    return win32::ToUtf8(w);
}

// The SID of the user a process runs as, as text; empty when it cannot be read.
std::wstring UserSidOf(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
    std::wstring sid;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    auto buf = std::make_unique<std::byte[]>(size);
    if (size && GetTokenInformation(token, TokenUser, buf.get(), size, &size)) {
        wchar_t* text = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buf.get())->User.Sid, &text)) {
            sid = text;
            LocalFree(text);
        }
    }
    CloseHandle(token);
    return sid;
}

std::wstring PipeName(const std::wstring& sid) {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return L"\\\\.\\pipe\\Penrika-" + std::to_wstring(session) + L"-" + sid;
}

class MutexInstance : public SingleInstance {
  public:
    MutexInstance(bool primary, HANDLE mutex, std::wstring sid, std::string failure = {})
        : primary_(primary), mutex_(mutex), sid_(std::move(sid)), failure_(std::move(failure)) {}

    ~MutexInstance() override {
        delete notifier_;
        delete drainTimer_;
        if (pipe_ != INVALID_HANDLE_VALUE) {
            CancelIo(pipe_);
            CloseHandle(pipe_);
        }
        if (event_) CloseHandle(event_);
        // Released last: a copy starting now finds the pipe gone before it wins.
        if (mutex_) {
            if (primary_) ReleaseMutex(mutex_);
            CloseHandle(mutex_);
        }
    }

    bool IsPrimary() const override { return primary_; }
    std::string Failure() const override { return failure_; }

    WindowId RunningCopyWindow(int timeoutMs) override {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        auto remaining = [&] {
            return static_cast<DWORD>(std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(
                       deadline - std::chrono::steady_clock::now())
                       .count()));
        };
        const std::wstring name = PipeName(sid_);
        while (remaining() > 0) {
            HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
            if (pipe == INVALID_HANDLE_VALUE) {
                // Busy with another copy, or not serving yet (the running copy is starting).
                if (GetLastError() == ERROR_PIPE_BUSY)
                    WaitNamedPipeW(name.c_str(), std::max<DWORD>(1, remaining()));
                else
                    Sleep(20);
                continue;
            }
            WindowId w = ReadAnswer(pipe, remaining());
            CloseHandle(pipe);
            return w;
        }
        return 0;
    }

    void Serve(std::function<WindowId()> lastActive) override {
        if (!primary_ || notifier_) return;
        lastActive_ = std::move(lastActive);
        event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        pipe_ = CreateNamedPipeW(PipeName(sid_).c_str(),
                                 PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                                     FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_REJECT_REMOTE_CLIENTS,
                                 1, 64, 64, 0, nullptr);
        // Without the pipe later copies find no window and simply end.
        if (!event_ || pipe_ == INVALID_HANDLE_VALUE) return;
        notifier_ = new QWinEventNotifier(event_);
        QObject::connect(notifier_, &QWinEventNotifier::activated, [this] { Step(); });
        drainTimer_ = new QTimer;
        drainTimer_->setSingleShot(true);
        QObject::connect(drainTimer_, &QTimer::timeout, [this] { Reconnect(); });
        Listen();
    }

  private:
    // A copy started from this one's own program file and user: the running copy.
    bool ServerIsOurs(HANDLE pipe) {
        ULONG pid = 0;
        if (!GetNamedPipeServerProcessId(pipe, &pid)) return false;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (!process) return false;
        const bool same = UserSidOf(process) == sid_;
        CloseHandle(process);
        // It may bring its window forward itself, which the foreground lock allows only to
        // the program the user just started (this one) and those it names.
        if (same) AllowSetForegroundWindow(pid);
        return same;
    }

    WindowId ReadAnswer(HANDLE pipe, DWORD timeoutMs) {
        if (!ServerIsOurs(pipe)) return 0;
        std::uint64_t value = 0;
        OVERLAPPED ov{};
        ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD got = 0;
        bool ok = ReadFile(pipe, &value, sizeof value, nullptr, &ov) ||
                  GetLastError() == ERROR_IO_PENDING;
        if (ok && WaitForSingleObject(ov.hEvent, timeoutMs) != WAIT_OBJECT_0) {
            CancelIo(pipe);
            ok = false;
        }
        ok = ok && GetOverlappedResult(pipe, &ov, &got, TRUE) && got == sizeof value;
        CloseHandle(ov.hEvent);
        return ok ? static_cast<WindowId>(value) : 0;
    }

    void Listen() {
        state_ = State::Connecting;
        ResetEvent(event_);
        ov_ = OVERLAPPED{};
        ov_.hEvent = event_;
        if (ConnectNamedPipe(pipe_, &ov_)) {
            SetEvent(event_);
        } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
            SetEvent(event_);
        } else if (GetLastError() != ERROR_IO_PENDING) {
            DisconnectNamedPipe(pipe_);
            QTimer::singleShot(1000, notifier_, [this] { Listen(); });
        }
    }

    void Step() {
        ResetEvent(event_);
        if (state_ == State::Connecting) {
            DWORD unused = 0;
            if (!GetOverlappedResult(pipe_, &ov_, &unused, FALSE) &&
                GetLastError() != ERROR_PIPE_CONNECTED) {
                Reconnect();
                return;
            }
            const std::uint64_t value = lastActive_ ? lastActive_() : 0;
            DWORD written = 0;
            OVERLAPPED wov{};
            wov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            // Eight bytes fit the pipe's buffer: the write does not wait for the reader.
            if (!WriteFile(pipe_, &value, sizeof value, nullptr, &wov) &&
                GetLastError() == ERROR_IO_PENDING)
                WaitForSingleObject(wov.hEvent, 100);
            GetOverlappedResult(pipe_, &wov, &written, FALSE);
            CloseHandle(wov.hEvent);
            // Wait for the reader to close its end, so that the answer is not dropped unread.
            state_ = State::Draining;
            ov_ = OVERLAPPED{};
            ov_.hEvent = event_;
            static char sink[16];
            if (!ReadFile(pipe_, sink, sizeof sink, nullptr, &ov_) &&
                GetLastError() != ERROR_IO_PENDING) {
                Reconnect();
                return;
            }
            drainTimer_->start(kDrainWithinMs);
            return;
        }
        Reconnect();
    }

    void Reconnect() {
        drainTimer_->stop();
        CancelIo(pipe_);
        DisconnectNamedPipe(pipe_);
        Listen();
    }

    enum class State { Connecting, Draining };

    bool primary_;
    HANDLE mutex_;
    std::wstring sid_;
    std::string failure_;
    std::function<WindowId()> lastActive_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
    OVERLAPPED ov_{};
    State state_ = State::Connecting;
    QWinEventNotifier* notifier_ = nullptr;
    QTimer* drainTimer_ = nullptr;
};

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::Claim() {
    const std::wstring sid = UserSidOf(GetCurrentProcess());
    if (sid.empty()) {
        return std::make_unique<MutexInstance>(
            false, nullptr, sid,
            "起動の確認に使うユーザー情報を読めません（" + SystemMessage(GetLastError()) + "）。");
    }
    const std::wstring name = L"Local\\Penrika-" + sid;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex) {
        return std::make_unique<MutexInstance>(
            false, nullptr, sid,
            "起動の確認に使うミューテックスを作れません（" + SystemMessage(GetLastError()) + "）。");
    }
    const DWORD wait = WaitForSingleObject(mutex, 0);
    const bool primary = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    return std::make_unique<MutexInstance>(primary, mutex, sid);
}

}  // namespace platform
