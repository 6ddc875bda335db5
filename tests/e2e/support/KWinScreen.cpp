#include "e2e/support/KWinScreen.h"

#include <unistd.h>
#include <wayland-client.h>

#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "e2e/support/Keyboard.h"
#include "e2e/support/Pointer.h"
#include "e2e/support/Util.h"
#include "plasma-window-management-client.h"
#include "support/Launch.h"

namespace e2e {

namespace {
// The newest version whose events are handled here: Debian 12's protocol description, whose
// windows come with uuids (13) and geometry (6).
constexpr std::uint32_t kVersion = 16;
constexpr std::uint32_t kActive = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE;
constexpr std::uint32_t kMinimized = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED;

std::atomic<int> g_scripts{0};

std::string DBusSend(const std::string& path, const std::string& method,
                     const std::string& args = "") {
    return Capture("dbus-send --session --print-reply --dest=org.kde.KWin " + path + " " +
                   method + " " + args + " 2>&1");
}
}  // namespace

struct KWinScreen::List {
    struct Window {
        List* list = nullptr;
        org_kde_plasma_window* handle = nullptr;
        std::uint32_t id = 0;
        std::string uuid, title;
        std::uint32_t state = 0;
        std::vector<int> frame;
        bool described = false;
    };

    wl_display* d = nullptr;
    org_kde_plasma_window_management* manager = nullptr;
    wl_output* output = nullptr;
    int width = 0, height = 0;
    std::map<std::uint32_t, std::unique_ptr<Window>> windows;
    std::uint32_t nextId = 1;

    List() {
        d = wl_display_connect(nullptr);
        if (!d) throw Error("cannot connect to $WAYLAND_DISPLAY");
        static const wl_registry_listener registry = {
            [](void* data, wl_registry* r, std::uint32_t name, const char* interface,
               std::uint32_t version) {
                auto* self = static_cast<List*>(data);
                if (std::strcmp(interface, org_kde_plasma_window_management_interface.name) == 0)
                    self->manager = static_cast<org_kde_plasma_window_management*>(wl_registry_bind(
                        r, name, &org_kde_plasma_window_management_interface,
                        std::min(version, kVersion)));
                else if (!self->output && std::strcmp(interface, wl_output_interface.name) == 0)
                    self->output = static_cast<wl_output*>(
                        wl_registry_bind(r, name, &wl_output_interface, 1));
            },
            [](void*, wl_registry*, std::uint32_t) {}};
        wl_registry* r = wl_display_get_registry(d);
        wl_registry_add_listener(r, &registry, this);
        wl_display_roundtrip(d);
        wl_registry_destroy(r);
        if (!manager) throw Error("KWin lists no windows to this program (not trusted?)");
        static const wl_output_listener outputListener = {
            .geometry = [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t,
                           std::int32_t, std::int32_t, const char*, const char*, std::int32_t) {},
            .mode =
                [](void* data, wl_output*, std::uint32_t flags, std::int32_t w, std::int32_t h,
                   std::int32_t) {
                    auto* self = static_cast<List*>(data);
                    if (flags & WL_OUTPUT_MODE_CURRENT) self->width = w, self->height = h;
                },
            .done = [](void*, wl_output*) {},
            .scale = [](void*, wl_output*, std::int32_t) {},
            .name = [](void*, wl_output*, const char*) {},
            .description = [](void*, wl_output*, const char*) {},
        };
        if (output) wl_output_add_listener(output, &outputListener, this);
        static const org_kde_plasma_window_management_listener listener = {
            .show_desktop_changed = [](void*, org_kde_plasma_window_management*, std::uint32_t) {},
            .window =
                [](void* data, org_kde_plasma_window_management* m, std::uint32_t id) {
                    static_cast<List*>(data)->Add(org_kde_plasma_window_management_get_window(m, id),
                                                  "");
                },
            .stacking_order_changed = [](void*, org_kde_plasma_window_management*, wl_array*) {},
            .stacking_order_uuid_changed = [](void*, org_kde_plasma_window_management*,
                                              const char*) {},
            .window_with_uuid =
                [](void* data, org_kde_plasma_window_management* m, std::uint32_t,
                   const char* uuid) {
                    static_cast<List*>(data)->Add(
                        org_kde_plasma_window_management_get_window_by_uuid(m, uuid), uuid);
                },
#ifdef ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STACKING_ORDER_CHANGED_2_SINCE_VERSION
            .stacking_order_changed_2 = [](void*, org_kde_plasma_window_management*) {},
#endif
        };
        org_kde_plasma_window_management_add_listener(manager, &listener, this);
        // The windows, then what each of them is.
        Sync();
        Sync();
    }
    ~List() {
        for (auto& [id, w] : windows) org_kde_plasma_window_destroy(w->handle);
        if (manager) org_kde_plasma_window_management_destroy(manager);
        if (output) wl_output_destroy(output);
        wl_display_roundtrip(d);
        wl_display_disconnect(d);
    }

