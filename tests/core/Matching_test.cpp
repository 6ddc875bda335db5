#include "core/Matching.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "core/AppState.h"

namespace {

EntryTable table;

// Fills the table with (label, fill text, memo) rows plus the spare row.
void SetEntries(std::initializer_list<Entry> rows) {
    table.Resize(static_cast<std::int16_t>(rows.size()));
    std::size_t i = 0;
    for (const Entry& r : rows) table[i++] = r;
}

std::vector<Candidate> Match(const std::string& copied) {
    return MatchEntries(table, copied);
}
std::vector<std::string> Filled(const std::vector<Candidate>& found) {
    std::vector<std::string> texts;
    for (const Candidate& c : found) texts.push_back(c.fillText);
    return texts;
}
std::vector<std::string> Shown(const std::vector<Candidate>& found) {
    std::vector<std::string> texts;
    for (const Candidate& c : found) texts.push_back(c.shown);
    return texts;
}

class MatchingTest : public ::testing::Test {
  protected:
    void TearDown() override { table.Resize(0); }
};

TEST(RemoveSpacesTest, RemovesOnlyHalfWidthAndIdeographicSpaces) {
    EXPECT_EQ(RemoveSpaces("お 名前"), "お名前");
    EXPECT_EQ(RemoveSpaces("お\u3000名前"), "お名前");
    EXPECT_EQ(RemoveSpaces("  a \u3000 b\u3000"), "ab");
    EXPECT_EQ(RemoveSpaces(" \u3000 "), "");
    // Tabs, line breaks, no-break spaces and other kana stay.
    EXPECT_EQ(RemoveSpaces("名前\t\r\n"), "名前\t\r\n");
    EXPECT_EQ(RemoveSpaces("a\u00a0b"), "a\u00a0b");
    // Characters sharing a lead byte with U+3000 are not spaces: 、 is E3 80 81, あ is E3 81 82.
    EXPECT_EQ(RemoveSpaces("\u3001\u3042\u3000"), "\u3001\u3042");
    // A truncated sequence at the end is left alone rather than read past.
    EXPECT_EQ(RemoveSpaces(std::string("a\xE3\x80", 3)), std::string("a\xE3\x80", 3));
}

TEST_F(MatchingTest, LabelMustContainTheWholeHighlight) {
    SetEntries({{"郵便番号", "123-4567", ""}, {"郵便", "〒", ""}});
    EXPECT_EQ(Filled(Match("郵便番号")), (std::vector<std::string>{"123-4567"}));
}

TEST_F(MatchingTest, SeveralMatchesInTableOrderWithMemoOrFillTextShown) {
    SetEntries(
        {{"電話番号", "03-1111", "自宅"}, {"住所", "東京", ""}, {"郵便番号", "100-0001", ""}});
    const std::vector<Candidate> r = Match("番号");
    EXPECT_EQ(Shown(r), (std::vector<std::string>{"自宅", "100-0001"}));
    EXPECT_EQ(Filled(r), (std::vector<std::string>{"03-1111", "100-0001"}));
}

TEST_F(MatchingTest, SpacesLeaveOnlyTheCopiedText) {
    SetEntries({{"お名前", "山田", ""}, {"お 名前", "鈴木", ""}});
    EXPECT_EQ(Filled(Match("お 名前")), (std::vector<std::string>{"山田"}));
    EXPECT_EQ(Filled(Match("お\u3000名前")), (std::vector<std::string>{"山田"}));
    // The label with a space is still found by a part that has none.
    EXPECT_EQ(Match("名前").size(), 2u);
}

TEST_F(MatchingTest, ExactComparison) {
    SetEntries({{"Name", "a", ""}, {"ナマエ", "b", ""}, {"ｎａｍｅ", "c", ""}});
    EXPECT_TRUE(Match("name").empty());
    EXPECT_TRUE(Match("なまえ").empty());
    EXPECT_EQ(Filled(Match("Name")), (std::vector<std::string>{"a"}));
    // A trailing line break from the copy is kept and so fails against a label without one.
    EXPECT_TRUE(Match("Name\n").empty());
}

TEST_F(MatchingTest, SpacesOnlyOffersEveryNonEmptyLabel) {
    SetEntries({{"氏名", "1", ""}, {"", "2", "label-less"}, {"住所", "3", ""}});
    EXPECT_EQ(Filled(Match(" \u3000")), (std::vector<std::string>{"1", "3"}));
}

TEST_F(MatchingTest, EachSearchHoldsExactlyItsOwnMatches) {
    SetEntries({{"番号A", "1", ""}, {"番号B", "2", ""}, {"番号C", "3", ""}});
    ASSERT_EQ(Match("番号").size(), 3u);
    EXPECT_TRUE(Match("住所").empty());
    EXPECT_EQ(Filled(Match("番号B")), (std::vector<std::string>{"2"}));
}

TEST_F(MatchingTest, NoEntriesNeverMatch) {
    table.Resize(0);
    EXPECT_TRUE(Match("").empty());
    EXPECT_TRUE(Match("氏名").empty());
}

}  // namespace
