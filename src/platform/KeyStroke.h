// The keys a keyboard is asked to press: named keys and characters, with the modifiers held
// for them. Below both the key notation (which makes them) and the keyboards (which press
// them), so that neither reaches into the other.
#pragma once

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
