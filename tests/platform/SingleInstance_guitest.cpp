// One copy per user and display, with the real program: a second launch brings the running
// copy's toolbar forward and ends; simultaneous launches leave one; a killed copy's leftovers
// do not block the next start; a lock that cannot be opened is reported; clients that never ask,
// or the open-file limit, do not stop the hand-over, nor does a session without a runtime
// directory. In-process: the claim, and the folder it uses when the session has no runtime
// directory of the user's own.
#include "platform/SingleInstance.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "support/GuiApp.h"
#include "support/Launch.h"
#include "support/TempHome.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

QApplication& App() {
    return GuiApp();
}

const char kToolbar[] = "^Penrika$";
const char kErrorBox[] = "^Penrika：エラー$";

// The lock or socket of this user and display in `dir` (the display as the tests run it, ":N").
fs::path InstanceFile(const fs::path& dir, const char* ext) {
    return dir / ("penrika-" + std::to_string(::getuid()) + "-" + std::getenv("DISPLAY") + ext);
}

fs::path RuntimeFile(const char* ext) {
    return InstanceFile(std::getenv("XDG_RUNTIME_DIR"), ext);
}

// Sets (or, with nullopt, unsets) an environment variable for the scope's time.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* v = std::getenv(name)) old_ = v;
        Set(value);
    }
    ~ScopedEnv() { Set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void Set(const std::optional<std::string>& v) {
        v ? ::setenv(name_.c_str(), v->c_str(), 1) : ::unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> old_;
};

// Makes `dir` as another user's folder that anyone may write to, as a hostile user would
// plant it in a shared temporary folder.
void PlantForeignFolder(const fs::path& dir) {
    fs::create_directory(dir);
    ::chmod(dir.c_str(), 0777);
    ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
}

// A client connected to the running copy's socket that sends nothing; -1 when refused.
int ConnectSilently(const fs::path& socket) {
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socket.c_str(), sizeof addr.sun_path - 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the other end closed `fd` within the timeout.
bool ClosedByPeer(int fd, std::chrono::milliseconds timeout) {
    pollfd p = {fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return false;
    char c;
    return ::read(fd, &c, 1) <= 0;
}

class SingleInstanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        // What an earlier test's copies left on screen is gone first.
        ASSERT_TRUE(WaitUntil([] { return WindowsNamed(kToolbar).empty(); }));
        copy_ = std::make_unique<PortableCopy>(home_.appDir());
    }

    // Starts the first copy and returns its toolbar's window id.
    std::string StartFirst(pid_t& pid) {
        pid = copy_->Start();
        std::string id;
        WaitUntil([&] {
            auto ids = WindowsNamed(kToolbar);
            if (ids.size() == 1) id = ids[0];
            return !id.empty();
        });
        return id;
    }

    // A window of the test's own that the user is working in.
    void ActivateOtherWindow() {
        other_ = std::make_unique<QWidget>(nullptr, Qt::Window);
        other_->setWindowTitle("Other");
        other_->setGeometry(400, 300, 300, 200);
        other_->show();
        other_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(other_.get()));
        ASSERT_TRUE(WaitUntil([&] { return ActiveWindowId() == std::to_string(other_->winId()); }));
    }

    int RunningCount(const std::vector<pid_t>& pids) {
        int n = 0;
        for (pid_t p : pids) n += copy_->Running(p);
        return n;
    }

    TempHome home_;
    std::unique_ptr<PortableCopy> copy_;
    std::unique_ptr<QWidget> other_;
};

TEST_F(SingleInstanceTest, SecondLaunchBringsTheToolbarForwardAndEnds) {
    pid_t first;
    const std::string toolbar = StartFirst(first);
    ASSERT_FALSE(toolbar.empty());
    ActivateOtherWindow();

    pid_t second = copy_->Start();
    EXPECT_EQ(copy_->WaitExit(second), 0);
    EXPECT_TRUE(copy_->Running(first));
    EXPECT_EQ(WindowsNamed(kToolbar), std::vector<std::string>{toolbar});
    EXPECT_TRUE(WaitUntil([&] { return ActiveWindowId() == toolbar; }, 5s))
        << "active: " << ActiveWindowId() << ", toolbar: " << toolbar;
}

TEST_F(SingleInstanceTest, SecondLaunchRestoresAMinimisedToolbar) {
    pid_t first;
    const std::string toolbar = StartFirst(first);
    ASSERT_FALSE(toolbar.empty());
    ActivateOtherWindow();
    Capture("xdotool windowminimize " + toolbar);
    ASSERT_TRUE(WaitUntil(
        [&] { return WindowState(toolbar).find("_NET_WM_STATE_HIDDEN") != std::string::npos; }));

    pid_t second = copy_->Start();
    EXPECT_EQ(copy_->WaitExit(second), 0);
    EXPECT_TRUE(WaitUntil(
        [&] {
            return WindowState(toolbar).find("_NET_WM_STATE_HIDDEN") == std::string::npos &&
                   ActiveWindowId() == toolbar;
        },
        5s))
        << WindowState(toolbar) << " active: " << ActiveWindowId();
    EXPECT_TRUE(copy_->Running(first));
}

