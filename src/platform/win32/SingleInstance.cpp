// One running copy per user and session. The running copy owns a named mutex in the session's
// namespace; the system releases it when the process ends in any way (a crashed copy's mutex
// comes back abandoned, which counts as won), and two copies started in the same instant
// cannot both own it. Beside it the running copy serves a named pipe through which a later
// copy asks for the window to bring forward, or for a fill. Both names carry the user's SID;
// each end deals only with a process of the same user.
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
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace platform {
namespace {

// What a later copy asks, as soon as it connects; the running copy answers the first with the
// window as eight bytes, the second with kFillTaken before it fills.
constexpr char kAskWindow[] = "window?\n";
constexpr char kAskFill[] = "fill\n";
constexpr char kFillTaken[] = "ok\n";
// Connections that have not asked, or have had their answer and stay open, longer are dropped,
// so that an idle client cannot keep later copies waiting.
constexpr int kAskWithinMs = 1500;
constexpr int kDrainWithinMs = 1500;
// Nothing sensible asked is longer.
constexpr std::size_t kMaxQuestion = 64;

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
        const std::string answer = Request(kAskWindow, sizeof(std::uint64_t), timeoutMs);
        std::uint64_t value = 0;
        if (answer.size() != sizeof value) return 0;
        std::memcpy(&value, answer.data(), sizeof value);
        return static_cast<WindowId>(value);
    }

    bool AskToFill(int timeoutMs) override {
        return Request(kAskFill, std::strlen(kFillTaken), timeoutMs) == kFillTaken;
    }

    void Serve(std::function<WindowId()> lastActive, std::function<void()> fill) override {
        if (!primary_ || notifier_) return;
        lastActive_ = std::move(lastActive);
        fill_ = std::move(fill);
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
    enum class State { Connecting, Asking, Draining };

    // A copy started from this one's own program file and user: the running copy.
    bool ServerIsOurs(HANDLE pipe) {
        ULONG pid = 0;
        if (!GetNamedPipeServerProcessId(pipe, &pid)) return false;
        const bool same = RunsAsUs(pid);
        // It may bring its window forward itself, which the foreground lock allows only to
        // the program the user just started (this one) and those it names.
        if (same) AllowSetForegroundWindow(pid);
        return same;
    }

    static DWORD Remaining(std::chrono::steady_clock::time_point deadline) {
        return static_cast<DWORD>(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(
                   deadline - std::chrono::steady_clock::now())
                   .count()));
    }

    // Sends `question` to the running copy and returns the `answerSize` bytes of its answer;
    // empty when none came in time.
    std::string Request(const char* question, std::size_t answerSize, int timeoutMs) {
        if (primary_) return {};
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        const std::wstring name = PipeName(sid_);
        while (Remaining(deadline) > 0) {
            HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
            if (pipe == INVALID_HANDLE_VALUE) {
                // Busy with another copy, or not serving yet (the running copy is starting).
                if (GetLastError() == ERROR_PIPE_BUSY)
                    WaitNamedPipeW(name.c_str(), std::max<DWORD>(1, Remaining(deadline)));
                else
                    Sleep(20);
                continue;
            }
            std::string answer;
            if (ServerIsOurs(pipe)) answer = Exchange(pipe, question, answerSize, deadline);
            CloseHandle(pipe);
            return answer;
        }
        return {};
    }

    static std::string Exchange(HANDLE pipe, const char* question, std::size_t answerSize,
                                std::chrono::steady_clock::time_point deadline) {
        OVERLAPPED ov{};
        ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!ov.hEvent) return {};
        // One overlapped transfer, waited for until the deadline; the bytes moved, or -1.
        auto transfer = [&](bool write, char* data, DWORD size) -> long {
            ResetEvent(ov.hEvent);
            DWORD done = 0;
            const bool started = write ? WriteFile(pipe, data, size, nullptr, &ov)
                                       : ReadFile(pipe, data, size, nullptr, &ov);
            if (!started && GetLastError() != ERROR_IO_PENDING) return -1;
            if (WaitForSingleObject(ov.hEvent, Remaining(deadline)) != WAIT_OBJECT_0) {
                CancelIo(pipe);
                GetOverlappedResult(pipe, &ov, &done, TRUE);
                return -1;
            }
            return GetOverlappedResult(pipe, &ov, &done, FALSE) ? long(done) : -1;
        };
        std::string ask = question;
        std::string answer(answerSize, '\0');
        bool ok = transfer(true, ask.data(), DWORD(ask.size())) == long(ask.size());
        for (std::size_t got = 0; ok && got < answerSize;) {
            const long n = transfer(false, answer.data() + got, DWORD(answerSize - got));
            ok = n > 0;
            got += ok ? std::size_t(n) : 0;
        }
        CloseHandle(ov.hEvent);
        return ok ? answer : std::string();
    }

    // The copy that connected runs as this user: another user's program neither learns our
    // window nor makes us type.
    bool ClientIsOurs() {
        ULONG pid = 0;
        return GetNamedPipeClientProcessId(pipe_, &pid) && RunsAsUs(pid);
    }

    // Whether process `pid` runs as this user.
    bool RunsAsUs(ULONG pid) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (!process) return false;
        const bool same = UserSidOf(process) == sid_;
        CloseHandle(process);
        return same;
    }

    void Listen() {
        state_ = State::Connecting;
        ResetEvent(event_);
        ov_ = OVERLAPPED{};
        ov_.hEvent = event_;
        if (ConnectNamedPipe(pipe_, &ov_)) {
            SetEvent(event_);
        } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
            connectedAtOnce_ = true;
            SetEvent(event_);
        } else if (GetLastError() != ERROR_IO_PENDING) {
            DisconnectNamedPipe(pipe_);
            QTimer::singleShot(1000, notifier_, [this] { Listen(); });
        }
    }

    void Step() {
        ResetEvent(event_);
        DWORD got = 0;
        // A connection made before ConnectNamedPipe was called leaves nothing in ov_.
        const bool done =
            std::exchange(connectedAtOnce_, false) || GetOverlappedResult(pipe_, &ov_, &got, FALSE);
        // Woken by an operation cancelled before the one now pending.
        if (!done && GetLastError() == ERROR_IO_INCOMPLETE) return;
        switch (state_) {
            case State::Connecting:
                if (!done && GetLastError() != ERROR_PIPE_CONNECTED) return Reconnect();
                if (!ClientIsOurs()) return Reconnect();
                question_.clear();
                drainTimer_->start(kAskWithinMs);
                return ReadNext(State::Asking);
            case State::Asking:
                if (!done) return Reconnect();
                question_.append(buffer_, got);
                if (question_.find('\n') != std::string::npos) return Answer();
                if (question_.size() > kMaxQuestion) return Reconnect();
                return ReadNext(State::Asking);
            case State::Draining:
                // The reader has closed its end (or says more than it should).
                return Reconnect();
        }
    }

    void ReadNext(State state) {
        state_ = state;
        ov_ = OVERLAPPED{};
        ov_.hEvent = event_;
        if (!ReadFile(pipe_, buffer_, sizeof buffer_, nullptr, &ov_) &&
            GetLastError() != ERROR_IO_PENDING)
            Reconnect();
    }

    void Answer() {
        const std::string line = question_.substr(0, question_.find('\n') + 1);
        std::string answer;
        const bool fill = line == kAskFill;
        if (fill) {
            answer = kFillTaken;
        } else if (line == kAskWindow) {
            const std::uint64_t value = lastActive_ ? lastActive_() : 0;
            answer.assign(reinterpret_cast<const char*>(&value), sizeof value);
        } else {
            return Reconnect();
        }
        DWORD written = 0;
        OVERLAPPED wov{};
        wov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        // A few bytes fit the pipe's buffer: the write does not wait for the reader.
        if (!WriteFile(pipe_, answer.data(), DWORD(answer.size()), nullptr, &wov) &&
            GetLastError() == ERROR_IO_PENDING &&
            WaitForSingleObject(wov.hEvent, 100) != WAIT_OBJECT_0)
            CancelIo(pipe_);  // and waited for below: wov must outlive the write
        const bool sent =
            GetOverlappedResult(pipe_, &wov, &written, TRUE) && written == answer.size();
        CloseHandle(wov.hEvent);
        if (!sent) return Reconnect();
        // Wait for the reader to close its end, so that the answer is not dropped unread.
        drainTimer_->start(kDrainWithinMs);
        ReadNext(State::Draining);
        // Once the answer is out: the fill runs event loops of its own.
        if (fill && fill_) QTimer::singleShot(0, notifier_, fill_);
    }

    void Reconnect() {
        drainTimer_->stop();
        CancelIo(pipe_);
        DisconnectNamedPipe(pipe_);
        Listen();
    }

    bool primary_;
    HANDLE mutex_;
    std::wstring sid_;
    std::string failure_;
    std::function<WindowId()> lastActive_;
    std::function<void()> fill_;
    std::string question_;
    char buffer_[16];
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
    OVERLAPPED ov_{};
    State state_ = State::Connecting;
    bool connectedAtOnce_ = false;
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
