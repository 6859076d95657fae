// The UTF-8 decoder: ill-formed pieces, repair, cuts at character boundaries and the
// terminal columns of characters in several scripts.
#include "base/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Utf8Repair, IllFormedPiecesBecomeOneReplacementEach) {
    const std::string r = "\xEF\xBF\xBD";
    struct Case {
        std::string in, out;
    } cases[] = {
        {"plain ASCII", "plain ASCII"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"caf\xE9", "caf" + r},
        {"\xE2\x82x", r + "x"},
        {"\xC0\xAF", r + r},
        {"\xED\xA0\x80", r + r + r},
        {"\xF4\x90\x80\x80", r + r + r + r},
        {"\xF0\x9F\x98", r},
        {"\xFF\xFE", r + r},
        {"\x80", r},
        {r, r},  // a replacement character already there is well-formed
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RepairUtf8(c.in), c.out);
        EXPECT_EQ(IsUtf8(c.in), c.in == c.out);
    }
}

TEST(Utf8Next, DecodesEveryLengthAndAppendRoundTrips) {
    const std::u32string characters = {U'A', U'é', U'Ω', U'Ж', U'東', U'€', U'\U0001F600'};
    std::string text;
    for (char32_t c : characters) Utf8Append(&text, c);
    EXPECT_EQ(text, "Aé\u03A9Ж東€\U0001F600");
    size_t at = 0;
    std::u32string back;
    while (at < text.size()) back += Utf8Next(text, &at);
    EXPECT_EQ(back, characters);
}

// A cut never leaves the lead of a character without its continuation bytes.
TEST(Utf8Cut, EndsAtACharacterBoundary) {
    const std::string tokyo = "（東京本社";  // 3 bytes each
    EXPECT_EQ(Utf8CutLength(tokyo, 16), 15u);
    EXPECT_EQ(Utf8CutLength(tokyo, 14), 12u);
    EXPECT_EQ(Utf8CutLength(tokyo, 2), 0u);
    EXPECT_EQ(Utf8CutLength("Müller", 2), 1u);
    EXPECT_EQ(Utf8CutLength("Müller", 3), 3u);
    EXPECT_EQ(Utf8CutLength("abc", 10), 3u);
    // An ill-formed piece counts as one unit: the cut may fall after it, not inside it.
    EXPECT_EQ(Utf8CutLength("a\xE2\x82"
                            "bc",
                            3),
              3u);
}

TEST(DisplayWidth, CombiningMarksTakeNoColumnAndWideCharactersTwo) {
    struct Case {
        const char* text;
        size_t columns;
    } cases[] = {
        {"Muller", 6},
        {"Müller", 6},            // precomposed ü
        {"Mu\u0308ller", 6},      // u and a combining diaeresis
        {"Ελληνικά", 8},          // Greek
        {"Русский", 7},           // Cyrillic
        {"東京本社", 8},          // CJK ideographs
        {"ｶﾀｶﾅ", 4},              // half-width katakana
        {"ＡＢ", 4},              // full-width Latin
        {"한국어", 6},            // Hangul syllables
        {"\xF0\x9F\x98\x80", 2},  // an emoji
        {"a\u200Bb", 2},          // zero-width space
    };
    for (const Case& c : cases) EXPECT_EQ(DisplayWidth(c.text), c.columns) << c.text;
}

}  // namespace
