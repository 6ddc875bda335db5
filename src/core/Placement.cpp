#include "core/Placement.h"

#include <algorithm>

void DropTopmost(platform::WindowStack& windows, const Options& options,
                 platform::WindowId window) {
    if (options.alwaysOnTop) windows.SetTopmost(window, false, true);
}

void ApplyTopmost(platform::WindowStack& windows, const Options& options,
                  platform::WindowId window) {
    windows.SetTopmost(window, options.alwaysOnTop, false);
}

ScreenRect KeepWithin(ScreenRect window, const ScreenRect& area) {
    window.left = std::max(std::min(window.left, area.left + area.width - window.width), area.left);
    window.top = std::max(std::min(window.top, area.top + area.height - window.height), area.top);
    return window;
}
