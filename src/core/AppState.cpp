#include "core/AppState.h"

std::vector<Entry> EntryTable(1);
std::int16_t EntryCount = 0;
std::array<bool, 2> Options{false, false};
platform::WindowId MainHwnd = 0;
std::string BrowserCaption;
platform::WindowId BrowserWindow = 0;
std::array<std::vector<std::string>, 2> Candidates;
std::array<std::string, 4> ColumnWidths;

void ResizeEntryTable(std::int16_t count) {
    EntryCount = count;
    EntryTable.assign(static_cast<std::size_t>(count) + 1, Entry{});
}
