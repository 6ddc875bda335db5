// What the program needs of a desktop, as three parts that a desktop family may supply from
// three different places (on Wayland each comes from a protocol or portal of its own): the
// window stack, the keyboard and the clipboard. Each implementation folder builds its three and
// main.cpp hands them down; tests put fakes in their place.
#pragma once

#include "platform/Clipboard.h"
#include "platform/Keyboard.h"
#include "platform/WindowStack.h"

namespace platform {

struct Desktop {
    WindowStack& windows;
    Keyboard& keyboard;
    Clipboard& clipboard;
};

}  // namespace platform
