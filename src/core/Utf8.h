// UTF-8 in and out, for the logic that works on UTF-8 text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Appends the UTF-8 form of a code point.
inline void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

inline std::string Utf8(char32_t cp) {
    std::string s;
    AppendUtf8(s, cp);
    return s;
}

// Decodes the character at s[i] into `cp`; returns its length in bytes, or 0 when the bytes
// there are not UTF-8 (truncated, overlong, a surrogate, past U+10FFFF).
inline std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& cp) {
    if (i >= s.size()) return 0;
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char c = b(0);
    const std::size_t len = c < 0x80             ? 1
                            : (c & 0xE0) == 0xC0 ? 2
                            : (c & 0xF0) == 0xE0 ? 3
                            : (c & 0xF8) == 0xF0 ? 4
                                                 : 0;
    if (len == 0 || i + len > s.size()) return 0;
    char32_t v = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    for (std::size_t k = 1; k < len; ++k) {
        if ((b(k) & 0xC0) != 0x80) return 0;
        v = (v << 6) | (b(k) & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < kMin[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    cp = v;
    return len;
}

// The offset of the first bytes that are not UTF-8, or npos. ASCII is skipped eight bytes at a
// time: whole data files are checked with this at every start.
inline std::size_t Utf8InvalidAt(std::string_view s) {
    char32_t cp;
    for (std::size_t i = 0, n; i < s.size(); i += n) {
        if (s.size() - i >= 8) {
            std::uint64_t w;
            std::memcpy(&w, s.data() + i, 8);
            if ((w & 0x8080808080808080ull) == 0) {
                n = 8;
                continue;
            }
        }
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            n = 1;
            continue;
        }
        if ((n = DecodeUtf8(s, i, cp)) == 0) return i;
    }
    return std::string_view::npos;
}

inline bool IsValidUtf8(std::string_view s) {
    return Utf8InvalidAt(s) == std::string_view::npos;
}
