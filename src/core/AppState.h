// What the program holds for the whole run: the entry table and the options. One AppState is
// made at start-up and handed by reference to whatever needs it. All strings are UTF-8.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One row of the entry table: item label (項目), text to type (記入文字), memo (メモ).
using Entry = std::array<std::string, 3>;
enum EntryColumn : int { ItemLabel = 0, FillText = 1, Memo = 2 };

// The entries, then one empty spare row (the editor shows it for a new entry). The count is
// the rows less the spare one, so the two can never disagree.
class EntryTable {
  public:
    EntryTable() : rows_(1) {}

    std::int16_t count() const { return static_cast<std::int16_t>(rows_.size() - 1); }
    // Rows 0 .. count(), the spare row included.
    std::size_t size() const { return rows_.size(); }
    Entry& operator[](std::size_t row) { return rows_[row]; }
    const Entry& operator[](std::size_t row) const { return rows_[row]; }
    std::vector<Entry>::const_iterator begin() const { return rows_.begin(); }
    std::vector<Entry>::const_iterator end() const { return rows_.end(); }
    const std::vector<Entry>& rows() const { return rows_; }

    // Makes the table `count` empty entries and the spare row.
    void Resize(std::int16_t count) { rows_.assign(static_cast<std::size_t>(count) + 1, Entry{}); }

  private:
    std::vector<Entry> rows_;
};

// The options: two flags stored as Op_1 and Op_2, and the fill shortcut.
struct Options {
    bool alwaysOnTop = false;        // the windows stay in the topmost band
    bool confirmBeforeFill = false;  // ask before typing into the browser
    // The key combination that fills from anywhere, as Qt writes it portably ("Ctrl+Alt+K");
    // empty when there is none.
    std::string fillShortcut;
};

struct AppState {
    EntryTable entries;
    Options options;
    // Set once the entries have been read at start: until then there is nothing to save, and
    // saving would put an empty table over the user's file.
    bool loaded = false;
};
