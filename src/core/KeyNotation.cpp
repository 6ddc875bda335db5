// The key notation: + ^ % hold Shift, Ctrl, Alt for the next key or parenthesised group, ~ is
// Enter, {NAME} and {NAME n} name keys, {x} and {x n} type a character, everything else types
// itself. The whole text is checked before a single stroke is produced.
#include "core/KeyNotation.h"

#include "core/Utf8.h"

#include <array>
#include <cwctype>
#include <optional>

namespace {

struct Named {
    const char* name;
    NamedKey key;
};

// The names accepted in braces, aliases included; matched without regard to letter case.
constexpr std::array<Named, 44> kNames{{
    {"BACKSPACE", NamedKey::Backspace},
    {"BS", NamedKey::Backspace},
    {"BKSP", NamedKey::Backspace},
    {"BREAK", NamedKey::Break},
    {"CAPSLOCK", NamedKey::CapsLock},
    {"DELETE", NamedKey::Delete},
    {"DEL", NamedKey::Delete},
    {"DOWN", NamedKey::Down},
    {"END", NamedKey::End},
    {"ENTER", NamedKey::Enter},
    {"ESC", NamedKey::Escape},
    {"HELP", NamedKey::Help},
    {"HOME", NamedKey::Home},
    {"INSERT", NamedKey::Insert},
    {"INS", NamedKey::Insert},
    {"LEFT", NamedKey::Left},
    {"NUMLOCK", NamedKey::NumLock},
    {"PGDN", NamedKey::PageDown},
    {"PGUP", NamedKey::PageUp},
    {"PRTSC", NamedKey::PrintScreen},
    {"RIGHT", NamedKey::Right},
    {"SCROLLLOCK", NamedKey::ScrollLock},
    {"TAB", NamedKey::Tab},
    {"UP", NamedKey::Up},
    {"F1", NamedKey::F1},
    {"F2", NamedKey::F2},
    {"F3", NamedKey::F3},
    {"F4", NamedKey::F4},
    {"F5", NamedKey::F5},
    {"F6", NamedKey::F6},
    {"F7", NamedKey::F7},
    {"F8", NamedKey::F8},
    {"F9", NamedKey::F9},
    {"F10", NamedKey::F10},
    {"F11", NamedKey::F11},
    {"F12", NamedKey::F12},
    {"F13", NamedKey::F13},
    {"F14", NamedKey::F14},
    {"F15", NamedKey::F15},
    {"F16", NamedKey::F16},
    {"ADD", NamedKey::KeypadAdd},
    {"SUBTRACT", NamedKey::KeypadSubtract},
    {"MULTIPLY", NamedKey::KeypadMultiply},
    {"DIVIDE", NamedKey::KeypadDivide},
}};

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::optional<NamedKey> LookUpName(std::string_view name) {
    for (const Named& n : kNames) {
        std::string_view candidate(n.name);
        if (candidate.size() != name.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i)
            same = AsciiUpper(name[i]) == candidate[i];
        if (same) return n.key;
    }
    return std::nullopt;
}

// Decodes one UTF-8 sequence at `pos`; advances `pos` past it.
std::optional<char32_t> DecodeUtf8(std::string_view s, std::size_t& pos) {
    char32_t cp = 0;
    std::size_t len = ::DecodeUtf8(s, pos, cp);
    if (len == 0) return std::nullopt;
    pos += len;
    return cp;
}

struct Mods {
    bool shift = false, ctrl = false, alt = false;
    bool any() const { return shift || ctrl || alt; }
    Mods operator|(const Mods& o) const { return {shift || o.shift, ctrl || o.ctrl, alt || o.alt}; }
};

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    KeyParseResult Run() {
        while (pos_ < text_.size()) {
            if (!Step()) return Fail();
        }
        if (pendingFrom_) {
            SetError(*pendingFrom_, ModifierMessage(*pendingFrom_));
            return Fail();
        }
        if (!groups_.empty()) {
            std::size_t at = groups_.front().openPos;
            SetError(at, At(at) + "の「(」が閉じられていません。文字の ( は {(} と書きます。");
            return Fail();
        }
        return std::move(result_);
    }

