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

MatchOutcome MatchEntries(const std::string& copied) {
    // UTF-8 is self-synchronising, so a byte substring match is a character substring match.
    const std::string cleaned = RemoveSpaces(copied);
    std::vector<const Entry*> hits;
    for (const Entry& row : EntryTable) {
        if (LabelMatches(row[ItemLabel], cleaned)) hits.push_back(&row);
    }
    MatchOutcome outcome;
    outcome.count = static_cast<int>(hits.size());
    if (hits.empty()) return outcome;
    outcome.firstFillText = (*hits.front())[FillText];
    // Assigning over the pairs already there reuses their storage.
    for (auto& column : Candidates) column.resize(hits.size());
    for (std::size_t k = 0; k < hits.size(); ++k) {
        const Entry& row = *hits[k];
        Candidates[0][k] = row[Memo].empty() ? row[FillText] : row[Memo];
        Candidates[1][k] = row[FillText];
    }
    return outcome;
}
