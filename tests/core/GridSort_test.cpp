// The grid's generic ascending sort: numbers against numbers by value, the rest as text.
#include "core/GridSort.h"

#include <gtest/gtest.h>

namespace {
std::vector<std::string> Sorted(const std::vector<std::string>& keys) {
    std::vector<std::string> out;
    for (std::size_t i : GenericAscendingOrder(keys)) out.push_back(keys[i]);
    return out;
}
}  // namespace

TEST(GridSort, NumbersCompareByValueAndComeBeforeText) {
    EXPECT_EQ(Sorted({"b", "10", "a", "9"}), (std::vector<std::string>{"9", "10", "a", "b"}));
    EXPECT_EQ(Sorted({"100", "-3", "2.5", "1e2x", "0.25", "1e1"}),
              (std::vector<std::string>{"-3", "0.25", "2.5", "1e1", "100", "1e2x"}));
}

TEST(GridSort, EmptyKeysFirstAndEqualKeysKeepTheirOrder) {
    const std::vector<std::string> keys = {"x", "", "5", "x", "", "5.0", "x"};
    EXPECT_EQ(GenericAscendingOrder(keys), (std::vector<std::size_t>{1, 4, 2, 5, 0, 3, 6}));
}

TEST(GridSort, TextIgnoresLetterCaseAndFullWidthForms) {
    // Ａ and a fold to the same letter; the stored text settles the tie, so the order does not
    // depend on where the rows started.
    EXPECT_EQ(Sorted({"b", "Ａ", "a", "B"}), (std::vector<std::string>{"a", "Ａ", "B", "b"}));
    EXPECT_EQ(Sorted({"B", "Ａ", "b", "a"}), (std::vector<std::string>{"a", "Ａ", "B", "b"}));
    // Full-width digits read as a number too.
    EXPECT_EQ(Sorted({"１０", "9", "あ"}), (std::vector<std::string>{"9", "１０", "あ"}));
    // Hiragana and katakana of one reading collate equal; hiragana comes first by code point.
    EXPECT_EQ(Sorted({"カ", "か", "あ"}), (std::vector<std::string>{"あ", "か", "カ"}));
}

TEST(GridSort, TextInJapaneseReadingOrder) {
    // Numbers, then Latin letters, then kana by reading whatever the script or width (ー counts
    // as the vowel it lengthens, a voicing mark only after the bare kana), then kanji in JIS
    // order, whose common characters go by reading (氏 し, 住 じゅう, 電 でん, 郵 ゆう) where code
    // point order would say 住 氏 郵 電. Texts that collate equal keep code point order:
    // hiragana, katakana, half-width.
    const std::vector<std::string> keys = {"電話番号", "いえ",   "ｱﾄﾞﾚｽ",  "アドレス", "住所",
                                           "郵便番号", "お名前", "ﾒｰﾙ",    "Zip",      "めーる",
                                           "ａｂｃ",   "２",     "10",     "カード",   "がっこう",
                                           "メール",   "氏名",   "きって", "あどれす", "かっこう"};
    const std::vector<std::string> expected = {
        "２",     "10",     "ａｂｃ", "Zip",      "あどれす", "アドレス", "ｱﾄﾞﾚｽ",
        "いえ",   "お名前", "カード", "かっこう", "がっこう", "きって",   "めーる",
        "メール", "ﾒｰﾙ",    "氏名",   "住所",     "電話番号", "郵便番号"};
    EXPECT_EQ(Sorted(keys), expected);
    std::vector<std::string> reversed(keys.rbegin(), keys.rend());
    EXPECT_EQ(Sorted(reversed), expected);
}

TEST(GridSort, WhatReadsAsANumber) {
    double v = 0;
    EXPECT_TRUE(ReadsAsNumber(" -12.5 ", &v));
    EXPECT_EQ(v, -12.5);
    EXPECT_TRUE(ReadsAsNumber("+.5", &v));
    EXPECT_EQ(v, 0.5);
    EXPECT_TRUE(ReadsAsNumber("3.", &v));
    EXPECT_EQ(v, 3.0);
    EXPECT_TRUE(ReadsAsNumber("2E-3", &v));
    EXPECT_DOUBLE_EQ(v, 0.002);
    for (const char* t :
         {"", " ", ".", "-", "1e", "1.2.3", "0x10", "1,000", "inf", "nan", "12a", "1e999"}) {
        EXPECT_FALSE(ReadsAsNumber(t, &v)) << t;
    }
}

TEST(GridSort, ManyMixedKeysSortWithoutFault) {
    // Keys that start with digits but are text used to make a text/number rule circular; the
    // order must be consistent and stable whatever the mix.
    std::vector<std::string> keys;
    for (int i = 0; i < 3000; ++i) {
        keys.push_back(i % 3 == 0 ? std::to_string(i % 97) : std::to_string(i % 89) + "a");
    }
    std::vector<std::size_t> order = GenericAscendingOrder(keys);
    ASSERT_EQ(order.size(), keys.size());
    for (std::size_t i = 1; i < order.size(); ++i) {
        GenericSortKey a = MakeGenericSortKey(keys[order[i - 1]]);
        GenericSortKey b = MakeGenericSortKey(keys[order[i]]);
        ASSERT_FALSE(GenericLess(b, a)) << keys[order[i - 1]] << " before " << keys[order[i]];
        if (!GenericLess(a, b)) {
            EXPECT_LT(order[i - 1], order[i]) << "equal keys moved";
        }
    }
}

TEST(GridSort, InvalidUtf8IsKeptAsBytes) {
    EXPECT_EQ(FoldForSort("A\xFF\xE3\x80"), "a\xFF\xE3\x80");
    EXPECT_EQ(FoldForSort("ＡＢ\xE3\x80\x80Ｃ"), "ab c");
}