  private:
    struct Group {
        Mods mods;
        std::size_t openPos;
        std::size_t strokesAtOpen;
    };

    // Handles one construct at pos_; false on an error (already recorded).
    bool Step() {
        char c = text_[pos_];
        switch (c) {
            case '+':
            case '^':
            case '%':
                if (!pendingFrom_) pendingFrom_ = pos_;
                (c == '+' ? pending_.shift : c == '^' ? pending_.ctrl : pending_.alt) = true;
                ++pos_;
                return true;
            case '(':
                groups_.push_back({Held(), pos_, result_.strokes.size()});
                ClearPending();
                ++pos_;
                return true;
            case ')':
                return CloseGroup();
            case '}':
                SetError(
                    pos_,
                    At(pos_) + "の「}」に対応する「{」がありません。文字の } は {}} と書きます。");
                return false;
            case '{':
                return Braces();
            case '~':
                Emit({0, NamedKey::Enter}, 1);
                ++pos_;
                return true;
            default:
                break;
        }
        std::size_t start = pos_;
        std::optional<char32_t> cp = DecodeUtf8(text_, pos_);
        if (!cp) return BadUtf8(start);
        if (*cp == 0) return BadNul(start);
        Emit({*cp, NamedKey::None}, 1);
        return true;
    }

    bool CloseGroup() {
        if (groups_.empty()) {
            SetError(pos_,
                     At(pos_) + "の「)」に対応する「(」がありません。文字の ) は {)} と書きます。");
            return false;
        }
        if (pendingFrom_) {
            SetError(*pendingFrom_, ModifierMessage(*pendingFrom_));
            return false;
        }
        if (result_.strokes.size() == groups_.back().strokesAtOpen) {
            std::size_t at = groups_.back().openPos;
            SetError(at, At(at) + "の「()」の中に押すキーがありません。");
            return false;
        }
        groups_.pop_back();
        ++pos_;
        return true;
    }

    // "{" name [" " count] "}". The first character after "{" always belongs to the name, so
    // that {}} is the brace itself and { } the space.
    bool Braces() {
        const std::size_t open = pos_;
        std::size_t p = open + 1;
        if (p >= text_.size()) return Unclosed(open);
        std::size_t afterFirst = p;
        std::optional<char32_t> first = DecodeUtf8(text_, afterFirst);
        if (!first) return BadUtf8(p);
        std::size_t close = text_.find('}', afterFirst);
        if (close == std::string_view::npos) return Unclosed(open);
        std::string_view content = text_.substr(p, close - p);
        // Everything inside must be valid UTF-8 before any of it is quoted in a message.
        for (std::size_t q = afterFirst; q < close;) {
            std::size_t at = q;
            std::optional<char32_t> cp = DecodeUtf8(text_, q);
            if (!cp) return BadUtf8(at);
            if (*cp == 0) return BadNul(at);
        }
        if (*first == 0) return BadNul(p);

        std::string_view name = content, countText;
        bool hasCount = false;
        std::size_t space = content.find(' ', afterFirst - p);
        if (space != std::string_view::npos) {
            name = content.substr(0, space);
            countText = content.substr(space + 1);
            hasCount = true;
        }

        KeyStroke stroke;
        if (name.size() == afterFirst - p) {
            stroke.ch = *first;  // one character: typed as itself, whatever it is
        } else if (std::optional<NamedKey> key = LookUpName(name)) {
            stroke.key = *key;
        } else {
            SetError(open,
                     At(open) + "の「{" + std::string(Shorten(name)) + "}」は使えないキー名です。");
            return false;
        }

        int count = 1;
        if (hasCount) {
            // At most four digits are read, so the value cannot overflow.
            count = 0;
            bool good = !countText.empty() && countText.size() <= 4;
            for (std::size_t i = 0; good && i < countText.size(); ++i) {
                char d = countText[i];
                good = d >= '0' && d <= '9';
                count = count * 10 + (d - '0');
            }
            if (!good || count < 1 || count > kMaxKeyRepeat) {
                SetError(open, At(open) + "の「{" + std::string(Shorten(content)) +
                                   "}」の回数が正しくありません。回数は 1 から " +
                                   std::to_string(kMaxKeyRepeat) + " までの数字で書きます。");
                return false;
            }
        }
        Emit(stroke, count);
        pos_ = close + 1;
        return true;
    }

