// libFuzzer target for the data file reader: the input is a Set_6 text (up to the first line
// feed) and the file's bytes. Anything must load or fail with a readable message; what loads
// must save and load again to the same entries, and a second save must give the same bytes.
//
//   cmake -S . -B build-fuzz -G Ninja -DPENRIKA_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
//   ninja -C build-fuzz EntryFile_fuzz
//   build-fuzz/tests/EntryFile_fuzz -max_total_time=600 /tmp/corpus-entryfile
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/EntryFile.h"
#include "core/Utf8.h"

namespace {
void Check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const size_t nl = in.find('\n');
    const std::string countText(in.substr(0, nl));
    const std::string bytes(nl == std::string_view::npos ? std::string_view() : in.substr(nl + 1));
    std::vector<Entry> rows;
    std::size_t count = 0;
    try {
        count = static_cast<std::size_t>(ParseEntryCount(countText));
        rows = DecodeEntries(bytes, count, "Penrika.dat");
    } catch (const EntryFileError& e) {
        Check(IsValidUtf8(e.what()));
        return 0;
    }
    Check(rows.size() == count);
    const std::string saved = EncodeEntries(rows, count);
    const std::vector<Entry> again = DecodeEntries(saved, count, "Penrika.dat");
    Check(again == rows);
    Check(EncodeEntries(again, count) == saved);
    return 0;
}
