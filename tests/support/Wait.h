// The one polling wait of the tests, for what shows itself only when asked (another process's
// window or file, a page's answer): `done` is asked until it holds or `timeout` has passed.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Between polls runs `pause` (a test with an event loop of its own keeps it running there).
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                      const std::function<void()>& pause) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        pause();
    }
    return true;
}

// Between polls it sleeps `step`.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10),
                      std::chrono::milliseconds step = std::chrono::milliseconds(20)) {
    return WaitUntil(done, timeout, [step] { std::this_thread::sleep_for(step); });
}