TEST_F(SingleInstanceTest, LaunchesInTheSameInstantLeaveOneCopy) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        std::vector<pid_t> pids;
        for (int i = 0; i < 4; ++i) pids.push_back(copy_->Start());
        // Three end by themselves; one stays and shows its toolbar.
        EXPECT_TRUE(WaitUntil([&] { return RunningCount(pids) <= 1; }, 15s));
        EXPECT_TRUE(WaitUntil([&] { return WindowsNamed(kToolbar).size() == 1; }, 10s));
        EXPECT_EQ(RunningCount(pids), 1);
        EXPECT_EQ(WindowsNamed(kToolbar).size(), 1u);
        for (pid_t p : pids) {
            if (copy_->Running(p)) {
                ::kill(p, SIGTERM);
                EXPECT_EQ(copy_->WaitExit(p), 0);
            }
        }
        ASSERT_TRUE(WaitUntil([] { return WindowsNamed(kToolbar).empty(); }));
    }
}

TEST_F(SingleInstanceTest, AKilledCopyDoesNotBlockTheNextStart) {
    pid_t first;
    ASSERT_FALSE(StartFirst(first).empty());
    ::kill(first, SIGKILL);
    EXPECT_EQ(copy_->WaitExit(first), 128 + SIGKILL);
    ASSERT_TRUE(WaitUntil([] { return WindowsNamed(kToolbar).empty(); }));
    // The killed copy's lock file and socket are still there.
    int leftovers = 0;
    for (const auto& e : fs::directory_iterator(std::getenv("XDG_RUNTIME_DIR")))
        leftovers += e.path().filename().string().rfind("penrika-", 0) == 0;
    EXPECT_EQ(leftovers, 2);

    pid_t next;
    const std::string toolbar = StartFirst(next);
    ASSERT_FALSE(toolbar.empty()) << "the next start was blocked";
    EXPECT_TRUE(copy_->Running(next));
    // And it answers later copies through a fresh socket.
    ActivateOtherWindow();
    pid_t later = copy_->Start();
    EXPECT_EQ(copy_->WaitExit(later), 0);
    EXPECT_TRUE(WaitUntil([&] { return ActiveWindowId() == toolbar; }, 5s));
}

TEST_F(SingleInstanceTest, ALockThatCannotBeOpenedIsReportedAndTheCopyEnds) {
    // A link planted at the lock's name is never followed, and no copy runs unguarded.
    const fs::path target = home_.root() / "planted";
    fs::remove(RuntimeFile(".lock"));
    fs::create_symlink(target, RuntimeFile(".lock"));
    pid_t pid = copy_->Start();
    std::string box;
    EXPECT_TRUE(WaitUntil([&] {
        auto ids = WindowsNamed(kErrorBox);
        if (!ids.empty()) box = ids[0];
        return !box.empty();
    })) << "no message";
    EXPECT_TRUE(WindowsNamed(kToolbar).empty()) << "the copy must not run";
    if (!box.empty()) Capture("xdotool windowactivate --sync " + box + " key Return");
    EXPECT_EQ(copy_->WaitExit(pid), 1);
    EXPECT_FALSE(fs::exists(fs::symlink_status(target)));
    fs::remove(RuntimeFile(".lock"));
}

TEST_F(SingleInstanceTest, ALaunchAfterTheOpenFileLimitStillBringsTheToolbarForward) {
    pid_t first;
    const std::string toolbar = StartFirst(first);
    ASSERT_FALSE(toolbar.empty());
    // The running copy may open two more files; idle clients take them and then some.
    const auto inUse = std::distance(
        fs::directory_iterator("/proc/" + std::to_string(first) + "/fd"), fs::directory_iterator{});
    const rlimit limit = {rlim_t(inUse + 2), rlim_t(inUse + 2)};
    ASSERT_EQ(::prlimit(first, RLIMIT_NOFILE, &limit, nullptr), 0) << std::strerror(errno);
    std::vector<int> clients;
    for (int i = 0; i < 20; ++i) {
        if (int fd = ConnectSilently(RuntimeFile(".sock")); fd >= 0) clients.push_back(fd);
    }
    for (int fd : clients) {
        EXPECT_TRUE(ClosedByPeer(fd, 5s));
        ::close(fd);
    }
    // Listening again once the files are free.
    EXPECT_TRUE(WaitUntil([] { return fs::exists(RuntimeFile(".sock")); }));
    ActivateOtherWindow();
    pid_t second = copy_->Start();
    EXPECT_EQ(copy_->WaitExit(second), 0);
    EXPECT_TRUE(WaitUntil([&] { return ActiveWindowId() == toolbar; }, 5s))
        << "active: " << ActiveWindowId() << ", toolbar: " << toolbar;
    EXPECT_TRUE(copy_->Running(first));
}

