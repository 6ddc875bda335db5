#pragma once

#include <string>

namespace e2e {

// Test-only typing with xdotool (never the product's way): `xdotool type` and `xdotool key`.
void XdoType(const std::string& text, int delayMs = 12);
// `keys`: key names separated by spaces ("Tab", "ctrl+c", "a i u e o").
void XdoKey(const std::string& keys);

}  // namespace e2e
