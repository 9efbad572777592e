// The conversions at the program's edges: what is well-formed UTF-8, what each ill-formed form becomes,
// and what fits the code page.
#include <gtest/gtest.h>

#include "core/text/utf8.h"

namespace tarvel {
namespace {

struct Utf8Case {
    const char* name;
    std::string bytes;
    bool valid;
    std::u16string utf16; // what the program makes of it
};

const Utf8Case Utf8Cases[] = {
    {"ascii", "Hello", true, u"Hello"},
    {"two bytes",
     "\xC5\x81\xC3\xB3"
     "d\xC5\xBA",
     true, u"\u0141\u00F3d\u017A"},
    {"three bytes", "\xE6\x9D\xB1\xE4\xBA\xAC", true, u"\u6771\u4EAC"},
    {"four bytes: a surrogate pair", "\xF0\x9F\x98\x80", true, u"\U0001F600"},
    {"highest", "\xF4\x8F\xBF\xBF", true, u"\U0010FFFF"},
    {"overlong slash", "\xC0\xAF", false, u"\uFFFD\uFFFD"},
    {"overlong three", "\xE0\x80\xAF", false, u"\uFFFD\uFFFD\uFFFD"},
    {"encoded surrogate", "\xED\xA0\x80", false, u"\uFFFD\uFFFD\uFFFD"},
    {"past U+10FFFF", "\xF4\x90\x80\x80", false, u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"cut short at the end", "a\xE6\x9D", false, u"a\uFFFD\uFFFD"},
    {"lone continuation", "\x80z", false, u"\uFFFDz"},
    {"code page byte", "caf\xE9", false, u"caf\uFFFD"},
};

TEST(Utf8, EachFormIsJudgedAndConvertedWithoutLosingTheRest) {
    for (const Utf8Case& c : Utf8Cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsValidUtf8(c.bytes), c.valid);
        EXPECT_EQ(Utf8ToUtf16(c.bytes), c.utf16);
        if (c.valid) {
            EXPECT_EQ(Utf16ToUtf8(c.utf16), c.bytes);
        }
    }
}

TEST(Utf8, ALoneSurrogateFromWindowsBecomesTheReplacementCharacter) {
    EXPECT_EQ(Utf16ToUtf8(u"a\xD800"
                          "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xDC00')), "\xEF\xBF\xBD");
}

// The native build's code page is windows-1252; under Wine the tests start in en_US, which is 1252 too.
TEST(CodePage, TextThatFitsRoundTripsAndTextThatDoesNotIsRefused) {
    const struct {
        std::string utf8;
        std::optional<std::string> ansi;
    } cases[] = {
        {"plain", "plain"},
        {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xE9 \x80"},
        {"\xC5\x81\xC3\xB3"
         "d\xC5\xBA",
         std::nullopt},             // Łódź: Ł and ź are not in 1252
        {"\xD0\x9E", std::nullopt}, // Cyrillic O
        {"bad \xC0\xAF", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(Utf8ToCodePage(c.utf8), c.ansi);
        if (c.ansi) {
            EXPECT_EQ(CodePageToUtf8(*c.ansi), c.utf8);
        }
    }
}

} // namespace
} // namespace tarvel
