#include "e2e/support/E2e.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace e2e {

namespace {

std::runtime_error Error(const std::string& what) {
    return std::runtime_error("e2e: " + what);
}

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Tail(const std::string& s, std::size_t n = 3000) {
    return s.size() <= n ? s : s.substr(s.size() - n);
}

fs::path SourceDir() {
#ifdef PENRIKA_SOURCE_DIR
    return PENRIKA_SOURCE_DIR;
#else
    return fs::path(__FILE__).parent_path().parent_path().parent_path().parent_path();
#endif
}

std::optional<Event> ParseEvent(const std::string& line) {
    QJsonParseError err;
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    QJsonObject o = doc.object();
    Event e;
    e.raw = line;
    e.kind = o.value("kind").toString().toStdString();
    e.seq = o.value("seq").toInt();
    e.page = o.value("page").toString().toStdString();
    e.tag = o.value("tag").toString().toStdString();
    e.text = o.value("text").toString().toStdString();
    e.clicks = o.value("clicks").toInt();
    e.phase = o.value("phase").toString().toStdString();
    QJsonObject fields = o.value("fields").toObject();
    for (auto it = fields.begin(); it != fields.end(); ++it)
        e.fields[it.key().toStdString()] = it.value().toString().toStdString();
    QJsonArray origin = o.value("origin").toArray();
    if (origin.size() == 2) e.originX = origin[0].toDouble(), e.originY = origin[1].toDouble();
    e.scale = o.value("scale").toDouble(1.0);
    QJsonObject rects = o.value("rects").toObject();
    for (auto it = rects.begin(); it != rects.end(); ++it) {
        std::vector<double> r;
        for (const QJsonValue& v : it.value().toArray()) r.push_back(v.toDouble());
        e.rects[it.key().toStdString()] = r;
    }
    return e;
}

// Counts sessions so that each one's events carry their own tag.
std::atomic<int> g_sessions{0};

void WriteFile(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
    if (!out) throw Error("cannot write " + p.string());
}

}  // namespace

bool WaitFor(const std::function<bool()>& done, Millis timeout, Millis step) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(step);
    }
}

// --- ScratchDir

static fs::path ScratchBase() {
    const char* work = std::getenv("PENRIKA_TEST_WORK");
    return work && *work ? fs::path(work) : fs::temp_directory_path();
}

ScratchDir::ScratchDir(const std::string& prefix) {
    const fs::path base = ScratchBase();
    std::string tmpl = (base / (prefix + ".XXXXXX")).string();
    if (!::mkdtemp(tmpl.data())) throw Error("mkdtemp failed in " + base.string());
    path_ = tmpl;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

// --- Process

Process::Process(const std::vector<std::string>& argv, const Options& options) {
    if (argv.empty()) throw Error("empty command");
    // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        std::string name = kv.substr(0, kv.find('='));
        bool replaced = false;
        for (const std::string& o : options.env)
            replaced |= o.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced) envStore.push_back(kv);
    }
    for (const std::string& o : options.env) envStore.push_back(o);
    std::vector<char*> envp, args;
    for (std::string& s : envStore) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore = argv;
    for (std::string& s : argStore) args.push_back(s.data());
    args.push_back(nullptr);
    std::string out = options.output.empty() ? "/dev/null" : options.output.string();
    std::string cwd = options.workDir.string();
    const pid_t parent = ::getpid();

    pid_t pid = ::fork();
    if (pid < 0) throw Error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        ::setpgid(0, 0);
        int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        int in = ::open("/dev/null", O_RDONLY);
        if (in >= 0) ::dup2(in, 0);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
        if (options.uid) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(options.gid) != 0 ||
                ::setuid(*options.uid) != 0)
                ::_exit(126);
        }
        // Set after the change of user, which would clear it: the child dies with the test.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(125);
        ::execvpe(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);  // also from here, so the group exists before anyone signals it
    pid_ = pid;
}

Process::~Process() {
    Stop();
}

bool Process::Running() {
    if (reaped_ || pid_ <= 0) return false;
    int status;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        reaped_ = true;
        return false;
    }
    return r == 0;
}

