#include "support/Launch.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

namespace fs = std::filesystem;

std::string Capture(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

std::vector<std::string> WindowsNamed(const std::string& titleRegex) {
    std::vector<std::string> ids;
    std::istringstream in(
        Capture("xdotool search --onlyvisible --name '" + titleRegex + "' 2>/dev/null"));
    std::string id;
    while (in >> id) ids.push_back(id);
    return ids;
}

std::string WindowState(const std::string& windowId) {
    return Capture("xprop -id " + windowId + " _NET_WM_STATE 2>/dev/null");
}

std::string ActiveWindowId() {
    std::string s = Capture("xdotool getactivewindow 2>/dev/null");
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

PortableCopy::PortableCopy(const fs::path& dir) : dir_(dir) {
    fs::create_directories(dir_);
    fs::copy_file(PENRIKA_BINARY, dir_ / "penrika", fs::copy_options::overwrite_existing);
}

PortableCopy::~PortableCopy() {
    for (pid_t pid : started_) {
        if (Running(pid)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
}

pid_t PortableCopy::Start() {
    const std::string exe = (dir_ / "penrika").string();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    started_.push_back(pid);
    return pid;
}

bool PortableCopy::Running(pid_t pid) {
    int status;
    return ::waitpid(pid, &status, WNOHANG) == 0;
}

int PortableCopy::WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
    int status = 0;
    bool ended = WaitUntil(
        [&] {
            pid_t r = ::waitpid(pid, &status, WNOHANG);
            return r == pid || r < 0;
        },
        timeout);
    if (!ended) return -1;
    std::erase(started_, pid);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}
