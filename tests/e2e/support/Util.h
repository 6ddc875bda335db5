// Small pieces the end-to-end harness shares: the file and error helpers its classes have in
// common (and the tests' one polling wait).
#pragma once

#include <cstdlib>

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "support/Wait.h"

namespace e2e {

using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

// The harness's own failures, marked as such.
std::runtime_error Error(const std::string& what);

// The whole file; "" when it cannot be read.
std::string ReadText(const std::filesystem::path& p);
// Replaces the file's content; throws when it cannot.
void WriteFile(const std::filesystem::path& p, const std::string& text);
// The last `n` bytes, enough of a log for a failure message.
std::string Tail(const std::string& s, std::size_t n = 3000);

// The source tree: the pages, the form server and the session script live there.
std::filesystem::path SourceDir();

// Whether the test runs in one of the Wayland sessions of tests/support/*-session.sh.
inline bool InWaylandSession() {
    return std::getenv("PENRIKA_WAYLAND_SESSION") != nullptr;
}
// GNOME's (tests/support/gnome-session.sh), where the program itself runs on X11 (XWayland).
inline bool InGnomeSession() {
    const char* s = std::getenv("PENRIKA_WAYLAND_SESSION");
    return s && std::string_view(s) == "gnome";
}

}  // namespace e2e
