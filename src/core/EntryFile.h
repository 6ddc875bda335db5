// The entry table's data file "Penrika.dat": one line per entry, three double-quoted fields
// separated by commas, CR LF line ends, code page 932. Its record count is Set_6.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/AppState.h"

// A data file or count that cannot be used. The message is for the user, in Japanese, and
// names the file and the problem.
class EntryFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* DataFileName = "Penrika.dat";

// The directory that holds the data file: AppDir for a portable copy, else the per-user data
// directory ($XDG_DATA_HOME/Penrika).
std::filesystem::path DataDir();
std::filesystem::path DataFilePath();

// Fills the table from Set_6 and the data file, first finishing or dropping a
// save that was cut short. Throws EntryFileError, also when the settings file is there but
// cannot be read (that is not a first start).
void LoadEntries(EntryTable& table);
// Writes the data file (when there are entries) and Set_6 so that a crash or a failed write at
// any point leaves the old table or the new one for the next start. Throws EntryFileError
// when the new table could not be put in place; then the old one stays.
void SaveEntries(const EntryTable& table);

// The bytes of a data file holding the first `count` rows: code page 932 when every text has a
// form there, else UTF-8 with a byte-order mark so that nothing is lost.
std::string EncodeEntries(const std::vector<Entry>& rows, std::size_t count);
// Reads `count` records from a data file's bytes (either encoding). Throws EntryFileError
// (naming `fileName`) when the bytes end before `count` records.
std::vector<Entry> DecodeEntries(std::string_view bytes, std::size_t count,
                                 const std::string& fileName);
// Parses Set_6: decimal digits for 0..32767. Throws EntryFileError otherwise.
std::int16_t ParseEntryCount(const std::string& text);

// The text that ties an entry count to the data file's bytes while a save is under way
// (stored as "<count> <fingerprint>" in Set_6_Pending until the count itself is stored).
std::string SaveFingerprint(std::string_view bytes);

// Replaces `file` with `bytes` (see platform::ReplaceFile). Throws EntryFileError.
void WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes);