void Process::Stop(Millis grace) {
    if (pid_ <= 0) return;
    if (Running()) {
        ::kill(-pid_, SIGTERM);
        WaitFor([&] { return !Running(); }, grace, 10ms);
    }
    // Whatever is left of the group (the leader or the children it started) goes now, and is
    // gone before this returns (bounded: zombies that nobody reaps still count as members).
    ::kill(-pid_, SIGKILL);
    WaitFor([&] { return ::kill(-pid_, 0) != 0; }, 2s, 10ms);
    if (!reaped_) {
        int status;
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
    }
    pid_ = -1;
}

// --- FormServer

FormServer::FormServer(const fs::path& dir, fs::path pages) {
    if (pages.empty()) pages = SourceDir() / "tests" / "e2e" / "pages";
    log_ = dir / "form-server.jsonl";
    fs::path portFile = dir / "form-server.port";
    fs::path output = dir / "form-server.out";
    Process::Options o;
    o.output = output;
    process_ = std::make_unique<Process>(
        std::vector<std::string>{"python3", (SourceDir() / "tests" / "e2e" / "server.py").string(),
                                 "--pages", pages.string(), "--log", log_.string(), "--port-file",
                                 portFile.string()},
        o);
    bool up = WaitFor([&] { return fs::exists(portFile) || !process_->Running(); }, 15s);
    if (!up || !fs::exists(portFile))
        throw Error("form server did not start: " + Tail(ReadText(output)));
    port_ = std::stoi(ReadText(portFile));
}

FormServer::~FormServer() = default;

std::string FormServer::Url(const std::string& page, const std::string& tag) const {
    std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/" + page;
    if (!tag.empty()) url += "?t=" + tag;
    return url;
}

std::vector<Event> FormServer::Events() const {
    std::vector<Event> events;
    std::istringstream in(ReadText(log_));
    std::string line;
    // A line still being written has no newline yet and does not parse: it is read next time.
    while (std::getline(in, line)) {
        if (std::optional<Event> e = ParseEvent(line)) events.push_back(std::move(*e));
    }
    return events;
}

int FormServer::LastSeq() const {
    std::vector<Event> events = Events();
    return events.empty() ? 0 : events.back().seq;
}

std::optional<Event> FormServer::WaitEvent(const std::string& kind, int afterSeq, Millis timeout,
                                           const std::string& tag,
                                           const std::function<bool(const Event&)>& match) const {
    std::optional<Event> found;
    WaitFor(
        [&] {
            for (Event& e : Events()) {
                if (e.seq <= afterSeq || e.kind != kind) continue;
                if (!tag.empty() && e.tag != tag) continue;
                if (match && !match(e)) continue;
                found = std::move(e);
                return true;
            }
            return false;
        },
        timeout);
    return found;
}

// --- Browsers

const char* BrowserName(Browser b) {
    return b == Browser::Chromium ? "chromium" : "firefox";
}

static const char* BrowserBinary(Browser b) {
    return b == Browser::Chromium ? "/usr/bin/chromium" : "/usr/bin/firefox-esr";
}

bool BrowserInstalled(Browser b) {
    return ::access(BrowserBinary(b), X_OK) == 0;
}

std::string InputMethodUser() {
    const char* u = std::getenv("PENRIKA_E2E_USER");
    return u && *u ? u : "nobody";
}

// --- XDisplay

struct XDisplay::Impl {
    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhOk = false;

    // A round trip: everything sent before has been handled by the server.
    void Sync() { free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
};

XDisplay::XDisplay() : d_(std::make_unique<Impl>()) {
    int screenNo = 0;
    d_->c = xcb_connect(nullptr, &screenNo);
    if (!d_->c || xcb_connection_has_error(d_->c)) throw Error("cannot connect to $DISPLAY");
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(d_->c));
    for (int i = 0; i < screenNo; ++i) xcb_screen_next(&it);
    d_->screen = it.data;
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(d_->c, &d_->ewmh);
    d_->ewmhOk = xcb_ewmh_init_atoms_replies(&d_->ewmh, cookies, nullptr);
    if (!d_->ewmhOk) throw Error("cannot read the EWMH atoms");
}

XDisplay::~XDisplay() {
    if (d_->ewmhOk) xcb_ewmh_connection_wipe(&d_->ewmh);
    if (d_->c) xcb_disconnect(d_->c);
}

std::vector<std::uint32_t> XDisplay::ClientWindows() {
    xcb_ewmh_get_windows_reply_t list;
    std::vector<std::uint32_t> out;
    if (xcb_ewmh_get_client_list_reply(&d_->ewmh, xcb_ewmh_get_client_list(&d_->ewmh, 0), &list,
                                       nullptr)) {
        out.assign(list.windows, list.windows + list.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&list);
    }
    return out;
}

