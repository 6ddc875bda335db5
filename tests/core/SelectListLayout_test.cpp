#include "core/SelectListLayout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

SelectListLayout WithWidest(double widest, std::size_t rows = 2, double line = 240) {
    std::vector<double> widths(rows, 0.0);
    widths[rows / 2] = widest;
    return LayoutSelectList(widths, line, 15);
}

TEST(SelectListLayoutTest, NarrowRowsGiveTheDesignSize) {
    SelectListLayout l = WithWidest(1000);
    EXPECT_EQ(l.listWidth, 2430);
    EXPECT_EQ(l.windowWidth, 2500);
    EXPECT_EQ(l.cancelLeft, 104);
    EXPECT_EQ(l.helpLeft, 1311);
    EXPECT_EQ(l.scrollExtentPx, 0);
}

TEST(SelectListLayoutTest, WidthSteps) {
    EXPECT_EQ(WithWidest(2279).listWidth, 2430);
    EXPECT_EQ(WithWidest(2280).listWidth, 2780);  // w + 500 once W reaches 2430
    SelectListLayout at = WithWidest(3850);
    EXPECT_EQ(at.listWidth, 4350);
    EXPECT_EQ(at.scrollExtentPx, 0);
    EXPECT_EQ(at.listHeight, 760);
    SelectListLayout past = WithWidest(3851);
    EXPECT_EQ(past.listWidth, 4000);
    EXPECT_EQ(past.windowWidth, 4070);
    EXPECT_EQ(past.scrollExtentPx, 267);  // 4001 / 15 = 266.73
    EXPECT_EQ(past.listHeight, 960);      // 720 + 200 for the scroll bar, + 40
}

TEST(SelectListLayoutTest, MeasuredWidthsRoundHalfToEven) {
    EXPECT_EQ(WithWidest(2279.5).listWidth, 2780);  // rounds to 2280
    EXPECT_EQ(WithWidest(2278.5).listWidth, 2430);  // rounds to 2278
    EXPECT_EQ(WithWidest(2280.5).listWidth, 2780);  // 2280, not 2281
    EXPECT_EQ(WithWidest(2281.5).listWidth, 2782);
    // The widest row counts wherever it stands.
    EXPECT_EQ(LayoutSelectList({3000, 10, 20}, 240, 15).listWidth, 3500);
    EXPECT_EQ(LayoutSelectList({10, 20, 3000}, 240, 15).listWidth, 3500);
}

TEST(SelectListLayoutTest, HeightsFromLineHeight) {
    SelectListLayout two = WithWidest(1000, 2);
    EXPECT_EQ(two.listHeight, 760);
    EXPECT_EQ(two.windowHeight, 1660);
    EXPECT_EQ(two.buttonTop, 860);
    EXPECT_EQ(WithWidest(1000, 11).listHeight, 2920);
    EXPECT_EQ(WithWidest(1000, 12).listHeight, 3040);
    EXPECT_EQ(WithWidest(1000, 100).listHeight, 3040);
    // (n + 1) x L is rounded half to even: 3 x 180.5 = 541.5 -> 542, 3 x 180.166.. -> 541.
    EXPECT_EQ(WithWidest(1000, 2, 180.5).listHeight, 582);
    EXPECT_EQ(WithWidest(1000, 2, 180.1667).listHeight, 581);
}

TEST(SelectListLayoutTest, OversizedInputsStillGiveASaneWindow) {
    // A text far wider than 16 bits of twips.
    SelectListLayout wide = WithWidest(500000);
    EXPECT_EQ(wide.listWidth, 4000);
    EXPECT_EQ(wide.scrollExtentPx, 33343);  // 500150 / 15
    EXPECT_EQ(wide.listHeight, 960);

    // Thousands of rows: the planned height passes 32767 but the list is capped.
    SelectListLayout many = WithWidest(1000, 32767);
    EXPECT_EQ(many.listHeight, 3040);
    EXPECT_EQ(many.windowHeight, 3940);

    // Nonsense from a measurer does not overflow.
    SelectListLayout inf = WithWidest(std::numeric_limits<double>::infinity());
    EXPECT_EQ(inf.listWidth, 4000);
    EXPECT_GT(inf.scrollExtentPx, 0);
    EXPECT_LE(inf.scrollExtentPx, std::numeric_limits<std::int32_t>::max());
    SelectListLayout nan = LayoutSelectList({std::nan(""), -5}, std::nan(""), 0);
    EXPECT_EQ(nan.listWidth, 2430);
    EXPECT_EQ(nan.listHeight, 40);
}

TEST(SelectListLayoutTest, RoundTwipsTiesToEven) {
    EXPECT_EQ(RoundTwips(0.5), 0);
    EXPECT_EQ(RoundTwips(1.5), 2);
    EXPECT_EQ(RoundTwips(2.5), 2);
    EXPECT_EQ(RoundTwips(2.4999), 2);
    EXPECT_EQ(RoundTwips(2.5001), 3);
    EXPECT_EQ(RoundTwips(-1.5), -2);
}

}  // namespace
