// The editor's text rules: memo trimming, stored widths, fitted widths, key-notation warnings.
#include "core/GridText.h"

#include <gtest/gtest.h>

TEST(GridText, MemoLosesOrdinaryAndFullWidthSpacesAtItsEndsOnly) {
    EXPECT_EQ(TrimMemo("  x  "), "x");
    EXPECT_EQ(TrimMemo("　 自宅 　"), "自宅");
    EXPECT_EQ(TrimMemo(" a b　c "), "a b　c");
    EXPECT_EQ(TrimMemo("　 　"), "");
    EXPECT_EQ(TrimMemo("\tx\t"), "\tx\t");
    // The first byte of U+3000 alone is not a space.
    EXPECT_EQ(TrimMemo("\xE3\x80"), "\xE3\x80");
}

TEST(GridText, StoredWidths) {
    EXPECT_EQ(ParseStoredWidth("1500", 1000), 1500);
    EXPECT_EQ(ParseStoredWidth("0", 2000), 2000);
    EXPECT_EQ(ParseStoredWidth("", 2000), 2000);
    EXPECT_EQ(ParseStoredWidth("-5", 1000), 1000);
    EXPECT_EQ(ParseStoredWidth("12ab", 1000), 1000);
    EXPECT_EQ(ParseStoredWidth(" 12", 1000), 1000);
    EXPECT_EQ(ParseStoredWidth("40000", 1000), 32767);
    EXPECT_EQ(ParseStoredWidth("99999999999999999999999", 1000), 32767);
}

TEST(GridText, FittedWidthAddsPaddingAndStaysWithin16Bits) {
    EXPECT_EQ(FittedColumnWidth(0), 90);
    EXPECT_EQ(FittedColumnWidth(1234), 1324);
    EXPECT_EQ(FittedColumnWidth(32677), 32767);
    EXPECT_EQ(FittedColumnWidth(32678), 32767);
    EXPECT_EQ(FittedColumnWidth(5000000), 32767);
    EXPECT_EQ(FittedColumnWidth(-3), 90);
}

TEST(GridText, KeyNotationWarning) {
    EXPECT_EQ(KeyNotationWarning("山田太郎"), "");
    EXPECT_EQ(KeyNotationWarning("{TAB}abc"), "");
    std::string w = KeyNotationWarning("{TAB");
    EXPECT_NE(w.find("記入できません"), std::string::npos) << w;
    EXPECT_NE(KeyNotationWarning("a{NOSUCHKEY}"), "");
}
