// The entry grid's generic ascending sort: keys that both read as numbers compare as numbers,
// other keys as text in Japanese reading order. Display-free so that the ordering can be tested
// on its own.
#pragma once

#include <QCollatorSortKey>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A sort key prepared once per row, so that comparing needs no parsing.
struct GenericSortKey {
    // Empty keys first, then keys that read as numbers (by value), then other text.
    enum Kind : int { Empty = 0, Number = 1, Text = 2 };
    Kind kind = Empty;
    double number = 0;
    // Text under the Japanese collation: hiragana, katakana and half-width kana of one reading
    // side by side, kanji in JIS order (the common ones by reading), letter case and full-width
    // forms beside their plain letters.
    std::optional<QCollatorSortKey> collated;
    std::string raw;  // the key as it stands: code point order settles texts that collate equal
};

// Full-width ASCII forms (U+FF01..U+FF5E) and the ideographic space to their ASCII forms,
// then ASCII letters to lower case, so that full-width digits read as a number. Bytes that are
// not valid UTF-8 are kept as they are.
std::string FoldForSort(std::string_view text);
// Whether `text` reads as a decimal number (spaces around it allowed, an optional sign, digits
// with an optional point, an optional exponent); its value goes to `value`.
bool ReadsAsNumber(std::string_view text, double* value);

GenericSortKey MakeGenericSortKey(std::string_view text);
// A strict weak ordering, so that any sort algorithm may use it.
bool GenericLess(const GenericSortKey& a, const GenericSortKey& b);

// The positions of `keys` in generic ascending order. Keys that compare equal keep their
// relative order.
std::vector<std::size_t> GenericAscendingOrder(const std::vector<std::string>& keys);
