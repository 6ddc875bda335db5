#include "e2e/support/Keyboard.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

#include "e2e/support/GnomeScreen.h"
#include "e2e/support/Util.h"
#include "fake-input-client.h"
#include "virtual-keyboard-unstable-v1-client.h"

namespace e2e {

namespace {

std::uint32_t NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Keys and text as a US keyboard types them, whoever presses the keys.
class LayoutKeyboard : public Keyboard {
  public:
    LayoutKeyboard() {
        ctx_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        const xkb_rule_names names = {"evdev", "pc105", "us", "", ""};
        map_ = xkb_keymap_new_from_names(ctx_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!map_) throw Error("cannot make a US keymap");
    }

    void Keys(const std::string& keys) override {
        std::istringstream in(keys);
        for (std::string k; in >> k;) {
            std::uint32_t mods = 0;
            std::vector<xkb_keycode_t> held;
            for (std::size_t plus; (plus = k.find('+')) != std::string::npos;
                 k.erase(0, plus + 1)) {
                const std::string m = k.substr(0, plus);
                const char* sym = m == "ctrl" ? "Control_L" : m == "shift" ? "Shift_L"
                                                : m == "alt"               ? "Alt_L"
                                                                           : nullptr;
                if (!sym) throw Error("no modifier " + m);
                held.push_back(Code(xkb_keysym_from_name(sym, XKB_KEYSYM_NO_FLAGS), m));
                mods |= 1u << xkb_keymap_mod_get_index(
                            map_, m == "ctrl" ? XKB_MOD_NAME_CTRL
                                  : m == "shift" ? XKB_MOD_NAME_SHIFT
                                                 : XKB_MOD_NAME_ALT);
            }
            const xkb_keysym_t sym = xkb_keysym_from_name(k.c_str(), XKB_KEYSYM_NO_FLAGS);
            Press(held, mods, Code(sym, k));
        }
    }

    void Type(const std::string& text) override {
        for (char c : text) {
            const xkb_keysym_t sym = xkb_utf32_to_keysym(static_cast<unsigned char>(c));
            // A capital or a sign on a shifted key is typed with Shift, as a person would.
            xkb_keycode_t code = Code(sym, std::string(1, c), /*allowShift=*/true);
            if (shifted_) {
                Press({Code(xkb_keysym_from_name("Shift_L", XKB_KEYSYM_NO_FLAGS), "Shift")},
                      1u << xkb_keymap_mod_get_index(map_, XKB_MOD_NAME_SHIFT), code);
            } else {
                Press({}, 0, code);
            }
        }
    }

  protected:
    // A key by its XKB code; the modifiers stated (where the keyboard states them); the
    // compositor has handled what was sent.
    virtual void Send(xkb_keycode_t code, bool pressed) = 0;
    virtual void Modifiers(std::uint32_t mods) = 0;
    virtual void Sync() = 0;

    // The key that gives `sym` in the first level (or the second, Shift, when allowed).
    xkb_keycode_t Code(xkb_keysym_t sym, const std::string& name, bool allowShift = false) {
        shifted_ = false;
        for (int level = 0; level < (allowShift ? 2 : 1); ++level) {
            for (xkb_keycode_t c = xkb_keymap_min_keycode(map_); c <= xkb_keymap_max_keycode(map_);
                 ++c) {
                const xkb_keysym_t* syms = nullptr;
                if (xkb_keymap_key_get_syms_by_level(map_, c, 0, level, &syms) == 1 &&
                    syms[0] == sym) {
                    shifted_ = level == 1;
                    return c;
                }
            }
        }
        throw Error("no key for " + name);
    }

    void Press(const std::vector<xkb_keycode_t>& held, std::uint32_t mods, xkb_keycode_t code) {
        for (xkb_keycode_t h : held) Send(h, true);
        if (mods) Modifiers(mods);
        Send(code, true);
        Send(code, false);
        for (xkb_keycode_t h : held) Send(h, false);
        if (mods) Modifiers(0);
        Sync();
        // Typing speed of a quick typist, as xdotool's default delay: a client that reads its
        // events late must still see the keys one by one.
        std::this_thread::sleep_for(12ms);
    }

