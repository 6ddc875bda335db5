// The candidate window's layout arithmetic, in twips, apart from any display: the window
// measures its texts and hands the figures in.
#pragma once

#include <cstdint>
#include <vector>

struct SelectListLayout {
    std::int64_t listWidth = 0;
    std::int64_t listHeight = 0;
    // Outer size of the window, frame included.
    std::int64_t windowWidth = 0;
    std::int64_t windowHeight = 0;
    std::int64_t cancelLeft = 0;
    std::int64_t helpLeft = 0;
    std::int64_t buttonTop = 0;
    // Horizontal scroll range of the list in pixels; 0 when rows fit and no bar is shown.
    std::int32_t scrollExtentPx = 0;
};

// textWidths: each row's measured width in twips, in list order; lineHeight: the measured
// height of "H" in twips. Measured values are rounded half to even. Everything is computed in
// 64 bits, so very wide texts or thousands of rows still give a window of sane size.
SelectListLayout LayoutSelectList(const std::vector<double>& textWidths, double lineHeight,
                                  double twipsPerPixelX);

// Nearest integer, a tie to the even one; non-finite or huge values are clamped first.
std::int64_t RoundTwips(double v);
