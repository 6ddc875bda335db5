// The entry table's data file "Penrika.dat": one line per entry, three double-quoted fields
// separated by commas, CR LF line ends, code page 932. Its records are the entries; Set_6
// holds their number as well, for whatever else reads the pair.
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

// Fills the table with every record of the data file, first finishing a save that an earlier
// version left cut short. Set_6 is a cross-check: when it disagrees with the file, or the file
// is missing while Set_6 counts entries, the file's records (or none) stand and the returned
// notice, in Japanese, says what was found; empty when all agrees. Throws EntryFileError (the
// table unchanged) when the settings file is there but cannot be read, and when the data file
// cannot be read, ends inside a record or holds bytes that no encoding reads.
[[nodiscard]] std::string LoadEntries(EntryTable& table);
// Writes Set_6 and the data file so that a crash or a failed write at any point leaves the old
// table or the new one for the next start. With no entries an existing file is emptied and no
// file is made. Throws EntryFileError when the new table could not be put in place; then the
// old one stays.
void SaveEntries(const EntryTable& table);

// The bytes of a data file holding the first `count` rows: code page 932 when every text has a
// form there, else UTF-8 with a byte-order mark so that nothing is lost.
std::string EncodeEntries(const std::vector<Entry>& rows, std::size_t count);
// Reads every record of a data file's bytes: UTF-8 after a byte-order mark, or when the bytes
// are UTF-8 throughout, else code page 932. Throws EntryFileError (naming `fileName` and the
// line) when the bytes end inside a record or are neither encoding.
std::vector<Entry> DecodeEntries(std::string_view bytes, const std::string& fileName);
// Parses Set_6: decimal digits for 0..32767. Throws EntryFileError otherwise.
std::int16_t ParseEntryCount(const std::string& text);

// The text that tied an entry count to the data file's bytes while an earlier version's save
// was under way ("<count> <fingerprint>" in Set_6_Pending); read at start only.
std::string SaveFingerprint(std::string_view bytes);

// Replaces `file` with `bytes` (see platform::ReplaceFile). Throws EntryFileError.
void WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes);