    void Sync() {
        if (wl_display_roundtrip(d) < 0) throw Error("KWin closed the connection");
    }

    void Add(org_kde_plasma_window* handle, const char* uuid) {
        static const org_kde_plasma_window_listener listener = {
            .title_changed =
                [](void* data, org_kde_plasma_window*, const char* title) {
                    static_cast<Window*>(data)->title = title ? title : "";
                },
            .app_id_changed = [](void*, org_kde_plasma_window*, const char*) {},
            .state_changed =
                [](void* data, org_kde_plasma_window*, std::uint32_t flags) {
                    static_cast<Window*>(data)->state = flags;
                },
            .virtual_desktop_changed = [](void*, org_kde_plasma_window*, std::int32_t) {},
            .themed_icon_name_changed = [](void*, org_kde_plasma_window*, const char*) {},
            .unmapped =
                [](void* data, org_kde_plasma_window*) {
                    auto* w = static_cast<Window*>(data);
                    org_kde_plasma_window_destroy(w->handle);
                    w->list->windows.erase(w->id);
                },
            .initial_state =
                [](void* data, org_kde_plasma_window*) {
                    static_cast<Window*>(data)->described = true;
                },
            .parent_window = [](void*, org_kde_plasma_window*, org_kde_plasma_window*) {},
            .geometry =
                [](void* data, org_kde_plasma_window*, std::int32_t x, std::int32_t y,
                   std::uint32_t w, std::uint32_t h) {
                    static_cast<Window*>(data)->frame = {x, y, static_cast<int>(w),
                                                         static_cast<int>(h)};
                },
            .icon_changed = [](void*, org_kde_plasma_window*) {},
            .pid_changed = [](void*, org_kde_plasma_window*, std::uint32_t) {},
            .virtual_desktop_entered = [](void*, org_kde_plasma_window*, const char*) {},
            .virtual_desktop_left = [](void*, org_kde_plasma_window*, const char*) {},
            .application_menu = [](void*, org_kde_plasma_window*, const char*, const char*) {},
            .activity_entered = [](void*, org_kde_plasma_window*, const char*) {},
            .activity_left = [](void*, org_kde_plasma_window*, const char*) {},
            .resource_name_changed = [](void*, org_kde_plasma_window*, const char*) {},
#ifdef ORG_KDE_PLASMA_WINDOW_CLIENT_GEOMETRY_SINCE_VERSION
            .client_geometry = [](void*, org_kde_plasma_window*, std::int32_t, std::int32_t,
                                  std::uint32_t, std::uint32_t) {},
#endif
        };
        auto w = std::make_unique<Window>();
        w->list = this;
        w->handle = handle;
        w->id = nextId++;
        w->uuid = uuid;
        org_kde_plasma_window_add_listener(handle, &listener, w.get());
        windows.emplace(w->id, std::move(w));
    }

