// libFuzzer target for the settings reader: any file content, then one value stored. The
// stored value must read back exactly, every other value must read as it did before, and the
// file must still read as settings. Content that is not settings text is refused by reader
// and writer alike and stays as it was.
// Input: one byte choosing the value, one giving the value's length, the value, the file.
//
//   ninja -C build-fuzz SettingsStore_fuzz   (configured as for KeyNotation_fuzz)
//   build-fuzz/tests/SettingsStore_fuzz -max_total_time=600 /tmp/corpus-settings
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/SettingsStore.h"

namespace {

const char* const kKeys[] = {"Software\\Tamsel\\Penrika\\Setting",
                             "Software\\Tamsel\\Penrika\\Option"};
const char* const kNames[] = {"Set_6", "Set_7", "Op_1", "Op_2", "A", " ", ""};

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Files on a memory file system, never the user's own settings.
    std::string dir = "/dev/shm/penrika-fuzz-XXXXXX";
    Check(::mkdtemp(dir.data()) != nullptr);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    static const std::string folder = dir;
    std::atexit([] { std::filesystem::remove_all(folder); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t pick = data[0] % (std::size(kKeys) * std::size(kNames));
    const size_t len = std::min<size_t>(data[1] % 32, size - 2);
    const std::string value(reinterpret_cast<const char*>(data + 2), len);
    const std::string file(reinterpret_cast<const char*>(data + 2 + len), size - 2 - len);
    const auto path = platform::SettingsFilePath();
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
    const int readError = platform::SettingsReadError();

    std::vector<std::optional<std::string>> before;
    for (const char* key : kKeys)
        for (const char* name : kNames) before.push_back(platform::FetchValue(key, name));
    const char* key = kKeys[pick / std::size(kNames)];
    const char* name = kNames[pick % std::size(kNames)];
    // A name that is blank cannot be told from no name at all: only ours are stored.
    if (std::string(name).find_first_not_of(' ') == std::string::npos) return 0;
    const int stored = platform::StoreValue(key, name, value);
    if (readError != 0) {
        Check(stored == readError);
        std::ifstream in(path, std::ios::binary);
        Check(std::string(std::istreambuf_iterator<char>(in), {}) == file);
        for (const auto& v : before) Check(!v);
        return 0;
    }
    Check(stored == 0);
    Check(platform::SettingsReadError() == 0);
    size_t i = 0;
    for (const char* k : kKeys) {
        for (const char* n : kNames) {
            std::optional<std::string> now = platform::FetchValue(k, n);
            if (k == key && n == name) {
                Check(now == value);
            } else {
                Check(now == before[i]);
            }
            ++i;
        }
    }
    return 0;
}
