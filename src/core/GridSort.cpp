#include "core/GridSort.h"

#include <QCollator>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <charconv>
#include <numeric>

#include "core/Utf8.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Japanese whatever the user's locale is: the entries are Japanese. Qt's collation comes from
// ICU, whose data carries the Japanese rules without a ja locale being installed. Letter case,
// like kana type, is left to the code point tie-break. One per thread, as a collator keeps
// state of its own.
const QCollator& JapaneseCollator() {
    thread_local const QCollator collator = [] {
        QCollator c{QLocale(QLocale::Japanese, QLocale::Japan)};
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator;
}

}  // namespace

std::string FoldForSort(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        std::size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) {
            out += text[i++];
            continue;
        }
        if (cp >= 0xFF01 && cp <= 0xFF5E) {
            cp -= 0xFEE0;
        } else if (cp == 0x3000) {
            cp = U' ';
        }
        if (cp < 0x80) {
            char c = static_cast<char>(cp);
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            out += c;
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    return out;
}

bool ReadsAsNumber(std::string_view text, double* value) {
    std::size_t b = text.find_first_not_of(' ');
    if (b == std::string_view::npos) return false;
    std::size_t e = text.find_last_not_of(' ');
    std::string_view t = text.substr(b, e - b + 1);
    std::size_t i = 0;
    bool negative = false;
    if (t[i] == '+' || t[i] == '-') negative = t[i++] == '-';
    std::size_t mantissa = i;
    std::size_t digits = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
        std::size_t expDigits = 0;
        while (j < t.size() && IsDigit(t[j])) ++j, ++expDigits;
        if (expDigits == 0) return false;
        i = j;
    }
    if (i != t.size()) return false;
    // from_chars reads the same way whatever the process locale says a decimal point is.
    std::string_view m = t.substr(mantissa);
    std::string buf(m);
    if (!buf.empty() && buf[0] == '.') buf.insert(buf.begin(), '0');
    double v = 0;
    auto r = std::from_chars(buf.data(), buf.data() + buf.size(), v);
    if (r.ec != std::errc() || r.ptr != buf.data() + buf.size()) return false;
    *value = negative ? -v : v;
    return true;
}

GenericSortKey MakeGenericSortKey(std::string_view text) {
    GenericSortKey k;
    k.raw.assign(text);
    if (text.empty()) return k;
    if (ReadsAsNumber(FoldForSort(text), &k.number)) {
        k.kind = GenericSortKey::Number;
    } else {
        k.kind = GenericSortKey::Text;
        // Compatibility forms first: half-width kana (and their separate voicing marks and
        // long vowel mark, which the collation would otherwise weigh apart) and full-width
        // letters collate as their ordinary forms.
        const QString t = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        k.collated = JapaneseCollator().sortKey(t.normalized(QString::NormalizationForm_KC));
    }
    return k;
}

bool GenericLess(const GenericSortKey& a, const GenericSortKey& b) {
    if (a.kind != b.kind) return a.kind < b.kind;
    switch (a.kind) {
        case GenericSortKey::Empty:
            return false;
        case GenericSortKey::Number:
            return a.number < b.number;
        case GenericSortKey::Text:
            if (int c = a.collated->compare(*b.collated); c != 0) return c < 0;
            return a.raw < b.raw;
    }
    return false;
}

std::vector<std::size_t> GenericAscendingOrder(const std::vector<std::string>& keys) {
    std::vector<GenericSortKey> prepared;
    prepared.reserve(keys.size());
    for (const std::string& k : keys) prepared.push_back(MakeGenericSortKey(k));
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return GenericLess(prepared[x], prepared[y]);
    });
    return order;
}
