#include "core/CodePage932.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

TEST(CodePage932, VendorExtensionsAndHalfWidthKanaRoundTripToTheirBytes) {
    struct Case {
        const char* utf8;
        std::string cp932;
    } cases[] = {
        {"①", "\x87\x40"},
        {"～", "\x81\x60"},
        {"ｷｬﾝｾﾙ", "\xB7\xAC\xDD\xBE\xD9"},
        {"山田太郎", "\x8E\x52\x93\x63\x91\xBE\x98\x59"},
        {"abc,\"~", "abc,\"~"},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::optional<std::string> ansi = ToCp932(c.utf8);
        ASSERT_TRUE(ansi.has_value()) << c.utf8;
        EXPECT_EQ(*ansi, c.cp932) << c.utf8;
        EXPECT_EQ(FromCp932(c.cp932), c.utf8);
    }
}

TEST(CodePage932, TextWithoutACodePageFormIsRefusedNotReplaced) {
    EXPECT_FALSE(ToCp932("名前😀").has_value());
    EXPECT_FALSE(ToCp932("\xFF\xFE").has_value());  // not UTF-8
}

TEST(CodePage932, BytesThatAreNotCodePage932BecomeReplacementCharacters) {
    // 0x81 alone at the end is a truncated double-byte character.
    EXPECT_EQ(FromCp932("a\x81"), "a\xEF\xBF\xBD");
    EXPECT_EQ(FromCp932(std::string("x\xA0y")).find('x'), 0u);
}

namespace {
// The system's own converter: the C library's on Linux, Windows' code page 932 on Windows
// (what Windows programs write into the same file). False when it has no form for `in`.
#ifdef _WIN32
bool SystemDecode(const std::string& in, std::string& out) {
    wchar_t w[8];
    int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()),
                                w, 8);
    if (n <= 0) return false;
    char buf[32];
    int m = WideCharToMultiByte(CP_UTF8, 0, w, n, buf, sizeof buf, nullptr, nullptr);
    out.assign(buf, static_cast<size_t>(m));
    return true;
}
bool SystemEncode(const std::string& in, std::string& out) {
    wchar_t w[8];
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(),
                                static_cast<int>(in.size()), w, 8);
    BOOL lossy = FALSE;
    char buf[16];
    int m = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, w, n, buf, sizeof buf, nullptr, &lossy);
    out.assign(buf, static_cast<size_t>(m > 0 ? m : 0));
    return n > 0 && m > 0 && !lossy;
}
#else
bool Convert(const char* to, const char* from, std::string in, std::string& out) {
    static iconv_t dec = iconv_open("UTF-8", "CP932");
    static iconv_t enc = iconv_open("CP932", "UTF-8");
    iconv_t cd = std::string(to) == "UTF-8" ? dec : enc;
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char buf[16];
    char* src = in.data();
    size_t left = in.size(), room = sizeof buf;
    char* dst = buf;
    bool ok = iconv(cd, &src, &left, &dst, &room) != static_cast<size_t>(-1) && left == 0;
    out.assign(buf, static_cast<size_t>(dst - buf));
    return ok;
}
bool SystemDecode(const std::string& in, std::string& out) {
    return Convert("UTF-8", "CP932", in, out);
}
bool SystemEncode(const std::string& in, std::string& out) {
    return Convert("CP932", "UTF-8", in, out);
}
#endif
}  // namespace

// The fast tables must say exactly what the system's converter says, for every code.
TEST(CodePage932, AgreesWithTheSystemConverterForEveryCharacter) {
    int checked = 0;
    for (unsigned code = 0x8140; code <= 0xFCFC; ++code) {
        // Only the double-byte codes: A0 to DF are characters of one byte each.
        if (code >> 8 >= 0xA0 && code >> 8 <= 0xDF) continue;
        std::string in{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)}, want;
        if (!SystemDecode(in, want)) continue;
        ASSERT_EQ(FromCp932(in), want) << std::hex << code;
        std::string back;
        ASSERT_TRUE(SystemEncode(want, back));
        ASSERT_EQ(ToCp932(want).value_or("<none>"), back) << std::hex << code;
        // Saving takes only a form that reads back as the same character.
        std::string wantBack;
        ASSERT_TRUE(SystemDecode(back, wantBack));
        ASSERT_EQ(ToCp932Exactly(want).value_or("<none>"), wantBack == want ? back : "<none>")
            << std::hex << code;
        ++checked;
    }
    EXPECT_GT(checked, 7000);
}

// Reading refuses what the system's converter refuses, code by code, and says where.
TEST(CodePage932, ExactReadingTakesEveryCodeTheSystemTakesAndNoOther) {
    std::string out, scratch, single;
    int refused = 0;
    for (unsigned code = 0; code <= 0xFFFF; ++code) {
        const bool pair = code > 0xFF;
        // A pair whose first byte is a character of its own is two characters.
        if (pair && SystemDecode(std::string(1, static_cast<char>(code >> 8)), single)) continue;
        const std::string in =
            pair ? std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)}
                 : std::string(1, static_cast<char>(code));
        std::string want;
#ifdef _WIN32
        // Windows gives five lone bytes a control or private-use character no one types
        // (80, A0, FD to FF); a file reads the same on every system, so they stay refused.
        if (!pair && (code == 0x80 || code == 0xA0 || code >= 0xFD)) continue;
#endif
        out = "unchanged";
        const size_t at = FromCp932Exactly("ab" + in, out, scratch);
        if (SystemDecode(in, want)) {
            ASSERT_EQ(at, std::string_view::npos) << std::hex << code;
            ASSERT_EQ(out, "ab" + want) << std::hex << code;
        } else {
            ASSERT_EQ(at, 2u) << std::hex << code;
            ASSERT_EQ(out, "unchanged");
            ++refused;
        }
    }
    EXPECT_GT(refused, 6000);
}
