#include "platform/AnsiCodePage.h"

#include <gtest/gtest.h>

using platform::FromAnsi;
using platform::ToAnsi;

TEST(AnsiCodePage, VendorExtensionsAndHalfWidthKanaRoundTripToTheirBytes) {
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
        std::optional<std::string> ansi = ToAnsi(c.utf8);
        ASSERT_TRUE(ansi.has_value()) << c.utf8;
        EXPECT_EQ(*ansi, c.cp932) << c.utf8;
        EXPECT_EQ(FromAnsi(c.cp932), c.utf8);
    }
}

TEST(AnsiCodePage, TextWithoutACodePageFormIsRefusedNotReplaced) {
    EXPECT_FALSE(ToAnsi("名前😀").has_value());
    EXPECT_FALSE(ToAnsi("\xFF\xFE").has_value());  // not UTF-8
}

TEST(AnsiCodePage, BytesThatAreNotCodePage932BecomeReplacementCharacters) {
    // 0x81 alone at the end is a truncated double-byte character.
    EXPECT_EQ(FromAnsi("a\x81"), "a\xEF\xBF\xBD");
    EXPECT_EQ(FromAnsi(std::string("x\xA0y")).find('x'), 0u);
}
