#include "core/CodePage932.h"

#include <cstdint>
#include <cstring>

#include "core/Utf8.h"

// Tables generated at build time from the C library's converter (tools/gen_cp932.cpp).
#include "Cp932Tables.inc"

namespace {

constexpr char16_t kNone = 0xFFFF;

// Writes the UTF-8 form of a BMP code point at p; returns the end.
inline char* PutUtf8(char* p, char32_t cp) {
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

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

}  // namespace

// Whole data files go through here on every save: ASCII is copied eight bytes at a time, the
// rest decoded inline and looked up once.
char* PutCp932Exactly(std::string_view utf8, char* p) {
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const unsigned char* const end = s + utf8.size();
    while (s < end) {
        // Kana and kanji: three bytes each in UTF-8, taken as a run.
        while (end - s >= 3 && (s[0] & 0xF0) == 0xE0) {
            const unsigned b1 = s[1] ^ 0x80u, b2 = s[2] ^ 0x80u;
            if ((b1 | b2) >= 0x40) return nullptr;  // not continuation bytes
            const char32_t cp = (s[0] & 0x0Fu) << 12 | b1 << 6 | b2;
            const std::uint16_t v = kCp932EncodeExact[cp];
            // Overlong forms are no UTF-8; surrogates have no form in the table.
            if (v == kNone || cp < 0x800) return nullptr;
            p[0] = static_cast<char>(v & 0xFF);
            p[1] = static_cast<char>(v >> 8);
            // One byte only for the half-width katakana (the generator checks): known without
            // waiting for the lookup, so that the next characters' lookups need not wait.
            p += cp - 0xFF61 < 0x3F ? 1 : 2;
            s += 3;
        }
        if (s == end) break;
        if (end - s >= 8) {
            std::uint64_t w;
            std::memcpy(&w, s, 8);
            if ((w & kHighBits) == 0) {
                std::memcpy(p, s, 8);
                p += 8;
                s += 8;
                continue;
            }
        }
        const unsigned c = *s;
        if (c < 0x80) {
            *p++ = static_cast<char>(c);
            ++s;
            continue;
        }
        if ((c & 0xE0) != 0xC0 || end - s < 2 || (s[1] & 0xC0) != 0x80)
            return nullptr;  // beyond the BMP (no form here), or not UTF-8
        const char32_t cp = (c & 0x1F) << 6 | (s[1] & 0x3F);
        const std::uint16_t v = kCp932EncodeExact[cp];
        if (v == kNone || cp < 0x80) return nullptr;
        // Two-byte UTF-8 (Greek, Cyrillic, ×, ÷) is two bytes here too.
        p[0] = static_cast<char>(v & 0xFF);
        p[1] = static_cast<char>(v >> 8);
        p += 2;
        s += 2;
    }
    return p;
}

std::optional<std::string> ToCp932(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t cp = 0;
        const size_t len = DecodeUtf8(utf8, i, cp);
        if (len == 0 || cp > 0xFFFF) return std::nullopt;
        const std::uint16_t code = kCp932Encode[cp];
        if (code == kNone) return std::nullopt;
        if (code > 0xFF) out += static_cast<char>(code >> 8);
        out += static_cast<char>(code & 0xFF);
        i += len;
    }
    return out;
}

std::optional<std::string> ToCp932Exactly(std::string_view utf8) {
    // No character's form here is longer than its UTF-8.
    std::string out(utf8.size() + 1, '\0');
    char* end = PutCp932Exactly(utf8, out.data());
    if (!end) return std::nullopt;
    out.resize(static_cast<size_t>(end - out.data()));
    return out;
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

std::size_t FromCp932Exactly(std::string_view bytes, std::string& out, std::string& scratch) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    // Three UTF-8 bytes at most for each byte (a half-width katakana).
    if (scratch.size() < 3 * n) scratch.resize(3 * n);
    char* const start = scratch.data();
    char* p = start;
    for (size_t i = 0; i < n;) {
        if (n - i >= 8) {
            std::uint64_t w;
            std::memcpy(&w, in + i, 8);
            if ((w & kHighBits) == 0) {
                std::memcpy(p, in + i, 8);
                p += 8;
                i += 8;
                continue;
            }
        }
        const char16_t single = kCp932Single[in[i]];
        if (single != kNone) {
            p = PutUtf8(p, single);
            ++i;
            continue;
        }
        const char16_t pair = i + 1 < n ? kCp932Double[in[i] << 8 | in[i + 1]] : kNone;
        if (pair == kNone) return i;
        p = PutUtf8(p, pair);
        i += 2;
    }
    out.assign(start, static_cast<size_t>(p - start));
    return std::string_view::npos;
}
