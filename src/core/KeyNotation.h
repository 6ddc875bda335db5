// The key notation of a 記入文字: parsed completely before anything is typed, so that a
// malformed text types nothing at all. What the strokes mean as keys is decided here too
// (StrokesToSend), so that a keyboard only presses what it is given.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/KeyStroke.h"

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

// Parsed strokes as a desktop sends them. Only three kinds are left:
//  - named keys, with their modifiers;
//  - characters without any modifier, typed as themselves;
//  - shortcuts: a character with Ctrl or Alt (and maybe Shift), pressed on the keyboard's own
//    key for that character with those modifiers held.
// A line break (\n or \r, each) becomes Enter and a tab Tab, with their modifiers; any other
// control character is dropped. Shift with a character and neither Ctrl nor Alt becomes the
// shifted character without Shift, as the keyboard types it (an input method would take
// Shift+letter as a switch of its own): `shiftedOf(c)` is what the keyboard types with Shift on
// the key that types `c` alone, 0 when it has no such key; failing that, the capital of `c`,
// failing that `c` itself.
struct KeysToSend {
    std::vector<KeyStroke> strokes;
    std::vector<std::size_t> from;  // for each stroke, the index of the parsed one it stands for
    std::size_t parsedCount = 0;
    // How many parsed strokes are dealt with once the first `sent` strokes have gone out: the
    // dropped ones before the first stroke not sent count as dealt with.
    std::size_t Handled(std::size_t sent) const;
};
KeysToSend StrokesToSend(const std::vector<KeyStroke>& parsed,
                         const std::function<char32_t(char32_t)>& shiftedOf);

// What a 記入文字 types, as the user reads it: characters as they come out, every other key as
// a token in full-width brackets (［Tab］, ［Enter］, ［Ctrl+C］, ［Shift+Tab］). It is made from
// what StrokesToSend sends, given the same `shiftedOf`, so it shows exactly what is typed. ""
// for a text that does not parse.
std::string TypedAsRead(std::string_view text, const std::function<char32_t(char32_t)>& shiftedOf);
// Strokes as StrokesToSend leaves them, as the user reads them.
std::string StrokesAsRead(const std::vector<KeyStroke>& sent);

// The notation that types `plain` exactly as it is written: each of + ^ % ~ ( ) { } [ ] in
// braces ({+}, {{}, {}}), everything else as it is.
std::string LiteralKeys(std::string_view plain);
// `text` (which must parse) with everything outside its {…} keys written literally: the {…}
// keys stay keys, and a + ^ % ~ ( ) the user may have meant as a character types as one.
std::string LiteralOutsideBraces(std::string_view text);