std::string XDisplay::Title(std::uint32_t w) {
    xcb_ewmh_get_utf8_strings_reply_t name;
    if (xcb_ewmh_get_wm_name_reply(&d_->ewmh, xcb_ewmh_get_wm_name(&d_->ewmh, w), &name, nullptr)) {
        std::string s(name.strings, name.strings_len);
        xcb_ewmh_get_utf8_strings_reply_wipe(&name);
        return s;
    }
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        d_->c, xcb_get_property(d_->c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
        nullptr);
    std::string s;
    if (r) {
        s.assign(static_cast<const char*>(xcb_get_property_value(r)),
                 static_cast<std::size_t>(xcb_get_property_value_length(r)));
        free(r);
    }
    return s;
}

bool XDisplay::Viewable(std::uint32_t w) {
    xcb_get_window_attributes_reply_t* r =
        xcb_get_window_attributes_reply(d_->c, xcb_get_window_attributes(d_->c, w), nullptr);
    bool v = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    free(r);
    return v;
}

std::uint32_t XDisplay::ActiveWindow() {
    xcb_window_t w = 0;
    if (!xcb_ewmh_get_active_window_reply(&d_->ewmh, xcb_ewmh_get_active_window(&d_->ewmh, 0), &w,
                                          nullptr))
        return 0;
    return w;
}

void XDisplay::RequestActivate(std::uint32_t w) {
    // Source "pager": the window manager honours it without focus-stealing checks.
    xcb_ewmh_request_change_active_window(&d_->ewmh, 0, w, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                          XCB_CURRENT_TIME, XCB_NONE);
    d_->Sync();
}

std::vector<int> XDisplay::Frame(std::uint32_t w) {
    xcb_get_geometry_reply_t* g =
        xcb_get_geometry_reply(d_->c, xcb_get_geometry(d_->c, w), nullptr);
    xcb_translate_coordinates_reply_t* t = xcb_translate_coordinates_reply(
        d_->c, xcb_translate_coordinates(d_->c, w, d_->screen->root, 0, 0), nullptr);
    std::vector<int> out;
    if (g && t) out = {t->dst_x, t->dst_y, g->width, g->height};
    free(g);
    free(t);
    return out;
}

void XDisplay::MoveMouse(int x, int y) {
    xcb_test_fake_input(d_->c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, d_->screen->root,
                        static_cast<int16_t>(x), static_cast<int16_t>(y), 0);
    d_->Sync();
}

