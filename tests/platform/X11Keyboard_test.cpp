// The choice of spare keycodes, on keyboard maps given as data: no display needed.
#include "platform/x11/X11Keyboard.h"

#include <gtest/gtest.h>

#include <vector>

using platform::kLowestSpareKeycode;
using platform::SpareKeycodes;
using platform::X11KeyMap;

namespace {

// An empty map over `minKc`..`maxKc` with `perKc` levels.
X11KeyMap EmptyMap(int minKc, int maxKc, int perKc) {
    X11KeyMap m;
    m.minKc = static_cast<xcb_keycode_t>(minKc);
    m.maxKc = static_cast<xcb_keycode_t>(maxKc);
    m.perKc = perKc;
    m.syms.assign(static_cast<std::size_t>((maxKc - minKc + 1) * perKc), 0);
    return m;
}

void Put(X11KeyMap& m, int kc, int col, xcb_keysym_t sym) {
    m.syms[static_cast<std::size_t>((kc - m.minKc) * m.perKc + col)] = sym;
}

using Codes = std::vector<xcb_keycode_t>;

TEST(SpareKeycodes, EmptyKeysFromTheLowestSpareUpHighestFirst) {
    X11KeyMap m = EmptyMap(8, 255, 4);
    for (int kc = 8; kc <= 250; ++kc) Put(m, kc, 0, 0x61);
    Put(m, 252, 3, 0xff7e);  // a symbol on a high level only still makes a key the keyboard's
    Put(m, 130, 0, 0);       // empty, but one of the keyboard's own keys
    EXPECT_EQ(SpareKeycodes(m, kLowestSpareKeycode, {}), (Codes{255, 254, 253, 251}));

    // Keys carrying one of our symbols stay spares; their symbols do not make them the keyboard's.
    Put(m, 255, 0, 0x1003042);
    Put(m, 255, 1, 0x1003042);
    Put(m, 240, 0, 0x1003044);
    EXPECT_EQ(SpareKeycodes(m, kLowestSpareKeycode, {240, 255}), (Codes{255, 254, 253, 251, 240}));
    EXPECT_EQ(SpareKeycodes(m, kLowestSpareKeycode, {}), (Codes{254, 253, 251}));
}

TEST(SpareKeycodes, StayInsideTheServersKeycodeRange) {
    // A server with fewer keycodes: nothing beyond its last one, nothing below the lowest spare.
    EXPECT_EQ(SpareKeycodes(EmptyMap(8, 139, 2), kLowestSpareKeycode, {}),
              (Codes{139, 138, 137, 136}));
    EXPECT_EQ(SpareKeycodes(EmptyMap(138, 140, 2), kLowestSpareKeycode, {}),
              (Codes{140, 139, 138}));
    EXPECT_TRUE(SpareKeycodes(EmptyMap(8, 100, 2), kLowestSpareKeycode, {}).empty());
}

}  // namespace