    xkb_context* ctx_ = nullptr;
    xkb_keymap* map_ = nullptr;
    bool shifted_ = false;
};

class VirtualKeyboard : public LayoutKeyboard {
  public:
    VirtualKeyboard() {
        d_ = wl_display_connect(nullptr);
        if (!d_) throw Error("cannot connect to $WAYLAND_DISPLAY");
        static const wl_registry_listener listener = {OnGlobal,
                                                      [](void*, wl_registry*, std::uint32_t) {}};
        wl_registry* r = wl_display_get_registry(d_);
        wl_registry_add_listener(r, &listener, this);
        wl_display_roundtrip(d_);
        wl_registry_destroy(r);
        if (manager_ && seat_) {
            kb_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_, seat_);
        } else if (fake_) {
            // KWin offers ordinary programs no virtual keyboard: its fake input presses keys of
            // the session's layout (US, as kwin-session.sh leaves it), which is the keymap here.
            org_kde_kwin_fake_input_authenticate(fake_, "penrika tests", "the user's keys");
        } else {
            throw Error("the compositor offers no virtual keyboard");
        }

        if (kb_) {
            char* text = xkb_keymap_get_as_string(map_, XKB_KEYMAP_FORMAT_TEXT_V1);
            const std::size_t size = std::strlen(text) + 1;
            int fd = memfd_create("test-keymap", MFD_CLOEXEC);
            if (fd < 0 || write(fd, text, size) != static_cast<ssize_t>(size))
                throw Error("cannot hand the keymap over");
            std::free(text);
            zwp_virtual_keyboard_v1_keymap(kb_, XKB_KEYMAP_FORMAT_TEXT_V1, fd,
                                           static_cast<std::uint32_t>(size));
            close(fd);
        }
        Sync();
        // The seat takes a keyboard's keymap at its first key, and Chromium's composition in
        // progress is dropped then: that happens here rather than in what the test types.
        Press({}, 0, Code(xkb_keysym_from_name("Shift_L", XKB_KEYSYM_NO_FLAGS), "Shift_L"));
    }

  private:
    static void OnGlobal(void* data, wl_registry* r, std::uint32_t name, const char* interface,
                         std::uint32_t version) {
        auto* self = static_cast<VirtualKeyboard*>(data);
        if (!self->seat_ && std::strcmp(interface, wl_seat_interface.name) == 0)
            self->seat_ = static_cast<wl_seat*>(wl_registry_bind(r, name, &wl_seat_interface, 1));
        else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
            self->manager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(r, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
        else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 &&
                 version >= kFakeKeysSince)
            self->fake_ = static_cast<org_kde_kwin_fake_input*>(
                wl_registry_bind(r, name, &org_kde_kwin_fake_input_interface, kFakeKeysSince));
    }

    void Send(xkb_keycode_t code, bool pressed) override {
        // Wayland keys are evdev codes, XKB's less 8.
        if (kb_)
            zwp_virtual_keyboard_v1_key(kb_, NowMs(), code - 8, pressed ? 1 : 0);
        else
            org_kde_kwin_fake_input_keyboard_key(fake_, code - 8, pressed ? 1 : 0);
    }
    // A virtual keyboard states its modifiers; KWin follows the fake keys held.
    void Modifiers(std::uint32_t mods) override {
        if (kb_) zwp_virtual_keyboard_v1_modifiers(kb_, mods, 0, 0, 0);
    }

    void Sync() override {
        if (wl_display_roundtrip(d_) < 0) throw Error("the compositor closed the connection");
    }

    static constexpr std::uint32_t kFakeKeysSince = 4;  // keyboard_key

    wl_display* d_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwp_virtual_keyboard_manager_v1* manager_ = nullptr;
    zwp_virtual_keyboard_v1* kb_ = nullptr;
    org_kde_kwin_fake_input* fake_ = nullptr;
};

// GNOME lets no program make a keyboard of its own: the test's keys go through the desktop
// portal (gnome-driver.js), on the session's US layout.
class GnomeKeyboard : public LayoutKeyboard {
  protected:
    void Send(xkb_keycode_t code, bool pressed) override {
        GnomeDriver::Get().Ask("key " + std::to_string(code - 8) + (pressed ? " 1" : " 0"));
    }
    void Modifiers(std::uint32_t) override {}
    void Sync() override {}
};
}  // namespace

Keyboard& Keyboard::Get() {
    if (InGnomeSession()) {
        static GnomeKeyboard keyboard;
        return keyboard;
    }
    static VirtualKeyboard keyboard;
    return keyboard;
}

}  // namespace e2e
