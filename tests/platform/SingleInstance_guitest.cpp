// One copy per user and display, with the real program: a second launch brings the running
// copy's toolbar forward and ends; simultaneous launches leave one; a killed copy's leftovers
// do not block the next start.
#include "platform/SingleInstance.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QTest>
#include <atomic>
#include <filesystem>
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

// In-process: the claim itself, without the program around it.
TEST(SingleInstanceClaim, OneClaimWinsUntilItIsReleased) {
    App();
    auto first = platform::SingleInstance::Claim();
    ASSERT_TRUE(first->IsPrimary());
    first->Serve([] { return platform::WindowId{0x1234567}; });
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
    QTRY_VERIFY_WITH_TIMEOUT(done, 6000);
    asker.join();
    EXPECT_EQ(got, 0x1234567u);
    first.reset();
    second.reset();
    EXPECT_TRUE(platform::SingleInstance::Claim()->IsPrimary());
}

}  // namespace
