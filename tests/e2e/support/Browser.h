// End-to-end harness: a local form server, real browsers with fresh profiles on the test's X
// display or natively in its Wayland session, real mouse input (XTest, the compositor's virtual
// pointer), and the server's log as the judge of what arrived.
//
// Meant for gtests running under tests/support/with-x.sh or sway-session.sh (the display, HOME
// and XDG already private).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "e2e/support/Event.h"
#include "e2e/support/UserSession.h"
#include "e2e/support/Util.h"
#include "e2e/support/Screen.h"
#include "e2e/support/XDisplay.h"

namespace e2e {

class FormServer;

enum class Browser { Chromium, Firefox };
const char* BrowserName(Browser b);  // "chromium", "firefox"
bool BrowserInstalled(Browser b);

struct BrowserOptions {
    // Run the browser in an input-method UserSession.
    bool inputMethod = false;
    int width = 1000, height = 700;
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
    Screen& screen() { return *screen_; }
    XDisplay& display();  // the X11 screen; throws in a Wayland session

    // Waits until the window whose title begins with `title` (the page's <title>) is mapped
    // and active, asking for activation when the window manager does not give it. Throws on
    // timeout, naming what was seen.
    void WaitReady(const std::string& title, Millis timeout = 45s);
    // Moves the pointer over the page until the page reports where its elements are; the
    // newest such report (its origin found from the pointer where the page cannot tell it).
    // Throws on timeout.
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
    std::string BusAddress() const { return session_.BusAddress(); }
    std::string RunAsUser(const std::vector<std::string>& argv) { return session_.RunAsUser(argv); }

    // The browser's own output, for failure messages.
    std::string Log() const { return session_.Log(); }
    pid_t pid() const { return session_.pid(); }

  private:
    // Clicks the element `clicks` times until the page reports an event of that kind that
    // `seen` takes, three tries in `timeout`.
    std::optional<Event> ClickSeen(const std::string& id, int clicks, const std::string& kind,
                                   Millis timeout, const std::function<bool(const Event&)>& seen);
    Browser browser_;
    const FormServer& server_;
    std::string page_, tag_;
    BrowserOptions options_;
    std::unique_ptr<Screen> screen_;
    UserSession session_;
    bool startedAgain_ = false;
    std::uint32_t window_ = 0;
    std::optional<Event> layout_;
};

}  // namespace e2e
