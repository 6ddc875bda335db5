// libFuzzer target for the data file reader: the input is the file's bytes. Anything must load
// or fail with a readable message; what loads is text, must save and load again to the same
// entries, and a second save must give the same bytes.
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
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<Entry> rows;
    try {
        rows = DecodeEntries(bytes, "Penrika.dat");
    } catch (const EntryFileError& e) {
        Check(IsValidUtf8(e.what()));
        return 0;
    }
    // Whatever is read is text, and saving it changes nothing.
    for (const Entry& r : rows)
        for (const std::string& f : r) Check(IsValidUtf8(f));
    const std::string saved = EncodeEntries(rows, rows.size());
    const std::vector<Entry> again = DecodeEntries(saved, "Penrika.dat");
    Check(again == rows);
    Check(EncodeEntries(again, again.size()) == saved);
    return 0;
}
