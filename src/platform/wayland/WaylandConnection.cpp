#include "platform/wayland/WaylandConnection.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <QSocketNotifier>
#include <algorithm>
#include <chrono>

#include "platform/qt/QtSupport.h"

namespace platform {

namespace {
const wl_registry_listener kRegistryListener = {
    [](void* d, wl_registry* r, std::uint32_t n, const char* i, std::uint32_t v) {
        static_cast<std::set<std::string>*>(d)->insert(i);
    },
    [](void*, wl_registry*, std::uint32_t) {},
};
}  // namespace

std::set<std::string> WaylandConnection::GlobalsOffered() {
    std::set<std::string> names;
    wl_display* d = wl_display_connect(nullptr);
    if (!d) return names;
    wl_registry* r = wl_display_get_registry(d);
    wl_registry_add_listener(r, &kRegistryListener, &names);
    wl_display_roundtrip(d);
    wl_registry_destroy(r);
    wl_display_disconnect(d);
    return names;
}

WaylandConnection::WaylandConnection() {
    display_ = wl_display_connect(nullptr);
    if (!display_) return;
    static const wl_registry_listener listener = {OnGlobal, OnGlobalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
    wl_display_roundtrip(display_);
    if (auto it = globals_.find("wl_seat"); it != globals_.end()) {
        seat_ = static_cast<wl_seat*>(wl_registry_bind(registry_, it->second.name,
                                                       &wl_seat_interface,
                                                       std::min<std::uint32_t>(it->second.version, 5)));
        static const wl_seat_listener seatListener = {OnSeatCapabilities, OnSeatName};
        wl_seat_add_listener(seat_, &seatListener, this);
        // Capabilities, then the keyboard's keymap.
        wl_display_roundtrip(display_);
        wl_display_roundtrip(display_);
    }
    notifier_ = std::make_unique<QSocketNotifier>(wl_display_get_fd(display_),
                                                  QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Dispatch(); });
}

WaylandConnection::~WaylandConnection() {
    if (!display_) return;
    notifier_.reset();
    if (keyboard_) wl_keyboard_destroy(keyboard_);
    if (seat_) wl_seat_destroy(seat_);
    wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
}

void WaylandConnection::OnGlobal(void* data, wl_registry*, std::uint32_t name,
                                 const char* interface, std::uint32_t version) {
    auto* self = static_cast<WaylandConnection*>(data);
    // The first seat is the user's (compositors here have one).
    self->globals_.emplace(interface, Global{name, version});
}

void WaylandConnection::OnGlobalRemove(void* data, wl_registry*, std::uint32_t name) {
    auto* self = static_cast<WaylandConnection*>(data);
    std::erase_if(self->globals_, [name](const auto& g) { return g.second.name == name; });
}

void WaylandConnection::OnSeatCapabilities(void* data, wl_seat* s, std::uint32_t caps) {
    auto* self = static_cast<WaylandConnection*>(data);
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && !self->keyboard_) {
        static const wl_keyboard_listener listener = {
            OnKeymap,
            [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
            [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
            [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
            [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
               std::uint32_t) {},
            [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
        };
        self->keyboard_ = wl_seat_get_keyboard(s);
        wl_keyboard_add_listener(self->keyboard_, &listener, self);
    }
}

void WaylandConnection::OnSeatName(void*, wl_seat*, const char*) {}

void WaylandConnection::OnKeymap(void* data, wl_keyboard*, std::uint32_t format, int fd,
                                 std::uint32_t size) {
    auto* self = static_cast<WaylandConnection*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            const char* text = static_cast<const char*>(map);
            self->keymap_.assign(text, strnlen(text, size));
            munmap(map, size);
        }
    }
    close(fd);
}

void* WaylandConnection::Bind(const wl_interface* interface, std::uint32_t maxVersion) {
    auto it = globals_.find(interface->name);
    if (!display_ || it == globals_.end()) return nullptr;
    return wl_registry_bind(registry_, it->second.name, interface,
                            std::min(it->second.version, maxVersion));
}

std::uint32_t WaylandConnection::VersionOf(const std::string& interface) const {
    auto it = globals_.find(interface);
    return it == globals_.end() ? 0 : it->second.version;
}

bool WaylandConnection::RoundTrip() {
    return display_ && wl_display_roundtrip(display_) >= 0;
}

bool WaylandConnection::Dispatch() {
    if (!display_) return false;
    int handled = 0;
    while (wl_display_prepare_read(display_) != 0) handled += wl_display_dispatch_pending(display_);
    wl_display_flush(display_);
    pollfd p{wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&p, 1, 0) > 0 && (p.revents & POLLIN))
        wl_display_read_events(display_);
    else
        wl_display_cancel_read(display_);
    handled += std::max(0, wl_display_dispatch_pending(display_));
    return handled > 0;
}

bool WaylandConnection::WaitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs,
                                  bool userInput) {
    if (!display_) return RunEventsUntil(done, timeoutMs, pollMs, userInput);
    wl_display_flush(display_);
    // The connection's own notifier would take the wake-ups from the wait (waits may nest).
    notifier_->setEnabled(false);
    ++waiting_;
    const bool held = RunEventsUntil(done, timeoutMs, pollMs, userInput,
                                     wl_display_get_fd(display_), [this] { return Dispatch(); });
    if (--waiting_ == 0) notifier_->setEnabled(true);
    return held;
}

void WaylandConnection::Pause(int ms, bool userInput) {
    if (ms <= 0) return;
    WaitUntil([] { return false; }, ms, ms, userInput);
}

std::uint32_t WaylandConnection::NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace platform
