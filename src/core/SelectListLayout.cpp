#include "core/SelectListLayout.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// Far beyond any real text, small enough that sums and products stay exact in 64 bits.
constexpr double kMaxMeasure = 1e12;

// The narrowest and widest the list gets, and where the sideways scroll bar takes over.
constexpr std::int64_t kMinListWidth = 2430;
constexpr std::int64_t kMaxPlainWidth = 4000;
constexpr std::int64_t kMaxListHeight = 3040;
}  // namespace

std::int64_t RoundTwips(double v) {
    if (std::isnan(v)) return 0;
    v = std::clamp(v, -kMaxMeasure, kMaxMeasure);
    double r = std::round(v);  // ties away from zero
    if (std::fabs(v - std::trunc(v)) == 0.5) r = 2.0 * std::round(v / 2.0);
    return static_cast<std::int64_t>(r);
}

SelectListLayout LayoutSelectList(const std::vector<double>& textWidths, double lineHeight,
                                  double twipsPerPixelX) {
    SelectListLayout l;
    std::int64_t w = 0;
    for (double width : textWidths) w = std::max(w, RoundTwips(width));
    const std::int64_t W = w + 150;

    if (W < kMinListWidth) {
        l.listWidth = kMinListWidth;
    } else if (W <= kMaxPlainWidth) {
        l.listWidth = w + 500;
    } else {
        l.listWidth = kMaxPlainWidth;
        if (!(twipsPerPixelX > 0) || !std::isfinite(twipsPerPixelX)) twipsPerPixelX = 15.0;
        const std::int64_t px = RoundTwips(static_cast<double>(W) / twipsPerPixelX);
        l.scrollExtentPx = static_cast<std::int32_t>(
            std::min<std::int64_t>(px, std::numeric_limits<std::int32_t>::max()));
    }
    l.windowWidth = l.listWidth + 70;

    const double n = static_cast<double>(textWidths.size());
    std::int64_t H =
        RoundTwips((n + 1.0) * std::max(0.0, std::isnan(lineHeight) ? 0.0 : lineHeight));
    if (W > kMaxPlainWidth) H += 200;  // room for the sideways scroll bar
    l.listHeight = H >= 3000 ? kMaxListHeight : H + 40;
    l.windowHeight = l.listHeight + 900;

    l.cancelLeft = l.windowWidth - 2396;
    l.helpLeft = l.windowWidth - 1189;
    l.buttonTop = l.listHeight + 100;
    return l;
}
