#include "core/CodePage932.h"

#include <gtest/gtest.h>
#include <iconv.h>

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

// The fast tables must say exactly what the C library's converter says, for every code.
TEST(CodePage932, AgreesWithTheSystemConverterForEveryCharacter) {
    iconv_t dec = iconv_open("UTF-8", "CP932");
    iconv_t enc = iconv_open("CP932", "UTF-8");
    ASSERT_NE(dec, reinterpret_cast<iconv_t>(-1));
    auto convert = [](iconv_t cd, std::string in, std::string& out) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char buf[16];
        char* src = in.data();
        size_t left = in.size(), room = sizeof buf;
        char* dst = buf;
        bool ok = iconv(cd, &src, &left, &dst, &room) != static_cast<size_t>(-1) && left == 0;
        out.assign(buf, static_cast<size_t>(dst - buf));
        return ok;
    };
    int checked = 0;
    for (unsigned code = 0x8140; code <= 0xFCFC; ++code) {
        std::string in{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)}, want;
        if (!convert(dec, in, want)) continue;
        ASSERT_EQ(FromCp932(in), want) << std::hex << code;
        std::string back;
        ASSERT_TRUE(convert(enc, want, back));
        ASSERT_EQ(ToCp932(want).value_or("<none>"), back) << std::hex << code;
        ++checked;
    }
    EXPECT_GT(checked, 7000);
    iconv_close(dec);
    iconv_close(enc);
}
