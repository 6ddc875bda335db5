#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/support/Event.h"
#include "e2e/support/Util.h"

namespace e2e {

class Process;

// The form server (tests/e2e/server.py) on 127.0.0.1 at a free port.
class FormServer {
  public:
    // Starts the server serving `pages` (tests/e2e/pages by default); its log goes into `dir`.
    explicit FormServer(const std::filesystem::path& dir, std::filesystem::path pages = {});
    ~FormServer();
    FormServer(const FormServer&) = delete;
    FormServer& operator=(const FormServer&) = delete;

    // Installs npm packages ("imask@7.6.1") that pages load from /npm/<package>/..., once per
    // build tree; false (with npm's output in `log`) when npm could not.
    static bool InstallNpm(const std::vector<std::string>& packages, std::string* log);

    int port() const { return port_; }
    std::string Url(const std::string& page, const std::string& tag = {}) const;
    const std::filesystem::path& logPath() const { return log_; }

    std::vector<Event> Events() const;
    int LastSeq() const;
    // The first event after `afterSeq` of that kind (and tag, when not empty) satisfying
    // `match`, waiting up to `timeout`.
    std::optional<Event> WaitEvent(const std::string& kind, int afterSeq, Millis timeout,
                                   const std::string& tag = {},
                                   const std::function<bool(const Event&)>& match = {}) const;

  private:
    std::filesystem::path log_;
    int port_ = 0;
    std::unique_ptr<Process> process_;
};

}  // namespace e2e
