#include "e2e/support/GnomeScreen.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <thread>

#include "e2e/support/Keyboard.h"
#include "e2e/support/Util.h"

namespace e2e {

GnomeDriver& GnomeDriver::Get() {
    static GnomeDriver driver;
    return driver;
}

GnomeDriver::GnomeDriver() {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) throw Error("no pipes for the GNOME driver");
    const std::string script = (SourceDir() / "tests/e2e/support/gnome-driver.js").string();
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[1]);
        close(out[0]);
        execlp("gjs", "gjs", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
    // Up once its portal session has started.
    const std::string first = Ask("");
    if (first != "ready") throw Error("the GNOME driver did not start: " + first);
}

GnomeDriver::~GnomeDriver() {
    if (to_ >= 0) close(to_);
    if (from_ >= 0) close(from_);
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::string GnomeDriver::Ask(const std::string& command) {
    if (!command.empty()) {
        const std::string line = command + "\n";
        if (write(to_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            throw Error("the GNOME driver has gone");
    }
    const auto end = std::chrono::steady_clock::now() + 30s;
    for (;;) {
        const std::size_t nl = buffered_.find('\n');
        if (nl != std::string::npos) {
            std::string answer = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            if (answer.rfind("error", 0) == 0)
                throw Error("GNOME driver, " + command + ": " + answer);
            return answer;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd p{from_, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
            throw Error("the GNOME driver did not answer " + command);
        char buf[4096];
        const ssize_t n = read(from_, buf, sizeof buf);
        if (n <= 0) throw Error("the GNOME driver has gone (" + command + ")");
        buffered_.append(buf, static_cast<std::size_t>(n));
    }
}

std::map<std::uint32_t, GnomeScreen::Shown> GnomeScreen::WaylandWindows() {
    std::map<std::uint32_t, Shown> shown;
    const QJsonArray list =
        QJsonDocument::fromJson(QByteArray::fromStdString(GnomeDriver::Get().Ask("windows")))
            .array();
    for (const QJsonValue& v : list) {
        const QJsonObject w = v.toObject();
        if (w.value("x11").toBool()) continue;
        const auto shellId = static_cast<std::uint64_t>(w.value("id").toDouble());
        auto [it, added] = ids_.emplace(shellId, kFirstWaylandId + ids_.size());
        shown[it->second] = {w.value("title").toString().toStdString(), w.value("focus").toBool(),
                             w.value("hidden").toBool(), w.value("height").toInt()};
    }
    return shown;
}

std::vector<std::uint32_t> GnomeScreen::ClientWindows() {
    std::vector<std::uint32_t> all = x_.ClientWindows();
    for (const auto& [id, w] : WaylandWindows()) all.push_back(id);
    return all;
}

std::string GnomeScreen::Title(std::uint32_t w) {
    if (!IsWayland(w)) return x_.Title(w);
    const auto shown = WaylandWindows();
    const auto it = shown.find(w);
    return it == shown.end() ? std::string() : it->second.title;
}

bool GnomeScreen::Viewable(std::uint32_t w) {
    if (!IsWayland(w)) return x_.Viewable(w);
    const auto shown = WaylandWindows();
    const auto it = shown.find(w);
    return it != shown.end() && !it->second.hidden;
}

std::uint32_t GnomeScreen::ActiveWindow() {
    // GNOME names a window of its own active for X11 while a Wayland window has the keyboard.
    const std::uint32_t x11 = x_.ActiveWindow();
    const std::vector<std::uint32_t> managed = x_.ClientWindows();
    if (x11 && std::find(managed.begin(), managed.end(), x11) != managed.end()) return x11;
    for (const auto& [id, w] : WaylandWindows())
        if (w.focus) return id;
    return 0;
}

void GnomeScreen::RequestActivate(std::uint32_t w) {
    if (!IsWayland(w)) return x_.RequestActivate(w);
    const auto shown = WaylandWindows();
    const auto it = shown.find(w);
    const std::vector<int> area = x_.WorkArea();
    if (it == shown.end() || area.size() != 4) return;
    // Its tab strip, a little below the top of the window GNOME centred.
    Click(area[0] + area[2] / 2, area[1] + (area[3] - it->second.height) / 2 + 12);
}

std::vector<int> GnomeScreen::Frame(std::uint32_t w) {
    if (!IsWayland(w)) return x_.Frame(w);
    return x_.WorkArea();
}

bool GnomeScreen::Move(std::uint32_t w, int x, int y) {
    return !IsWayland(w) && x_.Move(w, x, y);
}

void GnomeScreen::MoveMouse(int x, int y) {
    GnomeDriver::Get().Ask("move " + std::to_string(x) + " " + std::to_string(y));
}

void GnomeScreen::Click(int x, int y, int count) {
    MoveMouse(x, y);
    for (int i = 0; i < count; ++i) {
        GnomeDriver::Get().Ask("button 1");
        GnomeDriver::Get().Ask("button 0");
        // Well inside the double-click interval, as a person's clicks are.
        if (i + 1 < count) std::this_thread::sleep_for(40ms);
    }
}

void GnomeScreen::Key(const std::string& keys) {
    Keyboard::Get().Keys(keys);
}

void GnomeScreen::Type(const std::string& text) {
    Keyboard::Get().Type(text);
}

}  // namespace e2e
