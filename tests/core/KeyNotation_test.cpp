#include "core/KeyNotation.h"
#include "core/Utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One stroke as text: held modifiers (+ ^ % in that order), then the character or {NAME}.
std::string Show(const KeyStroke& k) {
    std::string s;
    if (k.shift) s += '+';
    if (k.ctrl) s += '^';
    if (k.alt) s += '%';
    if (k.key != NamedKey::None) {
        s += std::string("{") + NamedKeyName(k.key) + "}";
        if (k.ch != 0) s += "!ch";  // a stroke must be one or the other
    } else {
        s += k.ch == 0 ? std::string("!empty") : Utf8(k.ch);
    }
    return s;
}

std::vector<std::string> Strokes(const std::string& text) {
    KeyParseResult r = ParseKeys(text);
    EXPECT_TRUE(r.ok()) << "text: " << text << " error: " << r.error;
    std::vector<std::string> out;
    for (const KeyStroke& k : r.strokes) out.push_back(Show(k));
    return out;
}

struct Case {
    std::string text;
    std::vector<std::string> strokes;
};

void ExpectAll(const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(Strokes(c.text), c.strokes) << "text: " << c.text;
}

TEST(KeyNotation, PlainTextTypesEveryCharacterAsItself) {
    ExpectAll({
        {"", {}},
        {"ab", {"a", "b"}},
        {"Ab1", {"A", "b", "1"}},
        {"山田太郎", {"山", "田", "太", "郎"}},
        {"ｷｬﾝｾﾙ", {"ｷ", "ｬ", "ﾝ", "ｾ", "ﾙ"}},
        {"１２３　", {"１", "２", "３", "　"}},
        {"a b", {"a", " ", "b"}},
        {"é😀", {"é", "😀"}},
        {"taro@example.jp",
         {"t", "a", "r", "o", "@", "e", "x", "a", "m", "p", "l", "e", ".", "j", "p"}},
        // Square brackets and other punctuation need no braces.
        {"[x]-_=!?\"'#$&*/\\|<>;:,.`",
         {"[", "x", "]", "-",  "_", "=", "!", "?", "\"", "'", "#", "$",
          "&", "*", "/", "\\", "|", "<", ">", ";", ":",  ",", ".", "`"}},
        {"a\tb\nc", {"a", "\t", "b", "\n", "c"}},
    });
}

TEST(KeyNotation, ModifiersHoldForTheNextKeyOrGroup) {
    ExpectAll({
        {"a+b", {"a", "+b"}},
        {"^c", {"^c"}},
        {"%f", {"%f"}},
        {"+^a", {"+^a"}},
        {"^+a", {"+^a"}},
        {"%^+x", {"+^%x"}},
        {"++a", {"+a"}},
        {"+ab", {"+a", "b"}},
        {"+山", {"+山"}},
        {"+(ab)c", {"+a", "+b", "c"}},
        {"(ab)", {"a", "b"}},
        {"^(a+(b)c)d", {"^a", "+^b", "^c", "d"}},
        {"+(a%b)", {"+a", "+%b"}},
        {"((a))", {"a"}},
        {"+~", {"+{ENTER}"}},
        {"+(~)", {"+{ENTER}"}},
        {"^{TAB}", {"^{TAB}"}},
        {"+{a 3}", {"+a", "+a", "+a"}},
        {"^{+}", {"^+"}},
        {"+({(}x{)})", {"+(", "+x", "+)"}},
        {"+ ", {"+ "}},
    });
}