void XDisplay::Click(int x, int y, int count) {
    MoveMouse(x, y);
    for (int i = 0; i < count; ++i) {
        xcb_test_fake_input(d_->c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(d_->c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        d_->Sync();
        // A person's clicks are some tens of milliseconds apart; browsers count a multiple
        // click by the time between them, so keep well inside their double-click interval.
        if (i + 1 < count) std::this_thread::sleep_for(40ms);
    }
}

// --- UserSession

UserSession::UserSession(const fs::path& dir, const std::string& name, bool inputMethod)
    : dir_(dir),
      home_(dir / (name + "-home")),
      log_(dir / (name + ".log")),
      inputMethod_(inputMethod) {
    fs::create_directories(home_);
    WriteFile(log_, "");
    if (!inputMethod_) return;
    struct passwd* pw = ::getpwnam(InputMethodUser().c_str());
    if (!pw) throw Error("no user " + InputMethodUser() + " for the input method");
    uid_ = pw->pw_uid;
    gid_ = pw->pw_gid;
    // The unprivileged user must reach its home inside our private directories: let it
    // pass through them (search only), up to the base of the scratch directories.
    const fs::path base = fs::weakly_canonical(ScratchBase());
    for (fs::path p = fs::weakly_canonical(home_).parent_path();; p = p.parent_path()) {
        auto [mismatch, end] = std::mismatch(base.begin(), base.end(), p.begin(), p.end());
        if (mismatch != base.end()) break;  // outside the base: not ours to open
        struct stat st;
        if (::stat(p.c_str(), &st) == 0 && (st.st_mode & S_IXOTH) == 0)
            ::chmod(p.c_str(), st.st_mode | S_IXOTH);
        if (p == base) break;
    }
    if (::chown(home_.c_str(), *uid_, gid_) != 0) throw Error("cannot chown the home");
    ::chmod(home_.c_str(), 0700);
    if (::chown(log_.c_str(), *uid_, gid_) != 0) throw Error("cannot chown the log");
}

void UserSession::Start(std::vector<std::string> argv, const std::vector<std::string>& env) {
    if (process_) throw Error("the session's program runs already");
    Process::Options po;
    po.output = log_;
    po.workDir = home_;
    po.env = {"HOME=" + home_.string(), "XDG_CONFIG_HOME=" + (home_ / ".config").string(),
              "XDG_DATA_HOME=" + (home_ / ".local/share").string(),
              "XDG_CACHE_HOME=" + (home_ / ".cache").string(),
              "XDG_RUNTIME_DIR=" + (home_ / "run").string()};
    po.env.insert(po.env.end(), env.begin(), env.end());
    if (inputMethod_) {
        // Everything under the home belongs to the user who runs the program.
        for (const auto& entry : fs::recursive_directory_iterator(home_))
            if (::lchown(entry.path().c_str(), *uid_, gid_) != 0)
                throw Error("cannot chown " + entry.path().string());
        argv.insert(argv.begin(), (SourceDir() / "tests" / "e2e" / "im-session.sh").string());
        po.uid = uid_;
        po.gid = gid_;
    }
    process_ = std::make_unique<Process>(argv, po);
}

// --- BrowserSession

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
    x_ = std::make_unique<XDisplay>();

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
                "--window-size=" + w + "," + h,
                url};
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
    session_.Start(argv, {"NO_AT_BRIDGE=1", "MOZ_CRASHREPORTER_DISABLE=1"});
}

// Processes that left the browser's process group (mozc_server daemonizes itself) are still
// recognisable by the HOME the session gave them, which no other process has.
static std::vector<pid_t> ProcessesWithHome(const fs::path& home) {
    const std::string needle = "HOME=" + home.string();
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string env = ReadText(entry.path() / "environ");
        std::size_t at = 0;
        for (std::size_t end; (end = env.find('\0', at)) != std::string::npos; at = end + 1) {
            if (env.compare(at, end - at, needle) == 0) {
                found.push_back(static_cast<pid_t>(std::stol(name)));
                break;
            }
        }
    }
    return found;
}

static void KillProcessesWithHome(const fs::path& home) {
    // Until none is left (a dying process still shows its environment for a moment).
    WaitFor(
        [&] {
            std::vector<pid_t> left = ProcessesWithHome(home);
            for (pid_t p : left) ::kill(p, SIGKILL);
            return left.empty();
        },
        3s, 20ms);
}

UserSession::~UserSession() {
    if (process_) process_->Stop();
    KillProcessesWithHome(home_);
}

std::string UserSession::Log() const {
    std::string log = ReadText(log_);
    if (inputMethod_) log += "\n--- fcitx5:\n" + ReadText(home_ / "fcitx5.log");
    return Tail(log);
}

BrowserSession::~BrowserSession() = default;

void BrowserSession::WaitReady(const std::string& title, Millis timeout) {
    auto lastAsk = std::chrono::steady_clock::now() - 1h;
    std::string seen;
    bool ok = WaitFor(
        [&] {
            if (!session_.Running()) return true;
            if (!window_) {
                seen.clear();
                for (std::uint32_t w : x_->ClientWindows()) {
                    std::string t = x_->Title(w);
                    seen += "[" + t + "] ";
                    if (t.rfind(title, 0) == 0 && x_->Viewable(w)) window_ = w;
                }
                if (!window_) return false;
            }
            if (x_->ActiveWindow() == window_) return true;
            auto now = std::chrono::steady_clock::now();
            if (now - lastAsk > 500ms) {
                x_->RequestActivate(window_);
                lastAsk = now;
            }
            return false;
        },
        timeout, 25ms);
    if (!session_.Running())
        throw Error(std::string(BrowserName(browser_)) + " ended early:\n" + Log());
    if (!ok) {
        throw Error(std::string(BrowserName(browser_)) + ": no active window titled \"" + title +
                    "\" (window " + std::to_string(window_) + ", windows seen: " + seen + ")\n" +
                    Log());
    }
}

