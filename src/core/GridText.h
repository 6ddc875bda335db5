// Text rules of the entry editor that need no display: trimming the memo, the stored column
// widths, the width a column is fitted to, and the check of a 記入文字's key notation.
#pragma once

#include <string>
#include <string_view>

// Widths, rows and counts are 16-bit in the settings and the data file's count.
inline constexpr long kMaxTwips = 32767;
inline constexpr int kMaxEntries = 32767;
// Space added to the widest text of a column.
inline constexpr long kColumnPadTwips = 90;

// The memo without leading and trailing spaces: the ordinary space U+0020 and the
// full-width space U+3000 that a Japanese input method types.
std::string TrimMemo(std::string_view memo);

// A stored column width (Set_7..Set_9): decimal digits for 1..32767; "0", text that is not a
// whole number, or a negative number give `fallback`; larger numbers give 32767.
long ParseStoredWidth(const std::string& text, long fallback);

// The width of a column whose widest text measures `widest` twips: that plus 90, kept within
// the 16-bit range so that a very long text cannot overflow it.
long FittedColumnWidth(long widest);

// "" when `fillText` can be typed; otherwise a warning for the user that says why not.
std::string KeyNotationWarning(const std::string& fillText);
