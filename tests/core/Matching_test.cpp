#include "core/Matching.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "core/AppState.h"

namespace {

// Fills EntryTable with (label, fill text, memo) rows plus the spare row.
void SetEntries(std::initializer_list<Entry> rows) {
    ResizeEntryTable(static_cast<std::int16_t>(rows.size()));
    std::size_t i = 0;
    for (const Entry& r : rows) EntryTable[i++] = r;
}

class MatchingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Candidates[0].clear();
        Candidates[1].clear();
    }
    void TearDown() override { ResizeEntryTable(0); }
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
    MatchOutcome r = MatchEntries("郵便番号");
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(r.firstFillText, "123-4567");
    ASSERT_EQ(Candidates[1].size(), 1u);
}

TEST_F(MatchingTest, SeveralMatchesInTableOrderWithMemoOrFillTextShown) {
    SetEntries(
        {{"電話番号", "03-1111", "自宅"}, {"住所", "東京", ""}, {"郵便番号", "100-0001", ""}});
    MatchOutcome r = MatchEntries("番号");
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.firstFillText, "03-1111");
    EXPECT_EQ(Candidates[0], (std::vector<std::string>{"自宅", "100-0001"}));
    EXPECT_EQ(Candidates[1], (std::vector<std::string>{"03-1111", "100-0001"}));
}

TEST_F(MatchingTest, SpacesLeaveOnlyTheCopiedText) {
    SetEntries({{"お名前", "山田", ""}, {"お 名前", "鈴木", ""}});
    EXPECT_EQ(MatchEntries("お 名前").count, 1);
    EXPECT_EQ(Candidates[1], (std::vector<std::string>{"山田"}));
    EXPECT_EQ(MatchEntries("お\u3000名前").firstFillText, "山田");
    // The label with a space is still found by a part that has none.
    EXPECT_EQ(MatchEntries("名前").count, 2);
}

TEST_F(MatchingTest, ExactComparison) {
    SetEntries({{"Name", "a", ""}, {"ナマエ", "b", ""}, {"ｎａｍｅ", "c", ""}});
    EXPECT_EQ(MatchEntries("name").count, 0);
    EXPECT_EQ(MatchEntries("なまえ").count, 0);
    EXPECT_EQ(MatchEntries("Name").firstFillText, "a");
    // A trailing line break from the copy is kept and so fails against a label without one.
    EXPECT_EQ(MatchEntries("Name\n").count, 0);
}

TEST_F(MatchingTest, SpacesOnlyOffersEveryNonEmptyLabel) {
    SetEntries({{"氏名", "1", ""}, {"", "2", "label-less"}, {"住所", "3", ""}});
    MatchOutcome r = MatchEntries(" \u3000");
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(Candidates[1], (std::vector<std::string>{"1", "3"}));
}

TEST_F(MatchingTest, NoMatchLeavesPreviousCandidates) {
    SetEntries({{"番号A", "1", ""}, {"番号B", "2", ""}, {"番号C", "3", ""}});
    ASSERT_EQ(MatchEntries("番号").count, 3);
    EXPECT_EQ(MatchEntries("住所").count, 0);
    EXPECT_EQ(Candidates[1].size(), 3u);
    // A later run with fewer matches holds exactly its own.
    EXPECT_EQ(MatchEntries("番号B").count, 1);
    EXPECT_EQ(Candidates[1], (std::vector<std::string>{"2"}));
}

TEST_F(MatchingTest, NoEntriesNeverMatch) {
    ResizeEntryTable(0);
    EXPECT_EQ(MatchEntries("").count, 0);
    EXPECT_EQ(MatchEntries("氏名").count, 0);
}

}  // namespace
