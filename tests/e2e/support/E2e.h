// End-to-end harness: a local form server, real browsers with fresh profiles on the test's X
// display, real mouse input through XTest, and the server's log as the judge of what arrived.
//
// Meant for gtests running under tests/support/with-x.sh (DISPLAY, HOME and XDG already
// private). Everything started here runs in its own process group and is stopped by that id
// when its owner is destroyed, also when a test fails; a child also dies with the test process.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

// Polls `done` every `step` until it holds (true) or `timeout` has passed (false).
bool WaitFor(const std::function<bool()>& done, Millis timeout, Millis step = 20ms);

// A fresh directory for one test's files, inside the private work directory of with-x.sh when
// there is one; removed with everything in it when the object goes.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& prefix = "e2e");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

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
    // Stops the whole group: SIGTERM, then SIGKILL after `grace`. Safe to call twice.
    void Stop(Millis grace = 3000ms);

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// One line of the server's log.
struct Event {
    std::string kind;  // "submit", "layout", "selection", "focus", "click"
    int seq = 0;       // 1, 2, ... in the order the server logged them
    std::string page;  // "form.html"
    std::string tag;   // the session tag in the page's address (?t=...), "" when none
    std::map<std::string, std::string> fields;  // submit: the form's fields
    // selection, click: the selected text; focus: the focused element's id
    std::string text;
    int clicks = 0;     // click: 1, 2, 3 for a single, double, triple click
    std::string phase;  // composition: "start", "update" (text: the preedit), "end" (committed)
    // layout: viewport origin on the screen, device pixels per CSS pixel, element rectangles
    // (left, top, width, height in CSS pixels, relative to the viewport).
    double originX = 0, originY = 0, scale = 1;
    std::map<std::string, std::vector<double>> rects;
    std::string raw;  // the line as logged
};

// The form server (tests/e2e/server.py) on 127.0.0.1 at a free port.
class FormServer {
  public:
    // Starts the server serving `pages` (tests/e2e/pages by default); its log goes into `dir`.
    explicit FormServer(const std::filesystem::path& dir, std::filesystem::path pages = {});
    ~FormServer();
    FormServer(const FormServer&) = delete;
    FormServer& operator=(const FormServer&) = delete;

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

enum class Browser { Chromium, Firefox };
const char* BrowserName(Browser b);  // "chromium", "firefox"
bool BrowserInstalled(Browser b);

// The unprivileged account used for runs with an input method (mozc will not run as root):
// $PENRIKA_E2E_USER, else "nobody".
std::string InputMethodUser();

// A program run as a user's desktop session runs it, with a fresh HOME and XDG directories of
// its own. With an input method it runs as InputMethodUser() inside its own D-Bus session with
// fcitx5 + mozc and the GTK and Qt input modules pointed at fcitx (tests/e2e/im-session.sh);
// the input method starts switched off. Without, it runs as ourselves.
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
    pid_t pid() const { return process_ ? process_->pid() : -1; }

    // Input method control (input-method sessions only): on (mozc, hiragana) or off; the state
    // fcitx5 reports (0 none, 1 off, 2 on), -1 when it cannot be asked.
    bool SetInputMethod(bool on);
    int InputMethodState();
    // Runs a command as the session's user on its D-Bus session bus (input-method sessions
    // only) and returns its output; "" otherwise.
    std::string RunAsUser(const std::vector<std::string>& argv);
    // The program's output and fcitx5's, for failure messages.
    std::string Log() const;

  private:
    std::filesystem::path dir_, home_, log_;
    bool inputMethod_;
    std::optional<uid_t> uid_;
    gid_t gid_ = 0;
    std::unique_ptr<Process> process_;
};

struct BrowserOptions {
    // Run the browser in an input-method UserSession.
    bool inputMethod = false;
    int width = 1000, height = 700;
};

// A small X client for what the tests do as the user: find windows, activate, move and click.
class XDisplay {
  public:
    XDisplay();  // $DISPLAY; throws when it cannot connect
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    std::vector<std::uint32_t> ClientWindows();  // _NET_CLIENT_LIST
    std::string Title(std::uint32_t w);          // _NET_WM_NAME, else WM_NAME
    bool Viewable(std::uint32_t w);
    std::uint32_t ActiveWindow();  // _NET_ACTIVE_WINDOW
    void RequestActivate(std::uint32_t w);
    // The window's rectangle on the screen (x, y, width, height).
    std::vector<int> Frame(std::uint32_t w);

    // Real pointer input through XTest; each returns once the server has taken the events.
    void MoveMouse(int x, int y);
    void Click(int x, int y, int count = 1);

  private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// One browser showing one page of the form server, with a fresh profile in `dir`.
class BrowserSession {
  public:
    BrowserSession(Browser b, const FormServer& server, const std::string& page,
                   const std::filesystem::path& dir, BrowserOptions options = {});
    ~BrowserSession();
    BrowserSession(const BrowserSession&) = delete;
    BrowserSession& operator=(const BrowserSession&) = delete;

    Browser browser() const { return browser_; }
    const std::string& tag() const { return tag_; }  // marks this session's events
    std::uint32_t window() const { return window_; }
    XDisplay& display() { return *x_; }

    // Waits until the window whose title begins with `title` (the page's <title>) is mapped
    // and active, asking for activation when the window manager does not give it. Throws on
    // timeout, naming what was seen.
    void WaitReady(const std::string& title, Millis timeout = 45s);
    // Moves the pointer over the page until the page reports where its elements are; the
    // newest such report. Throws on timeout.
    Event WaitLayout(Millis timeout = 15s);
    // Screen position (device pixels) of the centre of the element with that id, from the
    // newest layout; throws when the element is unknown.
    std::pair<int, int> CenterOf(const std::string& id);

    // A real triple-click on the element (a label): the text the page then reports as selected.
    std::string TripleClick(const std::string& id, Millis timeout = 5s);
    // A real click on the element (a field) and the wait until the page reports its focus.
    void ClickToFocus(const std::string& id, Millis timeout = 5s);

    // The next submission of this session's page after `afterSeq`.
    std::optional<Event> WaitSubmission(int afterSeq, Millis timeout = 10s) const;

    // Input method control and commands as the browser's user (see UserSession).
    bool SetInputMethod(bool on) { return session_.SetInputMethod(on); }
    int InputMethodState() { return session_.InputMethodState(); }
    std::string RunAsUser(const std::vector<std::string>& argv) { return session_.RunAsUser(argv); }

    // The browser's own output, for failure messages.
    std::string Log() const { return session_.Log(); }
    pid_t pid() const { return session_.pid(); }

  private:
    Browser browser_;
    const FormServer& server_;
    std::string page_, tag_;
    BrowserOptions options_;
    std::unique_ptr<XDisplay> x_;
    UserSession session_;
    std::uint32_t window_ = 0;
    std::optional<Event> layout_;
};

// Test-only typing with xdotool (never the product's way): `xdotool type` and `xdotool key`.
void XdoType(const std::string& text, int delayMs = 12);
// `keys`: key names separated by spaces ("Tab", "ctrl+c", "a i u e o").
void XdoKey(const std::string& keys);

}  // namespace e2e
