#include "e2e/support/UserSession.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "e2e/support/Util.h"
#include "support/ScratchDir.h"

namespace fs = std::filesystem;

namespace e2e {

std::string InputMethodUser() {
    const char* u = std::getenv("PENRIKA_E2E_USER");
    return u && *u ? u : "nobody";
}

UserSession::UserSession(const fs::path& dir, const std::string& name, bool inputMethod)
    : dir_(dir),
      home_(dir / (name + "-home")),
      log_(dir / (name + ".log")),
      inputMethod_(inputMethod) {
    // KWin's own input method, when the session has one, is the one the program gets.
    const char* sessionLog = std::getenv("PENRIKA_KWIN_INPUT_METHOD_LOG");
    imLog_ = sessionLog && *sessionLog ? fs::path(sessionLog) : home_ / "fcitx5.log";
    fs::create_directories(home_);
    WriteFile(log_, "");
    if (!inputMethod_) return;
    struct passwd* pw = ::getpwnam(InputMethodUser().c_str());
    if (!pw) throw Error("no user " + InputMethodUser() + " for the input method");
    uid_ = pw->pw_uid;
    gid_ = pw->pw_gid;
    // The unprivileged user must reach its home inside our private directories: let it
    // pass through them (search only), up to the base of the scratch directories.
    const fs::path base = fs::weakly_canonical(ScratchDir::Base());
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
    argv_ = argv;
    env_ = env;
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
    WaitUntil(
        [&] {
            std::vector<pid_t> left = ProcessesWithHome(home);
            for (pid_t p : left) ::kill(p, SIGKILL);
            return left.empty();
        },
        3s, 20ms);
}

void UserSession::StartAgain() {
    if (Running()) throw Error("the session's program runs still");
    KillProcessesWithHome(home_);
    process_.reset();
    Start(argv_, env_);
}

UserSession::~UserSession() {
    if (process_) process_->Stop();
    KillProcessesWithHome(home_);
}

std::string UserSession::Log() const {
    std::string log = ReadText(log_);
    if (inputMethod_) log += "\n--- fcitx5:\n" + ReadText(imLog_);
    return Tail(log);
}

std::string UserSession::BusAddress() const {
    if (!uid_) return {};
    std::error_code ec;
    if (!fs::exists(home_ / "dbus-address", ec)) return {};
    std::string bus = ReadText(home_ / "dbus-address");
    while (!bus.empty() && (bus.back() == '\n' || bus.back() == ' ')) bus.pop_back();
    return bus;
}

std::string UserSession::RunAsUser(const std::vector<std::string>& argv) {
    const std::string bus = BusAddress();
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
    WaitUntil([&] { return !p.Running(); }, 5s);
    p.Stop();
    return ReadText(out);
}

bool UserSession::SetInputMethod(bool on) {
    if (!inputMethod_) return false;
    // fcitx5 loads mozc on first use; a request made before then is lost, and keys typed
    // while it loads are dropped. Ask until the state says so and mozc has loaded.
    return WaitUntil(
        [&] {
            RunAsUser({"fcitx5-remote", on ? "-o" : "-c"});
            if (InputMethodState() != (on ? 2 : 1)) return false;
            return !on ||
                   ReadText(imLog_).find("Loaded addon mozc") != std::string::npos;
        },
        10s, 100ms);
}

int UserSession::InputMethodState() {
    std::string s = RunAsUser({"fcitx5-remote"});
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    if (s.size() != 1 || s[0] < '0' || s[0] > '2') return -1;
    return s[0] - '0';
}

}  // namespace e2e
