// Where the program's windows go: into the topmost band or out of it as the options say, and
// wholly onto the screen.
#pragma once

#include "core/AppState.h"
#include "platform/WindowStack.h"

// Takes the window out of the topmost band (showing it) when the option keeps windows on top.
void DropTopmost(platform::WindowStack& windows, const Options& options, platform::WindowId window);
// Puts the window into the band when the option is on, out of it otherwise; never shows it.
void ApplyTopmost(platform::WindowStack& windows, const Options& options,
                  platform::WindowId window);

// A window's outer rectangle or a screen's usable area, in pixels.
struct ScreenRect {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const ScreenRect&) const = default;
};
// Where `window` goes so that it lies wholly within `area`, moved as little as it takes: a
// window opened on the toolbar's corner would otherwise run off the screen's right or bottom
// edge when the toolbar sits there. One larger than the area keeps its top-left corner (its
// title bar) inside.
ScreenRect KeepWithin(ScreenRect window, const ScreenRect& area);