TEST(KeyNotation, TildeAndNamedKeysInAnyLetterCase) {
    ExpectAll({
        {"~", {"{ENTER}"}},
        {"a~b", {"a", "{ENTER}", "b"}},
        {"(~~)", {"{ENTER}", "{ENTER}"}},
        {"{TAB}", {"{TAB}"}},
        {"{tab}", {"{TAB}"}},
        {"{Tab}", {"{TAB}"}},
        {"{enter}", {"{ENTER}"}},
        {"{BS}{bksp}{BackSpace}", {"{BACKSPACE}", "{BACKSPACE}", "{BACKSPACE}"}},
        {"{del}{DELETE}", {"{DELETE}", "{DELETE}"}},
        {"{ins}{Insert}", {"{INSERT}", "{INSERT}"}},
        {"{esc}{break}{capslock}{help}{home}{end}",
         {"{ESC}", "{BREAK}", "{CAPSLOCK}", "{HELP}", "{HOME}", "{END}"}},
        {"{up}{down}{left}{right}", {"{UP}", "{DOWN}", "{LEFT}", "{RIGHT}"}},
        {"{pgup}{PGDN}{numlock}{scrolllock}{prtsc}",
         {"{PGUP}", "{PGDN}", "{NUMLOCK}", "{SCROLLLOCK}", "{PRTSC}"}},
        {"{F1}{f9}{F10}{f16}", {"{F1}", "{F9}", "{F10}", "{F16}"}},
        // The keypad's operators, not the characters + - * /.
        {"{ADD}{subtract}{Multiply}{divide}", {"{ADD}", "{SUBTRACT}", "{MULTIPLY}", "{DIVIDE}"}},
        {"1{ADD}2", {"1", "{ADD}", "2"}},
        {"一{TAB}二", {"一", "{TAB}", "二"}},
    });
}

TEST(KeyNotation, EveryNamedKeyHasANameThatParsesBackToIt) {
    for (int i = static_cast<int>(NamedKey::Backspace);
         i <= static_cast<int>(NamedKey::KeypadDivide); ++i) {
        NamedKey key = static_cast<NamedKey>(i);
        std::string name = NamedKeyName(key);
        ASSERT_FALSE(name.empty()) << i;
        KeyParseResult r = ParseKeys("{" + name + "}");
        ASSERT_TRUE(r.ok()) << name << ": " << r.error;
        ASSERT_EQ(r.strokes.size(), 1u) << name;
        EXPECT_EQ(r.strokes[0].key, key) << name;
    }
    EXPECT_STREQ(NamedKeyName(NamedKey::None), "");
}

TEST(KeyNotation, BracesTypeTheCharacterItself) {
    ExpectAll({
        {"{+}{^}{%}{~}", {"+", "^", "%", "~"}},
        {"{(}{)}", {"(", ")"}},
        {"{{}", {"{"}},
        {"{}}", {"}"}},
        {"{[}{]}", {"[", "]"}},
        {"{a}{Z}{1}", {"a", "Z", "1"}},
        {"{あ}", {"あ"}},
        {"{ }", {" "}},
        {"{}}{{}", {"}", "{"}},
        {"a{}}b", {"a", "}", "b"}},
    });
}

TEST(KeyNotation, CountsRepeatKeysAndCharacters) {
    ExpectAll({
        {"{TAB 3}", {"{TAB}", "{TAB}", "{TAB}"}},
        {"{tab 1}", {"{TAB}"}},
        {"{BS 010}", std::vector<std::string>(10, "{BACKSPACE}")},
        {"{a 2}", {"a", "a"}},
        {"{あ 2}", {"あ", "あ"}},
        {"{} 2}", {"}", "}"}},
        {"{{ 2}", {"{", "{"}},
        {"{+ 2}", {"+", "+"}},
        {"{  3}", {" ", " ", " "}},
        {"{F12 2}", {"{F12}", "{F12}"}},
        {"{ADD 3}", {"{ADD}", "{ADD}", "{ADD}"}},
        {"+{divide 2}", {"+{DIVIDE}", "+{DIVIDE}"}},
    });
    KeyParseResult most = ParseKeys("{x " + std::to_string(kMaxKeyRepeat) + "}");
    ASSERT_TRUE(most.ok()) << most.error;
    EXPECT_EQ(most.strokes.size(), static_cast<std::size_t>(kMaxKeyRepeat));
}

struct BadCase {
    std::string text;
    std::size_t pos;   // byte offset of the problem
    std::string says;  // a piece of the message that names the problem
};

