// Code page 932: Shift_JIS with the vendor extensions, the Japanese ANSI code page.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// UTF-8 to code page 932; nullopt when a character has no form there (or the UTF-8 is bad).
std::optional<std::string> ToCp932(std::string_view utf8);
// The same, but nullopt also when a character's form there reads back as another character
// (〜 ¥ − — ‖ ¢ £ ¬ ‾): what FromCp932 gives back is then exactly `utf8`.
std::optional<std::string> ToCp932Exactly(std::string_view utf8);
// The same, written at `out`, which has room for utf8.size() + 1 bytes (the form is never
// longer than the UTF-8; one byte more is scratch). Returns the end, or nullptr.
char* PutCp932Exactly(std::string_view utf8, char* out);
// Code page 932 to UTF-8; a byte sequence that is not code page 932 becomes U+FFFD.
std::string FromCp932(std::string_view bytes);
// Code page 932 to UTF-8 into `out`, only when every byte sequence is a character there;
// returns npos, or the offset of the first sequence that is not (then `out` is untouched).
// `scratch` is working space that a caller decoding many texts hands in again each time.
std::size_t FromCp932Exactly(std::string_view bytes, std::string& out, std::string& scratch);
