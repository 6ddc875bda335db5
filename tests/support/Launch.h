// Running the real program and X tools from tests: a portable copy of the program in a test
// directory, and small waits on what the X server shows.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/Wait.h"

// Runs a shell command and returns its standard output.
std::string Capture(const std::string& command);

// Ids of the windows whose title matches the extended regular expression `titleRegex`.
std::vector<std::string> WindowsNamed(const std::string& titleRegex);
// The atoms in a window's _NET_WM_STATE, as xprop prints them.
std::string WindowState(const std::string& windowId);
// The active window's id in the form xdotool prints it (decimal).
std::string ActiveWindowId();

// A copy of the built program in its own directory (so its data file lives there), started
// with the current environment.
class PortableCopy {
  public:
    explicit PortableCopy(const std::filesystem::path& dir);
    ~PortableCopy();
    PortableCopy(const PortableCopy&) = delete;
    PortableCopy& operator=(const PortableCopy&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path dataFile() const { return dir_ / "Penrika.dat"; }

    // Starts a process of the copy; returns its pid.
    pid_t Start();
    // Waits for that process to end; its exit code, or -1 on timeout, or 128+signal.
    int WaitExit(pid_t pid, std::chrono::milliseconds timeout = std::chrono::seconds(15));
    bool Running(pid_t pid);

  private:
    std::filesystem::path dir_;
    std::vector<pid_t> started_;
};