    // The window as KWin last described it, after what it has sent so far; null when gone.
    Window* Find(std::uint32_t id) {
        Sync();
        auto it = windows.find(id);
        return it == windows.end() || !it->second->described ? nullptr : it->second.get();
    }
};

namespace {
// One pointer for the whole test program, as on sway (SwayScreen.cpp).
Pointer& ThePointer(int width, int height) {
    static std::unique_ptr<Pointer> pointer = [&] {
        if (!width || !height) throw Error("KWin reports no output");
        return Pointer::Connect(width, height);
    }();
    return *pointer;
}
}  // namespace

KWinScreen::KWinScreen()
    : list_(std::make_unique<List>()), pointer_(ThePointer(list_->width, list_->height)) {
    // Made now, while no input method grabs the keys (a Shift would switch it).
    Keyboard::Get();
}

KWinScreen::~KWinScreen() = default;

std::vector<std::uint32_t> KWinScreen::ClientWindows() {
    list_->Sync();
    std::vector<std::uint32_t> out;
    for (auto& [id, w] : list_->windows)
        if (w->described) out.push_back(id);
    return out;
}

std::string KWinScreen::Title(std::uint32_t w) {
    List::Window* win = list_->Find(w);
    return win ? win->title : "";
}

bool KWinScreen::Titled(std::uint32_t w, const std::string& title) {
    const QString shown = QString::fromStdString(Title(w));
    const QString given = QString::fromStdString(title).simplified();
    if (shown == given) return true;
    static const QRegularExpression suffix(QStringLiteral(" <[0-9]+>$"));
    const QRegularExpressionMatch m = suffix.match(shown);
    return m.hasMatch() && shown.left(m.capturedStart()) == given;
}

bool KWinScreen::Viewable(std::uint32_t w) {
    // KWin 5 lists a window as soon as the program makes it, before it is placed and shown: it
    // is there once it has a size.
    List::Window* win = list_->Find(w);
    return win && !(win->state & kMinimized) && win->frame.size() == 4 && win->frame[2] > 0 &&
           win->frame[3] > 0;
}

std::uint32_t KWinScreen::ActiveWindow() {
    list_->Sync();
    for (auto& [id, w] : list_->windows)
        if (w->described && (w->state & kActive)) return id;
    return 0;
}

void KWinScreen::RequestActivate(std::uint32_t w) {
    if (List::Window* win = list_->Find(w)) {
        org_kde_plasma_window_set_state(win->handle, kActive, kActive);
        list_->Sync();
    }
}

std::vector<int> KWinScreen::Frame(std::uint32_t w) {
    List::Window* win = list_->Find(w);
    return win ? win->frame : std::vector<int>{};
}

bool KWinScreen::Move(std::uint32_t w, int x, int y) {
    if (!Viewable(w)) return false;
    List::Window* win = list_->Find(w);
    if (win->uuid.empty()) return false;
    if (win->frame[0] == x && win->frame[1] == y) return true;
    // KWin reads the script as its own user: it lies where that user may read it.
    const char* work = std::getenv("PENRIKA_TEST_WORK");
    const std::string name = "penrika-move-" + std::to_string(::getpid()) + "-" +
                             std::to_string(++g_scripts);
    const std::filesystem::path file = std::filesystem::path(work ? work : "/tmp") / (name + ".js");
    // KWin 5 lists the windows by clientList, KWin 6 by windowList; the window list's uuid is
    // the window's internalId.
    WriteFile(file, "const all = workspace.windowList ? workspace.windowList()"
                    " : workspace.clientList();\n"
                    "for (const w of all) {\n"
                    "    if (String(w.internalId) !== \"" + win->uuid + "\") continue;\n"
                    "    const g = w.frameGeometry;\n"
                    "    w.frameGeometry = {x: " + std::to_string(x) + ", y: " +
                    std::to_string(y) + ", width: g.width, height: g.height};\n"
                    "}\n");
    std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
    const std::string loaded = DBusSend("/Scripting", "org.kde.kwin.Scripting.loadScript",
                                        "string:" + file.string() + " string:" + name);
    const std::size_t at = loaded.find("int32 ");
    const std::string id = at == std::string::npos ? "" : loaded.substr(at + 6, loaded.find('\n', at) - at - 6);
    bool there = false;
    if (!id.empty() && id[0] != '-') {
        // KWin 6 puts a loaded script at /Scripting/Script<id>, KWin 5 at /<id>.
        if (DBusSend("/Scripting/Script" + id, "org.kde.kwin.Script.run").find("Error") !=
            std::string::npos)
            DBusSend("/" + id, "org.kde.kwin.Script.run");
        // KWin reads the file and runs it after answering; the window's new place is the end.
        there = WaitUntil(
            [&] {
                List::Window* now = list_->Find(w);
                return now && now->frame.size() == 4 && now->frame[0] == x && now->frame[1] == y;
            },
            10s);
    }
    DBusSend("/Scripting", "org.kde.kwin.Scripting.unloadScript", "string:" + name);
    std::filesystem::remove(file);
    return there;
}

void KWinScreen::MoveMouse(int x, int y) {
    pointer_.MoveTo(x, y);
}

void KWinScreen::Click(int x, int y, int count) {
    pointer_.Click(x, y, count);
}

void KWinScreen::Key(const std::string& keys) {
    Keyboard::Get().Keys(keys);
}

void KWinScreen::Type(const std::string& text) {
    Keyboard::Get().Type(text);
}

}  // namespace e2e