TEST(KeyNotation, MalformedTextIsAnErrorWithItsPlaceAndNoStrokes) {
    const std::string over = std::to_string(kMaxKeyRepeat + 1);
    const std::vector<BadCase> cases = {
        // Stray closers.
        {"}", 0, "1 文字目の「}」に対応する「{」がありません"},
        {"ab}c", 2, "3 文字目の「}」"},
        {"ab)", 2, "3 文字目の「)」に対応する「(」がありません"},
        {"(a))", 3, "4 文字目の「)」"},
        // Unclosed openers.
        {"{TAB", 0, "1 文字目の「{」が閉じられていません"},
        {"{", 0, "閉じられていません"},
        {"{}", 0, "閉じられていません"},
        {"ab{", 2, "3 文字目の「{」"},
        {"(ab", 0, "1 文字目の「(」が閉じられていません"},
        {"x(a(b)", 1, "2 文字目の「(」"},
        // Names.
        {"{FOO}", 0, "「{FOO}」は使えないキー名です"},
        {"ab{TABB}", 2, "「{TABB}」"},
        {"{F17}", 0, "「{F17}」"},
        {"{F0}", 0, "「{F0}」"},
        {"{ab}", 0, "「{ab}」"},
        {"{ 3}", 0, "「{ 3}」"},
        {"{あい}", 0, "「{あい}」"},
        {"{TAB3}", 0, "「{TAB3}」"},
        // Counts.
        {"{TAB 0}", 0, "「{TAB 0}」の回数が正しくありません"},
        {"{TAB " + over + "}", 0, "回数が正しくありません"},
        {"{TAB 99999999999999999999}", 0, "回数が正しくありません"},
        {"{TAB x}", 0, "回数が正しくありません"},
        {"{TAB -1}", 0, "回数が正しくありません"},
        {"{TAB }", 0, "回数が正しくありません"},
        {"{TAB  3}", 0, "回数が正しくありません"},
        {"{TAB 3 4}", 0, "回数が正しくありません"},
        {"{a 1.5}", 0, "回数が正しくありません"},
        // Modifiers with nothing after them.
        {"+", 0, "1 文字目の「+」の後に押すキーがありません"},
        {"ab^", 2, "3 文字目の「^」"},
        {"a+^%", 1, "「+^%」の後に押すキーがありません"},
        {"(a+)", 2, "3 文字目の「+」"},
        // Empty groups.
        {"()", 0, "「()」の中に押すキーがありません"},
        {"+()", 1, "2 文字目の「()」"},
        {"(())", 1, "「()」"},
        // Bytes that are not UTF-8, and NUL.
        {"\xff", 0, "UTF-8"},
        {"ab\xc3", 2, "3 文字目に文字として読めないバイト"},
        {"\xc0\xaf", 0, "UTF-8"},          // overlong "/"
        {"\xe0\x80\xaf", 0, "UTF-8"},      // overlong, three bytes
        {"\xed\xa0\x80", 0, "UTF-8"},      // a surrogate
        {"\xf4\x90\x80\x80", 0, "UTF-8"},  // above U+10FFFF
        {"\xf8\x88\x80\x80\x80", 0, "UTF-8"},
        {"\x80", 0, "UTF-8"},
        {"\xe3\x81", 0, "UTF-8"},  // truncated あ
        {"{\xff}", 1, "UTF-8"},
        {"{a\xff}", 2, "UTF-8"},
        {"{TAB \xe3\x81}", 5, "UTF-8"},
        {std::string("a\0b", 3), 1, "2 文字目に入力できない文字"},
        {std::string("{\0}", 3), 1, "NUL"},
        {std::string("{a \0}", 5), 3, "NUL"},
        // Character positions count characters, not bytes.
        {"山田}", 6, "3 文字目"},
        {"お名前{XX}", 9, "4 文字目"},
    };
    for (const BadCase& c : cases) {
        KeyParseResult r = ParseKeys(c.text);
        EXPECT_FALSE(r.ok()) << "text: " << c.text;
        EXPECT_TRUE(r.strokes.empty()) << "text: " << c.text;
        EXPECT_EQ(r.errorPos, c.pos) << "text: " << c.text << " error: " << r.error;
        EXPECT_NE(r.error.find(c.says), std::string::npos)
            << "text: " << c.text << "\n error: " << r.error << "\n wanted: " << c.says;
    }
}

