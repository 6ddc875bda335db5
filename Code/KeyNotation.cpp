// PLACEHOLDER: replaced by the key-notation parser.
#include "KeyNotation.h"
KeyParseResult ParseKeys(std::string_view) { return {{}, "未実装", 0}; }
const char* NamedKeyName(NamedKey) { return ""; }
