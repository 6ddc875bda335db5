#include "e2e/support/Process.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace e2e {

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
    pid_t r = ::waitpid(pid_, &status_, WNOHANG);
    if (r == pid_) {
        reaped_ = true;
        return false;
    }
    return r == 0;
}

std::string Process::HowItEnded() const {
    if (!reaped_) return {};
    if (WIFSIGNALED(status_)) return "signal " + std::to_string(WTERMSIG(status_));
    return "exit " + std::to_string(WEXITSTATUS(status_));
}

void Process::Stop(Millis grace) {
    if (pid_ <= 0) return;
    if (Running()) {
        ::kill(-pid_, SIGTERM);
        WaitUntil([&] { return !Running(); }, grace, 10ms);
    }
    // Whatever is left of the group (the leader or the children it started) goes now, and is
    // gone before this returns (bounded: zombies that nobody reaps still count as members).
    ::kill(-pid_, SIGKILL);
    WaitUntil([&] { return ::kill(-pid_, 0) != 0; }, 2s, 10ms);
    if (!reaped_) {
        int status;
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
    }
    pid_ = -1;
}

}  // namespace e2e