TEST(KeyNotation, AnErrorLateInALongTextStillTypesNothing) {
    std::string text(5000, 'a');
    text += "{TAB 3}~+(xy)";
    ASSERT_TRUE(ParseKeys(text).ok());
    KeyParseResult r = ParseKeys(text + "{NOPE}");
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.strokes.empty());
    EXPECT_EQ(r.errorPos, text.size());
}

TEST(KeyNotation, MessagesTellHowToTypeTheSpecialCharacters) {
    EXPECT_NE(ParseKeys("a}").error.find("{}}"), std::string::npos);
    EXPECT_NE(ParseKeys("a)").error.find("{)}"), std::string::npos);
    EXPECT_NE(ParseKeys("a{").error.find("{{}"), std::string::npos);
    EXPECT_NE(ParseKeys("(a").error.find("{(}"), std::string::npos);
    EXPECT_NE(ParseKeys("1+").error.find("{+}"), std::string::npos);
}

TEST(KeyNotation, DeepNestingIsHandledWithoutRecursion) {
    const int depth = 200000;
    std::string text(depth, '(');
    text += "+a";
    text += std::string(depth, ')');
    KeyParseResult r = ParseKeys(text);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.strokes.size(), 1u);
    EXPECT_TRUE(r.strokes[0].shift);
    EXPECT_EQ(r.strokes[0].ch, U'a');
}

// A keyboard that has 1 ! and a A on its keys.
char32_t ShiftedOf(char32_t c) {
    return c == U'1' ? U'!' : c == U'a' ? U'A' : 0;
}

// What a desktop sends for a text on that keyboard.
std::vector<std::string> Sent(const std::string& text) {
    KeyParseResult r = ParseKeys(text);
    EXPECT_TRUE(r.ok()) << "text: " << text << " error: " << r.error;
    std::vector<std::string> out;
    for (const KeyStroke& k : StrokesToSend(r.strokes, ShiftedOf).strokes) out.push_back(Show(k));
    return out;
}

