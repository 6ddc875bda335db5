// Looking a copied label up among the entries' item labels. No display needed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/AppState.h"

// The copied text without its spaces: every U+0020 and U+3000 goes, all else stays in order.
std::string RemoveSpaces(std::string text);

// Whether an entry labelled `label` is offered for the cleaned text: an exact, case-sensitive
// substring search. An empty label is never offered; an empty text is found in every other.
inline bool LabelMatches(std::string_view label, std::string_view cleaned) {
    return !label.empty() && label.find(cleaned) != std::string_view::npos;
}

// One entry offered for the copied label.
struct Candidate {
    std::string shown;     // the Memo, or the FillText when the Memo is empty
    std::string fillText;  // what is typed when it is picked
};

// Every row of the table (the spare row included, which never matches: its label is empty)
// whose label matches the copied text, in table order.
std::vector<Candidate> MatchEntries(const EntryTable& table, const std::string& copied);
