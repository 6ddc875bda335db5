#include "core/GridText.h"

#include <algorithm>

#include "core/KeyNotation.h"

namespace {
constexpr std::string_view kAsciiSpace = " ";
constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";  // U+3000
}  // namespace

std::string TrimMemo(std::string_view memo) {
    auto strip = [&](bool front) {
        for (bool again = true; again && !memo.empty();) {
            again = false;
            for (std::string_view sp : {kAsciiSpace, kIdeographicSpace}) {
                if (front && memo.starts_with(sp)) {
                    memo.remove_prefix(sp.size());
                    again = true;
                } else if (!front && memo.ends_with(sp)) {
                    memo.remove_suffix(sp.size());
                    again = true;
                }
            }
        }
    };
    strip(true);
    strip(false);
    return std::string(memo);
}

long ParseStoredWidth(const std::string& text, long fallback) {
    if (text.empty()) return fallback;
    long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return fallback;
        v = std::min(v * 10 + (c - '0'), kMaxTwips + 1);  // saturates: no overflow
    }
    if (v == 0) return fallback;
    return std::min(v, kMaxTwips);
}

long FittedColumnWidth(long widest) {
    return std::clamp(widest, 0L, kMaxTwips - kColumnPadTwips) + kColumnPadTwips;
}

std::string KeyNotationWarning(const std::string& fillText) {
    KeyParseResult r = ParseKeys(fillText);
    if (r.ok()) return {};
    // The parser's message says where the problem is and how to write the character instead.
    return "この記入文字は、このままでは記入できません。\r\n" + r.error +
           "\r\n\r\n登録はしてあります。記入に使う前に、記入文字を修正してください。";
}
