#include "e2e/support/Browser.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "e2e/support/FormServer.h"

namespace fs = std::filesystem;

namespace e2e {

namespace {

// Counts sessions so that each one's events carry their own tag.
std::atomic<int> g_sessions{0};

}  // namespace

const char* BrowserName(Browser b) {
    return b == Browser::Chromium ? "chromium" : "firefox";
}

static const char* BrowserBinary(Browser b) {
    return b == Browser::Chromium ? "/usr/bin/chromium" : "/usr/bin/firefox-esr";
}

bool BrowserInstalled(Browser b) {
    return ::access(BrowserBinary(b), X_OK) == 0;
}

BrowserSession::BrowserSession(Browser b, const FormServer& server, const std::string& page,
                               const fs::path& dir, BrowserOptions options)
    : browser_(b),
      server_(server),
      page_(page),
      options_(options),
      session_(dir, BrowserName(b), options.inputMethod) {
    if (!BrowserInstalled(b)) throw Error(std::string(BrowserName(b)) + " is not installed");
    tag_ = std::string(BrowserName(b)) + std::to_string(++g_sessions) + "p" +
           std::to_string(::getpid());
    screen_ = Screen::Open();
    const bool wayland = !screen_->PagesKnowTheirPlace();
    // GNOME centres a new window and lets no test move it: narrow enough, it leaves room on its
    // right for the toolbar.
    if (InGnomeSession()) options_.width = std::min(options_.width, 960);

    fs::path profile = session_.home() / "profile";

    std::vector<std::string> argv;
    const std::string url = server_.Url(page_, tag_);
    const std::string w = std::to_string(options_.width), h = std::to_string(options_.height);
    if (b == Browser::Chromium) {
        argv = {BrowserBinary(b),
                "--no-sandbox",
                "--test-type",  // no warning bar about --no-sandbox above the page
                "--disable-gpu",
                "--no-first-run",
                "--no-default-browser-check",
                "--disable-background-networking",
                "--disable-component-update",
                "--disable-sync",
                "--disable-quic",
                "--disable-features=Translate,TranslateUI",
                "--disable-session-crashed-bubble",
                "--password-store=basic",
                "--force-device-scale-factor=1",
                "--lang=ja",
                "--user-data-dir=" + profile.string(),
                "--window-position=0,0",
                "--window-size=" + w + "," + h};
        if (wayland) argv.push_back("--ozone-platform=wayland");
        // On Wayland Chromium reaches an input method only through the compositor (KWin's own,
        // when the session has one), and only when told to.
        if (wayland && options_.inputMethod && std::getenv("PENRIKA_KWIN_INPUT_METHOD_LOG"))
            argv.insert(argv.end(), {"--enable-wayland-ime", "--wayland-text-input-version=3"});
        argv.push_back(url);
        fs::create_directories(profile / "Default");
        WriteFile(profile / "Default" / "Preferences",
                  R"({"translate":{"enabled":false},"autofill":{"profile_enabled":false,)"
                  R"("credit_card_enabled":false},"credentials_enable_service":false,)"
                  R"("browser":{"check_default_browser":false}})");
    } else {
        argv = {BrowserBinary(b),
                "--no-remote",
                "--new-instance",
                "--profile",
                profile.string(),
                "-width",
                w,
                "-height",
                h,
                url};
        fs::create_directories(profile);
        WriteFile(profile / "user.js", R"(user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("startup.homepage_welcome_url", "");
user_pref("startup.homepage_welcome_url.additional", "");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("trailhead.firstrun.didSeeAboutWelcome", true);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.policy.firstRunURL", "");
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("browser.translations.enable", false);
user_pref("browser.translations.automaticallyPopup", false);
user_pref("browser.translations.panelShown", true);
user_pref("browser.formfill.enable", false);
user_pref("extensions.formautofill.addresses.enabled", false);
user_pref("extensions.formautofill.creditCards.enabled", false);
user_pref("signon.rememberSignons", false);
user_pref("layout.css.devPixelsPerPx", "1.0");
user_pref("browser.sessionstore.resume_from_crash", false);
user_pref("browser.tabs.warnOnClose", false);
user_pref("app.update.auto", false);
user_pref("app.normandy.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("browser.safebrowsing.downloads.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("extensions.getAddons.cache.enabled", false);
user_pref("browser.newtabpage.enabled", false);
user_pref("browser.ping-centre.telemetry", false);
user_pref("browser.region.update.enabled", false);
user_pref("ui.key.menuAccessKeyFocuses", false);
)");
    }
    std::vector<std::string> env = {"NO_AT_BRIDGE=1", "MOZ_CRASHREPORTER_DISABLE=1"};
    if (wayland) env.insert(env.end(), {"MOZ_ENABLE_WAYLAND=1", "GDK_BACKEND=wayland"});
    // The seat's keyboard is the user's when a browser starts, as after a user's key. When the
    // keyboard that sent the last keys goes (the program's, or any virtual keyboard, whatever
    // its keymap), sway 1.7 to 1.11 leave the seat with none: a program that asks for the
    // keyboard then gets no keymap, only enter and modifiers, and Chromium crashes on that. No
    // client can give the seat back another keyboard; the next key of one does.
    if (wayland) screen_->Key("Shift_L");
    session_.Start(argv, env);
}

BrowserSession::~BrowserSession() = default;

XDisplay& BrowserSession::display() {
    auto* x = dynamic_cast<XDisplay*>(screen_.get());
    if (!x) throw Error("not on X11");
    return *x;
}

void BrowserSession::WaitReady(const std::string& title, Millis timeout) {
    auto lastAsk = std::chrono::steady_clock::now() - 1h;
    std::string seen;
    bool ok = WaitUntil(
        [&] {
            if (!session_.Running()) return true;
            if (!window_) {
                seen.clear();
                for (std::uint32_t w : screen_->ClientWindows()) {
                    std::string t = screen_->Title(w);
                    seen += "[" + t + "] ";
                    if (t.rfind(title, 0) == 0 && screen_->Viewable(w)) window_ = w;
                }
                if (!window_) return false;
            }
            if (screen_->ActiveWindow() == window_) return true;
            auto now = std::chrono::steady_clock::now();
            if (now - lastAsk > 500ms) {
                screen_->RequestActivate(window_);
                lastAsk = now;
            }
            return false;
        },
        timeout, 25ms);
    // A browser that ends before it shows a window, saying nothing (Firefox once in some
    // hundred starts under KWin 5), is the machine's trouble, not the page's: it gets one more
    // start, and the log tells of it.
    if (!session_.Running() && !window_ && !startedAgain_) {
        std::cerr << BrowserName(browser_) << " ended before its window showed ("
                  << session_.HowItEnded() << "); starting it again\n" << Log() << "\n";
        startedAgain_ = true;
        session_.StartAgain();
        WaitReady(title, timeout);
        return;
    }
    if (!session_.Running())
        throw Error(std::string(BrowserName(browser_)) + " ended early (" + session_.HowItEnded() +
                    "):\n" + Log());
    if (!ok) {
        throw Error(std::string(BrowserName(browser_)) + ": no active window titled \"" + title +
                    "\" (window " + std::to_string(window_) + ", windows seen: " + seen + ")\n" +
                    Log());
    }
}

Event BrowserSession::WaitLayout(Millis timeout) {
    if (!window_) throw Error("WaitLayout before WaitReady");
    std::vector<int> f = screen_->Frame(window_);
    if (f.size() != 4) throw Error("cannot read the window's geometry");
    // The middle of the window is page, whatever the browser puts around it; wiggling the
    // pointer there makes the page report, once it has loaded.
    const int cx = f[0] + f[2] / 2, cy = f[1] + f[3] * 2 / 3;
    const int after = server_.LastSeq();
    int i = 0;
    std::optional<Event> e;
    auto wiggle = [&](int since, Millis within) {
        WaitUntil(
            [&] {
                screen_->MoveMouse(cx + (i++ % 2), cy);
                e = server_.WaitEvent("layout", since, 100ms, tag_);
                return e.has_value();
            },
            within, 1ms);
        return e.has_value();
    };
    if (!wiggle(after, timeout)) throw Error("the page did not report its layout\n" + Log());
    // A later report (the page moved) replaces it.
    while (std::optional<Event> newer = server_.WaitEvent("layout", e->seq, 0ms, tag_)) e = newer;
    if (!screen_->PagesKnowTheirPlace()) {
        // The viewport lies where the pointer is less where the page saw it. The pointer goes
        // somewhere it was not while wiggling, and the report of that move is the one whose
        // place in the viewport is new. Under load a compositor now and then loses that one
        // move: the pointer wiggles again and goes back to the same place.
        const int px = cx + 7, py = cy + 5;
        // Only the first wiggle's places count as seen: a late report of a lost move is as good
        // as the next one's.
        std::vector<std::pair<double, double>> seen;
        for (const Event& l : server_.Events())
            if (l.kind == "layout" && l.tag == tag_ && l.seq > after)
                seen.emplace_back(l.clientX, l.clientY);
        std::optional<Event> moved;
        for (int attempt = 0; attempt < 3 && !moved; ++attempt) {
            if (attempt && !wiggle(server_.LastSeq(), timeout / 3)) break;
            const int mark = server_.LastSeq();
            screen_->MoveMouse(px, py);
            moved = server_.WaitEvent("layout", mark, timeout / 3, tag_, [&](const Event& l) {
                return std::find(seen.begin(), seen.end(), std::pair{l.clientX, l.clientY}) ==
                       seen.end();
            });
        }
        if (!moved) throw Error("the page did not report the pointer's move\n" + Log());
        e = moved;
        const double s = e->scale > 0 ? e->scale : 1.0;
        e->originX = px / s - e->clientX;
        e->originY = py / s - e->clientY;
    }
    layout_ = e;
    return *e;
}

std::pair<int, int> BrowserSession::CenterOf(const std::string& id) {
    if (!layout_) WaitLayout();
    auto it = layout_->rects.find(id);
    if (it == layout_->rects.end() || it->second.size() != 4)
        throw Error("the page has no element " + id);
    const std::vector<double>& r = it->second;
    const double s = layout_->scale > 0 ? layout_->scale : 1.0;
    int x = static_cast<int>(std::lround(layout_->originX * s + (r[0] + r[2] / 2) * s));
    int y = static_cast<int>(std::lround(layout_->originY * s + (r[1] + r[3] / 2) * s));
    return {x, y};
}

std::optional<Event> BrowserSession::ClickSeen(const std::string& id, int clicks,
                                               const std::string& kind, Millis timeout,
                                               const std::function<bool(const Event&)>& seen) {
    // A page that was still settling (a late font moves the fields), a browser that had not
    // yet taken the pointer, or clicks spread past the browser's double-click time on a busy
    // machine can let a click miss: look where the field is now and click again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt) WaitLayout();
        auto [x, y] = CenterOf(id);
        int after = server_.LastSeq();
        screen_->Click(x, y, clicks);
        if (std::optional<Event> e = server_.WaitEvent(kind, after, timeout / 3, tag_, seen))
            return e;
    }
    return std::nullopt;
}

std::string BrowserSession::TripleClick(const std::string& id, Millis timeout) {
    std::optional<Event> e =
        ClickSeen(id, 3, "click", timeout, [](const Event& ev) { return ev.clicks >= 3; });
    if (!e) throw Error("the page saw no triple click on " + id + "\n" + Log());
    return e->text;
}

void BrowserSession::ClickToFocus(const std::string& id, Millis timeout) {
    if (!ClickSeen(id, 1, "focus", timeout, [&](const Event& ev) { return ev.text == id; }))
        throw Error("the field " + id + " did not get the focus\n" + Log());
}

std::optional<Event> BrowserSession::WaitSubmission(int afterSeq, Millis timeout) const {
    std::optional<Event> sent = server_.WaitEvent("submit", afterSeq, timeout, tag_);
    // The answer sends the browser back to the form; until that page has loaded, the old one
    // would answer for it and swallow the next clicks.
    if (sent && !server_.WaitEvent("load", sent->seq, timeout, tag_))
        throw Error("the form did not load again after its submission\n" + Log());
    return sent;
}

}  // namespace e2e
