// libFuzzer target for the key-notation parser: any bytes must parse or fail cleanly, never
// crash or hang. Beyond that it checks what the rest of the program relies on: a failed parse
// has no strokes, an error position inside the text and a readable message; a successful one
// has well-formed strokes that parse back to themselves when written out again.
//
//   cmake -S . -B build-fuzz -G Ninja -DPENRIKA_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
//   ninja -C build-fuzz KeyNotation_fuzz
//   mkdir -p /tmp/corpus && cp tests/fuzz-corpus/keynotation/* /tmp/corpus/
//   build-fuzz/tests/KeyNotation_fuzz -max_total_time=300 -dict=tests/fuzz-corpus/keynotation.dict
//   /tmp/corpus
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/KeyNotation.h"
#include "core/Utf8.h"

namespace {

// Every stroke written in braces, modifiers in front: the plainest spelling of the same keys.
std::string WriteOut(const KeyParseResult& r) {
    std::string s;
    for (const KeyStroke& k : r.strokes) {
        if (k.shift) s += '+';
        if (k.ctrl) s += '^';
        if (k.alt) s += '%';
        s += '{';
        if (k.key != NamedKey::None)
            s += NamedKeyName(k.key);
        else
            AppendUtf8(s, k.ch);
        s += '}';
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    KeyParseResult r = ParseKeys(text);
    if (!r.ok()) {
        if (!r.strokes.empty() || r.errorPos > size || !IsValidUtf8(r.error)) std::abort();
        return 0;
    }
    if (!IsValidUtf8(text)) std::abort();
    for (const KeyStroke& k : r.strokes) {
        bool isChar = k.ch != 0 && k.key == NamedKey::None;
        bool isKey = k.ch == 0 && k.key != NamedKey::None;
        if (isChar == isKey) std::abort();
    }
    KeyParseResult again = ParseKeys(WriteOut(r));
    if (!again.ok() || again.strokes != r.strokes) std::abort();
    return 0;
}
