#include "core/Matching.h"

#include <cstddef>
#include <vector>

#include "core/AppState.h"

std::string RemoveSpaces(std::string text) {
    // U+3000 is E3 80 80 in UTF-8; neither it nor 0x20 can occur inside another character.
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
        } else if (i + 2 < text.size() && static_cast<unsigned char>(text[i]) == 0xE3 &&
                   static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   static_cast<unsigned char>(text[i + 2]) == 0x80) {
            i += 3;
        } else {
            text[out++] = text[i++];
        }
    }
    text.resize(out);
    return text;
}

std::vector<Candidate> MatchEntries(const EntryTable& table, const std::string& copied) {
    // UTF-8 is self-synchronising, so a byte substring match is a character substring match.
    const std::string cleaned = RemoveSpaces(copied);
    std::vector<Candidate> found;
    for (const Entry& row : table) {
        if (!LabelMatches(row[ItemLabel], cleaned)) continue;
        found.push_back({row[Memo].empty() ? row[FillText] : row[Memo], row[FillText]});
    }
    return found;
}