Event BrowserSession::WaitLayout(Millis timeout) {
    if (!window_) throw Error("WaitLayout before WaitReady");
    std::vector<int> f = x_->Frame(window_);
    if (f.size() != 4) throw Error("cannot read the window's geometry");
    // The middle of the window is page, whatever the browser puts around it; wiggling the
    // pointer there makes the page report, once it has loaded.
    const int cx = f[0] + f[2] / 2, cy = f[1] + f[3] * 2 / 3;
    int after = server_.LastSeq();
    int i = 0;
    std::optional<Event> e;
    WaitFor(
        [&] {
            x_->MoveMouse(cx + (i++ % 2), cy);
            e = server_.WaitEvent("layout", after, 100ms, tag_);
            return e.has_value();
        },
        timeout, 1ms);
    if (!e) throw Error("the page did not report its layout\n" + Log());
    // A later report (the page moved) replaces it.
    while (std::optional<Event> newer = server_.WaitEvent("layout", e->seq, 0ms, tag_)) e = newer;
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

std::string BrowserSession::TripleClick(const std::string& id, Millis timeout) {
    auto [x, y] = CenterOf(id);
    int after = server_.LastSeq();
    x_->Click(x, y, 3);
    std::optional<Event> e = server_.WaitEvent("click", after, timeout, tag_,
                                               [](const Event& ev) { return ev.clicks >= 3; });
    if (!e) throw Error("the page saw no triple click on " + id);
    return e->text;
}

void BrowserSession::ClickToFocus(const std::string& id, Millis timeout) {
    // A page that was still settling (a late font moves the fields) or a browser that had not
    // yet taken the pointer can let a click miss: look where the field is now and click again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt) WaitLayout();
        auto [x, y] = CenterOf(id);
        int after = server_.LastSeq();
        x_->Click(x, y, 1);
        if (server_.WaitEvent("focus", after, timeout / 3, tag_,
                              [&](const Event& ev) { return ev.text == id; }))
            return;
    }
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

std::string UserSession::RunAsUser(const std::vector<std::string>& argv) {
    if (!uid_) return {};
    std::string bus = ReadText(home_ / "dbus-address");
    while (!bus.empty() && (bus.back() == '\n' || bus.back() == ' ')) bus.pop_back();
    if (bus.empty()) return {};
    fs::path out = dir_ / "run-as-user.out";
    WriteFile(out, "");
    if (::chown(out.c_str(), *uid_, gid_) != 0) return {};
    Process::Options po;
    po.output = out;
    po.uid = uid_;
    po.gid = gid_;
    po.workDir = home_;
    po.env = {"HOME=" + home_.string(), "DBUS_SESSION_BUS_ADDRESS=" + bus,
              "XDG_CONFIG_HOME=" + (home_ / ".config").string(),
              "XDG_RUNTIME_DIR=" + (home_ / "run").string()};
    Process p(argv, po);
    WaitFor([&] { return !p.Running(); }, 5s);
    p.Stop();
    return ReadText(out);
}

bool UserSession::SetInputMethod(bool on) {
    if (!inputMethod_) return false;
    // fcitx5 loads mozc on first use; a request made before then is lost, and keys typed
    // while it loads are dropped. Ask until the state says so and mozc has loaded.
    return WaitFor(
        [&] {
            RunAsUser({"fcitx5-remote", on ? "-o" : "-c"});
            if (InputMethodState() != (on ? 2 : 1)) return false;
            return !on ||
                   ReadText(home_ / "fcitx5.log").find("Loaded addon mozc") != std::string::npos;
        },
        10s, 100ms);
}

int UserSession::InputMethodState() {
    std::string s = RunAsUser({"fcitx5-remote"});
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    if (s.size() != 1 || s[0] < '0' || s[0] > '2') return -1;
    return s[0] - '0';
}

// --- xdotool

static void RunXdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    Process p(argv, {});
    if (!WaitFor([&] { return !p.Running(); }, 60s)) throw Error("xdotool did not finish");
}

void XdoType(const std::string& text, int delayMs) {
    RunXdotool({"type", "--delay", std::to_string(delayMs), "--", text});
}

void XdoKey(const std::string& keys) {
    // One argument per key, as a shell would split "a i u e o".
    std::vector<std::string> args = {"key", "--"};
    std::istringstream in(keys);
    for (std::string k; in >> k;) args.push_back(k);
    RunXdotool(args);
}

}  // namespace e2e
