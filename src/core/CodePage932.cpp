#include "core/CodePage932.h"

#include <cstdint>

#include "core/Utf8.h"

// Tables generated at build time from the C library's converter (tools/gen_cp932.cpp).
#include "Cp932Tables.inc"

namespace {

constexpr char16_t kNone = 0xFFFF;

// Writes the UTF-8 form of a BMP code point at p; returns the end.
char* PutUtf8(char* p, char32_t cp) {
    if (cp < 0x80) {
        *p++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *p++ = static_cast<char>(0xC0 | (cp >> 6));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *p++ = static_cast<char>(0xE0 | (cp >> 12));
        *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return p;
}

}  // namespace

namespace {
// With `exact`, a character whose form reads back as another character (〜 as ～, ‾ as ~) has
// no form either.
std::optional<std::string> Encode(std::string_view utf8, bool exact) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {  // ASCII is itself
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        char32_t cp = 0;
        size_t len = DecodeUtf8(utf8, i, cp);
        if (len == 0 || cp > 0xFFFF) return std::nullopt;
        std::uint16_t code = kCp932Encode[cp];
        if (code == kNone) return std::nullopt;
        if (exact && (code > 0xFF ? kCp932Double[code] : kCp932Single[code]) != cp)
            return std::nullopt;
        if (code > 0xFF) out += static_cast<char>(code >> 8);
        out += static_cast<char>(code & 0xFF);
        i += len;
    }
    return out;
}
}  // namespace

std::optional<std::string> ToCp932(std::string_view utf8) {
    return Encode(utf8, false);
}

std::optional<std::string> ToCp932Exactly(std::string_view utf8) {
    return Encode(utf8, true);
}

std::string FromCp932(std::string_view bytes) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    // Calls `put` with each character's code point.
    auto decode = [&](auto&& put) {
        for (size_t i = 0; i < n;) {
            char16_t single = kCp932Single[in[i]];
            if (single != kNone) {
                put(single);
                ++i;
                continue;
            }
            char16_t pair = i + 1 < n ? kCp932Double[in[i] << 8 | in[i + 1]] : kNone;
            put(pair != kNone ? pair : char16_t{0xFFFD});
            i += pair != kNone ? 2 : 1;
        }
    };
    // Measured first, so that a large file's text takes no more memory than it needs.
    size_t length = 0;
    decode([&](char16_t cp) { length += cp < 0x80 ? 1 : cp < 0x800 ? 2 : 3; });
    std::string out(length, '\0');
    char* p = out.data();
    decode([&](char16_t cp) { p = PutUtf8(p, cp); });
    return out;
}