TEST(KeysToSend, LineBreaksAndTabsAreKeysAndOtherControlCharactersAreDropped) {
    const std::vector<Case> cases = {
        {"a\nb\rc", {"a", "{ENTER}", "b", "{ENTER}", "c"}},
        {"一\t二", {"一", "{TAB}", "二"}},
        {"+\t^\n%{\r}", {"+{TAB}", "^{ENTER}", "%{ENTER}"}},
        {"a\x01\x1b\x7f"
         "b^\x03",
         {"a", "b"}},
        // C1 controls and everything above are characters.
        {"\u0085é", {"\u0085", "é"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Sent(c.text), c.strokes) << "text: " << c.text;
}

TEST(KeysToSend, ShiftWithACharacterTypesTheShiftedCharacterAndShortcutsKeepTheirModifiers) {
    const std::vector<Case> cases = {
        // The keyboard's own shifted character first, then the capital, else the character.
        {"+1+a+q+Q+あ+(bc)", {"!", "A", "Q", "Q", "あ", "B", "C"}},
        {"+2", {"2"}},
        {"^c^+c%+1+^%a", {"^c", "+^c", "+%1", "+^%a"}},
        {"+{TAB}+{F5}+~", {"+{TAB}", "+{F5}", "+{ENTER}"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Sent(c.text), c.strokes) << "text: " << c.text;
}

// Typing that stops early reports the parsed strokes dealt with; dropped ones before the stop
// count, so that a text ending in a control character is typed in full.
TEST(KeysToSend, HandledCountsParsedStrokesUpToTheFirstNotSent) {
    KeyParseResult r = ParseKeys(
        "\x01"
        "a\x02\x03"
        "b\x04");
    ASSERT_TRUE(r.ok()) << r.error;
    KeysToSend keys = StrokesToSend(r.strokes, nullptr);
    ASSERT_EQ(keys.strokes.size(), 2u);
    EXPECT_EQ(keys.Handled(0), 1u);
    EXPECT_EQ(keys.Handled(1), 4u);
    EXPECT_EQ(keys.Handled(2), 6u);
    EXPECT_EQ(StrokesToSend({}, nullptr).Handled(0), 0u);
}

std::size_t CharLength(const std::string& s, std::size_t at) {
    char32_t cp = 0;
    return DecodeUtf8(s, at, cp);
}

// A reading cut into what each stroke shows: a bracketed token, or one character.
std::vector<std::string> Units(const std::string& read) {
    std::vector<std::string> out;
    const std::string open = "［", close = "］";
    for (std::size_t i = 0; i < read.size();) {
        std::size_t end = read.compare(i, open.size(), open) == 0
                              ? read.find(close, i) + close.size()
                              : i + CharLength(read, i);
        out.push_back(read.substr(i, end - i));
        i = end;
    }
    return out;
}

// What the user is shown is what the desktop sends, on the same keyboard: each sent character
// as itself, each key or shortcut as one bracketed token.
TEST(TypedAsRead, ReadsAsTheSentStrokes) {
    const std::pair<std::string, std::string> cases[] = {
        {"山田 太郎", "山田 太郎"},
        {"taro+shop@example.com", "taroShop@example.com"},
        {"http://example.jp/~taro", "http://example.jp/［Enter］taro"},
        {"(03)1234-5678", "031234-5678"},
        {"+1+a+2+(bc)", "!A2BC"},
        {"一{TAB}二~", "一［Tab］二［Enter］"},
        {"^c^+v%{F4}+{TAB}{LEFT 2}{ADD}",
         "［Ctrl+C］［Ctrl+Shift+V］［Alt+F4］［Shift+Tab］［←］［←］［テンキー+］"},
        {"a\nb\x01"
         "c\td",
         "a［Enter］bc［Tab］d"},
        {"{+}{^}{%}{~}{(}{)}{{}{}}{[}{]}", "+^%~(){}[]"},
        {"", ""},
    };
    for (const auto& [text, read] : cases) {
        EXPECT_EQ(TypedAsRead(text, ShiftedOf), read) << "text: " << text;
        const std::vector<std::string> sent = Sent(text), units = Units(read);
        ASSERT_EQ(units.size(), sent.size()) << "text: " << text;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            // A character sent alone shows as itself; a key or a shortcut as +x, ^x, {NAME}.
            const bool plain = CharLength(sent[i], 0) == sent[i].size();
            EXPECT_EQ(plain ? units[i] : units[i].substr(0, 3), plain ? sent[i] : "［")
                << "text: " << text << " stroke " << i;
        }
    }
    EXPECT_EQ(TypedAsRead("{TAB", ShiftedOf), "") << "a text that does not parse types nothing";
}

TEST(LiteralKeys, TypesThePlainTextExactly) {
    const std::string plain = "taro+shop@example.com ~(1)^2% {x} [y] 山田\u3000太郎";
    const std::string written = LiteralKeys(plain);
    EXPECT_EQ(written, "taro{+}shop@example.com {~}{(}1{)}{^}2{%} {{}x{}} {[}y{]} 山田\u3000太郎");
    KeyParseResult r = ParseKeys(written);
    ASSERT_TRUE(r.ok()) << r.error;
    std::string typed;
    for (const KeyStroke& k : r.strokes) {
        EXPECT_EQ(k, (KeyStroke{k.ch, NamedKey::None})) << "no key, no modifier";
        AppendUtf8(typed, k.ch);
    }
    EXPECT_EQ(typed, plain);
    EXPECT_EQ(LiteralKeys(""), "");
}

// The offer made for a text whose + or ~ may have been meant as a character: the {…} keys stay,
// everything else types as it is written.
TEST(LiteralKeys, OutsideBracesKeepsTheNamedKeys) {
    const std::pair<std::string, std::string> cases[] = {
        {"taro+shop@example.com{TAB}pass~", "taro{+}shop@example.com{TAB}pass{~}"},
        {"{}}{{}(a){TAB 3}", "{}}{{}{(}a{)}{TAB 3}"},
        {"{+}+", "{+}{+}"},
        {"{あ 2}^", "{あ 2}{^}"},
        {"plain", "plain"},
    };
    for (const auto& [text, written] : cases) {
        EXPECT_EQ(LiteralOutsideBraces(text), written) << "text: " << text;
        ASSERT_TRUE(ParseKeys(written).ok()) << written;
    }
    EXPECT_EQ(TypedAsRead(LiteralOutsideBraces("a+b{TAB}(c)~"), nullptr), "a+b［Tab］(c)~");
}

}  // namespace