    void Emit(KeyStroke stroke, int count) {
        Mods m = Held();
        stroke.shift = m.shift;
        stroke.ctrl = m.ctrl;
        stroke.alt = m.alt;
        result_.strokes.insert(result_.strokes.end(), static_cast<std::size_t>(count), stroke);
        ClearPending();
    }

    Mods Held() const { return (groups_.empty() ? Mods{} : groups_.back().mods) | pending_; }
    void ClearPending() {
        pending_ = {};
        pendingFrom_.reset();
    }

    bool Unclosed(std::size_t open) {
        SetError(open, At(open) + "の「{」が閉じられていません。文字の { は {{} と書きます。");
        return false;
    }
    bool BadUtf8(std::size_t at) {
        SetError(at, At(at) + "に文字として読めないバイトがあります（UTF-8 ではありません）。");
        return false;
    }
    bool BadNul(std::size_t at) {
        SetError(at, At(at) + "に入力できない文字（NUL）があります。");
        return false;
    }

    std::string ModifierMessage(std::size_t at) const {
        std::string mods;
        for (std::size_t i = at; i < text_.size(); ++i) {
            char c = text_[i];
            if (c != '+' && c != '^' && c != '%') break;
            mods += c;
        }
        return At(at) + "の「" + mods +
               "」の後に押すキーがありません。文字の + ^ % は {+} {^} {%} と書きます。";
    }

    // "12 文字目": the 1-based character position of byte offset `at` (the text before it has
    // already been decoded, so it is valid UTF-8).
    std::string At(std::size_t at) const {
        std::size_t chars = 1;
        for (std::size_t i = 0; i < at && i < text_.size(); ++i)
            if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) ++chars;
        return std::to_string(chars) + " 文字目";
    }

    // Keeps quoted names in messages short; cuts on a character boundary.
    static std::string_view Shorten(std::string_view s) {
        constexpr std::size_t kMax = 30;
        if (s.size() <= kMax) return s;
        std::size_t n = kMax;
        while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
        return s.substr(0, n);
    }

    void SetError(std::size_t at, std::string message) {
        result_.error = std::move(message);
        result_.errorPos = at;
    }
    KeyParseResult Fail() {
        result_.strokes.clear();
        return std::move(result_);
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    Mods pending_;
    std::optional<std::size_t> pendingFrom_;
    std::vector<Group> groups_;
    KeyParseResult result_;
};

}  // namespace

KeyParseResult ParseKeys(std::string_view text) {
    return Parser(text).Run();
}

const char* NamedKeyName(NamedKey key) {
    // The first spelling listed for a key is its canonical name.
    for (const Named& n : kNames)
        if (n.key == key) return n.name;
    return "";
}

KeysToSend StrokesToSend(const std::vector<KeyStroke>& parsed,
                         const std::function<char32_t(char32_t)>& shiftedOf) {
    KeysToSend out;
    out.parsedCount = parsed.size();
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        KeyStroke s = parsed[i];
        if (s.key == NamedKey::None) {
            if (s.ch == U'\n' || s.ch == U'\r') {
                s.key = NamedKey::Enter;
            } else if (s.ch == U'\t') {
                s.key = NamedKey::Tab;
            } else if (s.ch < 0x20 || s.ch == 0x7f) {
                continue;
            } else if (s.shift && !s.ctrl && !s.alt) {
                char32_t shifted = shiftedOf ? shiftedOf(s.ch) : 0;
                if (!shifted && s.ch < 0x10000)
                    shifted = static_cast<char32_t>(std::towupper(static_cast<wint_t>(s.ch)));
                if (shifted) s.ch = shifted;
                s.shift = false;
            }
            if (s.key != NamedKey::None) s.ch = 0;
        }
        out.strokes.push_back(s);
        out.from.push_back(i);
    }
    return out;
}

std::size_t KeysToSend::Handled(std::size_t sent) const {
    return sent < from.size() ? from[sent] : parsedCount;
}

