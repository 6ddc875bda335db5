#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/support/Process.h"

namespace e2e {

// The unprivileged account used for runs with an input method (mozc will not run as root):
// $PENRIKA_E2E_USER, else "nobody".
std::string InputMethodUser();

// A program run as a user's desktop session runs it, with a fresh HOME and XDG directories of
// its own. With an input method it runs as InputMethodUser() inside its own D-Bus session with
// fcitx5 + mozc and the GTK and Qt input modules pointed at fcitx (tests/e2e/im-session.sh);
// the input method starts switched off; in a KWin session with an input method of its own
// (tests/support/kwin-session.sh) it gets that one instead. Without, it runs as ourselves.
class UserSession {
  public:
    // The home is `dir`/`name`-home, the program's output goes to `dir`/`name`.log.
    UserSession(const std::filesystem::path& dir, const std::string& name, bool inputMethod);
    // Stops the program and whatever it left running.
    ~UserSession();
    UserSession(const UserSession&) = delete;
    UserSession& operator=(const UserSession&) = delete;

    const std::filesystem::path& home() const { return home_; }
    // Starts the program (once), `env` (NAME=value) added; what was put into home() before
    // becomes the user's.
    void Start(std::vector<std::string> argv, const std::vector<std::string>& env = {});
    bool Running() { return process_ && process_->Running(); }
    // Starts the program again as Start did, once it has ended; what it left running goes first.
    void StartAgain();
    std::string HowItEnded() const { return process_ ? process_->HowItEnded() : std::string(); }
    pid_t pid() const { return process_ ? process_->pid() : -1; }

    // Input method control (input-method sessions only): on (mozc, hiragana) or off; the state
    // fcitx5 reports (0 none, 1 off, 2 on), -1 when it cannot be asked.
    bool SetInputMethod(bool on);
    int InputMethodState();
    // The session's D-Bus address ("" before it is up, or without an input method). The bus
    // lets this (the test's) user in as well, as a program of the session user would be.
    std::string BusAddress() const;
    // Runs a command as the session's user on its D-Bus session bus (input-method sessions
    // only) and returns its output; "" otherwise.
    std::string RunAsUser(const std::vector<std::string>& argv);
    // The program's output and fcitx5's, for failure messages.
    std::string Log() const;

  private:
    std::filesystem::path dir_, home_, log_, imLog_;
    bool inputMethod_;
    std::optional<uid_t> uid_;
    gid_t gid_ = 0;
    std::unique_ptr<Process> process_;
    std::vector<std::string> argv_, env_;
};

}  // namespace e2e
