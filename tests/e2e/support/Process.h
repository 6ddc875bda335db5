// Everything the harness starts runs in its own process group and is stopped by that id when
// its owner is destroyed, also when a test fails; a child also dies with the test process.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "e2e/support/Util.h"

namespace e2e {

// A process (and everything it starts) in its own process group.
class Process {
  public:
    struct Options {
        std::vector<std::string> env;  // NAME=value, added to (or replacing in) the environment
        std::filesystem::path output;  // stdout and stderr go here; /dev/null when empty
        std::filesystem::path workDir;
        std::optional<uid_t> uid;  // run as this user (and gid) instead of ours
        gid_t gid = 0;
    };
    Process(const std::vector<std::string>& argv, const Options& options);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool Running();
    // How it ended ("exit 1", "signal 11"), empty while it runs.
    std::string HowItEnded() const;
    // Stops the whole group: SIGTERM, then SIGKILL after `grace`. Safe to call twice.
    void Stop(Millis grace = 3000ms);

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

}  // namespace e2e