// Without a runtime directory, another user can make $TMPDIR/penrika-<uid> first and remove it
// once the running copy has settled elsewhere: the next launch must still find that copy.
TEST_F(SingleInstanceTest, WithoutARuntimeDirectoryASecondLaunchStillFindsTheRunningCopy) {
    const fs::path tmp = home_.root() / "tmp";
    const fs::path shared = tmp / ("penrika-" + std::to_string(::getuid()));
    fs::create_directory(tmp);
    ScopedEnv noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    ScopedEnv tmpdir("TMPDIR", tmp.string());
    PlantForeignFolder(shared);
    pid_t first;
    const std::string toolbar = StartFirst(first);
    ASSERT_FALSE(toolbar.empty());
    fs::remove_all(shared);
    ActivateOtherWindow();

    pid_t second = copy_->Start();
    EXPECT_EQ(copy_->WaitExit(second), 0) << "a second copy runs";
    EXPECT_TRUE(copy_->Running(first));
    EXPECT_EQ(WindowsNamed(kToolbar), std::vector<std::string>{toolbar});
    EXPECT_TRUE(WaitUntil([&] { return ActiveWindowId() == toolbar; }, 5s))
        << "active: " << ActiveWindowId() << ", toolbar: " << toolbar;
    EXPECT_FALSE(fs::exists(fs::symlink_status(shared))) << "made again in the shared folder";
}

// In-process: the claim itself, without the program around it.
TEST(SingleInstanceClaim, OneClaimWinsUntilItIsReleased) {
    App();
    auto first = platform::SingleInstance::Claim();
    ASSERT_TRUE(first->IsPrimary());
    int fills = 0;
    first->Serve([] { return platform::WindowId{0x1234567}; }, [&fills] { ++fills; });
    // flock locks belong to the open file, so a second claim in this process loses too.
    auto second = platform::SingleInstance::Claim();
    EXPECT_FALSE(second->IsPrimary());
    platform::WindowId got = 1;
    std::atomic<bool> done = false;
    // The answer needs the running copy's event loop, which the test runs while asking.
    std::thread asker([&] {
        got = second->RunningCopyWindow(5000);
        done = true;
    });
    EXPECT_SOON_WITHIN(done, 6000);
    asker.join();
    EXPECT_EQ(got, 0x1234567u);
    EXPECT_EQ(fills, 0) << "asking for the window filled";
    // A fill request is answered first and filled once, after the answer.
    done = false;
    bool taken = false;
    std::thread filler([&] {
        taken = second->AskToFill(5000);
        done = true;
    });
    EXPECT_SOON_WITHIN(done && fills == 1, 6000);
    filler.join();
    EXPECT_TRUE(taken);
    EXPECT_EQ(fills, 1);
    first.reset();
    // With no running copy nobody takes it.
    EXPECT_FALSE(second->AskToFill(300));
    second.reset();
    EXPECT_TRUE(platform::SingleInstance::Claim()->IsPrimary());
}

// Without a runtime directory of the user's own, the claim uses a folder in the user's cache,
// never one in the shared $TMPDIR: someone else could make or remove that folder first, hold
// the lock, answer for the running copy or remove its files, or make two launches use two
// different folders.
class SingleInstanceFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        fs::create_directory(tmp());
    }

    fs::path tmp() const { return home_.root() / "tmp"; }
    fs::path fallback() const { return tmp() / ("penrika-" + std::to_string(::getuid())); }
    fs::path cache() const { return home_.root() / "cache" / "Penrika"; }

    // Claims, checks that a second claim finds the first, and returns the folder of the lock.
    fs::path ClaimedFolder() {
        auto first = platform::SingleInstance::Claim();
        EXPECT_TRUE(first->IsPrimary());
        EXPECT_FALSE(platform::SingleInstance::Claim()->IsPrimary());
        for (const fs::path& dir : {fallback(), cache()}) {
            if (fs::exists(fs::symlink_status(InstanceFile(dir, ".lock")))) return dir;
        }
        return {};
    }

    static bool Private(const fs::path& dir) {
        struct stat st;
        return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
               (st.st_mode & 0777) == 0700;
    }

    TempHome home_;
    ScopedEnv runtime_{"XDG_RUNTIME_DIR", std::nullopt};
    ScopedEnv tmpdir_{"TMPDIR", tmp().string()};
    ScopedEnv cacheHome_{"XDG_CACHE_HOME", (home_.root() / "cache").string()};
};

