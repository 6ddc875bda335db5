// Program-wide state that lives for the whole run. All strings are UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/WindowId.h"

// One row of the entry table: item label (項目), text to type (記入文字), memo (メモ).
using Entry = std::array<std::string, 3>;
enum EntryColumn : int { ItemLabel = 0, FillText = 1, Memo = 2 };

// Rows 0 .. EntryCount-1 are the entries; row EntryCount is an empty spare row.
extern std::vector<Entry> EntryTable;
extern std::int16_t EntryCount;

// Sizes EntryTable afresh to count + 1 empty rows and sets EntryCount.
void ResizeEntryTable(std::int16_t count);

// Options[AlwaysOnTop], Options[ConfirmBeforeFill]; filled only by LoadOptions.
enum OptionIndex : int { AlwaysOnTop = 0, ConfirmBeforeFill = 1 };
extern std::array<bool, 2> Options;

// Handle of the main toolbar window.
extern platform::WindowId MainHwnd;

// Caption of the window recognised as the browser, "False" when it is owned, "" when none.
extern std::string BrowserCaption;
// The window FindBrowser recognised; activation prefers it while its caption still matches.
extern platform::WindowId BrowserWindow;

// Candidates[0][k]: text shown for candidate k; Candidates[1][k]: its FillText.
// n = Candidates[0].size(); "erased" means both vectors are empty.
extern std::array<std::vector<std::string>, 2> Candidates;

// Widths of the editor's data columns in twips as decimal text, index 1..3 (0 unused).
extern std::array<std::string, 4> ColumnWidths;
