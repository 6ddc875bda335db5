// Looking a copied label up among the entries' item labels. No display needed.
#pragma once

#include <string>
#include <string_view>

// The copied text without its spaces: every U+0020 and U+3000 goes, all else stays in order.
std::string RemoveSpaces(std::string text);

// Whether an entry labelled `label` is offered for the cleaned text: an exact, case-sensitive
// substring search. An empty label is never offered; an empty text is found in every other.
inline bool LabelMatches(std::string_view label, std::string_view cleaned) {
    return !label.empty() && label.find(cleaned) != std::string_view::npos;
}

struct MatchOutcome {
    int count = 0;              // matching rows
    std::string firstFillText;  // FillText of the first of them
};

// Matches the copied text against every row of EntryTable (0 .. EntryCount, the spare row
// included) in table order. When any row matches, Candidates holds exactly the matches, one
// pair each (shown text: the Memo, or the FillText when the Memo is empty; then the FillText);
// when none does, Candidates is left as it was.
MatchOutcome MatchEntries(const std::string& copied);