namespace {
// The key as its cap reads, for the tokens of TypedAsRead.
const char* KeyCapName(NamedKey key) {
    switch (key) {
        case NamedKey::Backspace:
            return "BackSpace";
        case NamedKey::Break:
            return "Break";
        case NamedKey::CapsLock:
            return "CapsLock";
        case NamedKey::Delete:
            return "Delete";
        case NamedKey::Down:
            return "↓";
        case NamedKey::End:
            return "End";
        case NamedKey::Enter:
            return "Enter";
        case NamedKey::Escape:
            return "Esc";
        case NamedKey::Help:
            return "Help";
        case NamedKey::Home:
            return "Home";
        case NamedKey::Insert:
            return "Insert";
        case NamedKey::Left:
            return "←";
        case NamedKey::NumLock:
            return "NumLock";
        case NamedKey::PageDown:
            return "PageDown";
        case NamedKey::PageUp:
            return "PageUp";
        case NamedKey::PrintScreen:
            return "PrintScreen";
        case NamedKey::Right:
            return "→";
        case NamedKey::ScrollLock:
            return "ScrollLock";
        case NamedKey::Tab:
            return "Tab";
        case NamedKey::Up:
            return "↑";
        case NamedKey::KeypadAdd:
            return "テンキー+";
        case NamedKey::KeypadSubtract:
            return "テンキー-";
        case NamedKey::KeypadMultiply:
            return "テンキー*";
        case NamedKey::KeypadDivide:
            return "テンキー/";
        default:
            return NamedKeyName(key);  // F1 .. F16
    }
}

bool ActsAsKey(char c) {
    return c == '+' || c == '^' || c == '%' || c == '~' || c == '(' || c == ')' || c == '{' ||
           c == '}' || c == '[' || c == ']';
}
}  // namespace

std::string StrokesAsRead(const std::vector<KeyStroke>& sent) {
    std::string out;
    for (const KeyStroke& s : sent) {
        const bool plainChar = s.key == NamedKey::None && !s.shift && !s.ctrl && !s.alt;
        if (plainChar) {
            AppendUtf8(out, s.ch);
            continue;
        }
        out += "［";
        if (s.ctrl) out += "Ctrl+";
        if (s.alt) out += "Alt+";
        if (s.shift) out += "Shift+";
        if (s.key != NamedKey::None) {
            out += KeyCapName(s.key);
        } else {
            // A shortcut reads as its key cap: Ctrl+C, not Ctrl+c.
            char32_t c = s.ch;
            if (c >= U'a' && c <= U'z') c = c - U'a' + U'A';
            AppendUtf8(out, c);
        }
        out += "］";
    }
    return out;
}

std::string TypedAsRead(std::string_view text, const std::function<char32_t(char32_t)>& shiftedOf) {
    KeyParseResult parsed = ParseKeys(text);
    if (!parsed.ok()) return {};
    return StrokesAsRead(StrokesToSend(parsed.strokes, shiftedOf).strokes);
}

std::string LiteralKeys(std::string_view plain) {
    std::string out;
    out.reserve(plain.size());
    for (char c : plain) {
        if (ActsAsKey(c)) {
            out += '{';
            out += c;
            out += '}';
        } else {
            out += c;
        }
    }
    return out;
}

std::string LiteralOutsideBraces(std::string_view text) {
    std::string out;
    std::size_t plainFrom = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        if (text[pos] != '{') {
            ++pos;
            continue;
        }
        // As the parser reads braces: the first character after "{" belongs to the name.
        std::size_t afterFirst = pos + 1;
        char32_t first = 0;
        std::size_t len = afterFirst < text.size() ? ::DecodeUtf8(text, afterFirst, first) : 0;
        std::size_t close = len ? text.find('}', afterFirst + len) : std::string_view::npos;
        if (close == std::string_view::npos) break;  // not a text that parses: the rest is plain
        out += LiteralKeys(text.substr(plainFrom, pos - plainFrom));
        out += text.substr(pos, close + 1 - pos);
        pos = plainFrom = close + 1;
    }
    out += LiteralKeys(text.substr(plainFrom));
    return out;
}
