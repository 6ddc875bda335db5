// The key notation of a 記入文字: parsed completely before anything is typed, so that a
// malformed text types nothing at all. Typing the result is the platform layer's job.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class NamedKey {
    None,
    Backspace,
    Break,
    CapsLock,
    Delete,
    Down,
    End,
    Enter,
    Escape,
    Help,
    Home,
    Insert,
    Left,
    NumLock,
    PageDown,
    PageUp,
    PrintScreen,
    Right,
    ScrollLock,
    Tab,
    Up,
    F1,
    F2,
    F3,
    F4,
    F5,
    F6,
    F7,
    F8,
    F9,
    F10,
    F11,
    F12,
    F13,
    F14,
    F15,
    F16,
    // The keypad's own + - * / keys; applications may tell them from the main keyboard's.
    KeypadAdd,
    KeypadSubtract,
    KeypadMultiply,
    KeypadDivide,
};

// One keystroke: either a character (ch != 0, key == None) or a named key, with the
// modifiers held while it is pressed.
struct KeyStroke {
    char32_t ch = 0;
    NamedKey key = NamedKey::None;
    bool shift = false;
    bool ctrl = false;
    bool alt = false;

    bool operator==(const KeyStroke&) const = default;
};

// The largest count accepted in {NAME n} and {x n}: enough to clear a field or walk a long form,
// small enough that a typo cannot type for minutes.
inline constexpr int kMaxKeyRepeat = 999;

struct KeyParseResult {
    std::vector<KeyStroke> strokes;
    std::string error;         // empty when the text parsed; otherwise a Japanese message
    std::size_t errorPos = 0;  // byte offset in the text where the problem was found
    bool ok() const { return error.empty(); }
};

// Parses UTF-8 text in the key notation. Never throws; invalid UTF-8 is an error too.
KeyParseResult ParseKeys(std::string_view text);

// The name of a named key as written in braces ("TAB"), for messages and tests.
const char* NamedKeyName(NamedKey key);