TEST_F(SingleInstanceFolder, AFolderInTheSharedTemporaryFolderIsLeftAlone) {
    const fs::path elsewhere = home_.root() / "elsewhere";
    fs::create_directory(elsewhere);
    ::chmod(elsewhere.c_str(), 0700);
    struct Case {
        const char* what;
        std::function<void()> plant;
        fs::path untouched;
    } cases[] = {
        {"another user's", [&] { PlantForeignFolder(fallback()); }, fallback()},
        {"open to others",
         [&] {
             fs::create_directory(fallback());
             ::chmod(fallback().c_str(), 0755);
         },
         fallback()},
        {"a link to a private folder", [&] { fs::create_directory_symlink(elsewhere, fallback()); },
         elsewhere},
        {"a private folder of ours",
         [&] {
             fs::create_directory(fallback());
             ::chmod(fallback().c_str(), 0700);
         },
         fallback()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant();
        EXPECT_EQ(ClaimedFolder(), cache());
        EXPECT_TRUE(Private(cache()));
        EXPECT_TRUE(fs::is_empty(c.untouched));
        fs::remove_all(fallback());
        fs::remove_all(cache());
    }
}

// What cannot be used is named with the system's reason, and the claim does not run.
TEST_F(SingleInstanceFolder, AnUnusableLockOrFolderIsNamed) {
    const fs::path lock = InstanceFile(cache(), ".lock");
    auto privateCache = [&] {
        fs::create_directories(cache());
        ::chmod(cache().c_str(), 0700);
    };
    struct Case {
        const char* what;
        std::function<void()> plant;
        std::string named, reason;
    } cases[] = {
        {"a link at the lock's name",
         [&] {
             privateCache();
             fs::create_symlink(home_.root() / "planted", lock);
         },
         lock.string(), std::strerror(ELOOP)},
        {"a folder at the lock's name",
         [&] {
             privateCache();
             fs::create_directory(lock);
         },
         lock.string(), "（フォルダーです）"},  // the reason in Japanese
        {"no private folder at all",
         [&] {
             fs::create_directories(cache());
             ::chmod(cache().c_str(), 0755);
         },
         cache().string(), ""},  // no reason of the system's to give
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant();
        auto claim = platform::SingleInstance::Claim();
        EXPECT_FALSE(claim->IsPrimary());
        const std::string failure = claim->Failure();
        EXPECT_NE(failure.find(c.named), std::string::npos) << failure;
        if (!c.reason.empty()) {
            EXPECT_NE(failure.find(c.reason), std::string::npos) << failure;
        }
        fs::remove_all(fallback());
        fs::remove_all(cache());
    }
    EXPECT_FALSE(fs::exists(home_.root() / "planted"));
    EXPECT_EQ(platform::SingleInstance::Claim()->Failure(), "");
}

TEST_F(SingleInstanceFolder, ARuntimeDirectoryNotPrivatelyOursIsNotUsed) {
    const fs::path run = home_.root() / "run";
    ScopedEnv runtime("XDG_RUNTIME_DIR", run.string());
    struct Case {
        const char* what;
        mode_t mode;
        uid_t owner;
    } cases[] = {
        {"another user's", 0700, 65534},
        {"open to others", 0755, ::getuid()},
        {"not writable", 0500, ::getuid()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::create_directory(run);
        ::chmod(run.c_str(), c.mode);
        ASSERT_EQ(::chown(run.c_str(), c.owner, ::getgid()), 0);
        EXPECT_EQ(ClaimedFolder(), cache());
        EXPECT_TRUE(Private(cache()));
        EXPECT_TRUE(fs::is_empty(run));
        EXPECT_FALSE(fs::exists(fallback()));
        fs::remove_all(run);
        fs::remove_all(cache());
    }
}

// The race a shared folder allowed: someone else's folder there sends the first copy to the
// cache, then goes, and the next launch made a fresh one and ran as a second copy.
TEST_F(SingleInstanceFolder, AFolderThatAnotherUserMadeAndRemovedLetsNoSecondCopyRun) {
    PlantForeignFolder(fallback());
    auto first = platform::SingleInstance::Claim();
    ASSERT_TRUE(first->IsPrimary());
    first->Serve([] { return platform::WindowId{42}; }, {});
    fs::remove_all(fallback());

    auto second = platform::SingleInstance::Claim();
    EXPECT_FALSE(second->IsPrimary());
    EXPECT_EQ(second->Failure(), "");
    EXPECT_FALSE(fs::exists(fallback()));
    // The lock and the socket are in one place, so the later copy still finds the running one.
    EXPECT_TRUE(fs::exists(InstanceFile(cache(), ".lock")));
    EXPECT_TRUE(fs::exists(InstanceFile(cache(), ".sock")));
}

}  // namespace
