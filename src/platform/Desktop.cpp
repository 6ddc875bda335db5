#include "platform/Desktop.h"

#include <cstdlib>

namespace platform {
namespace {
Desktop* g_desktop = nullptr;
}

Desktop& TheDesktop() {
    // Using the desktop before main() installed one is a programming error, not a user's.
    if (!g_desktop) std::abort();
    return *g_desktop;
}

void SetDesktop(Desktop* desktop) {
    g_desktop = desktop;
}

}  // namespace platform
