// Texts from elsewhere shown on a terminal: control characters become "?", letters of
// every script stay.
#include "base/shown_text.h"

#include <gtest/gtest.h>

namespace {

TEST(ShownText, ReplacesEveryControlCharacterAndKeepsLetters) {
    const struct {
        std::string given, shown;
    } cases[] = {
        {"ledger.txt", "ledger.txt"},
        {"\x1b]52;c;ZXZpbA==\x07name", "?]52;c;ZXZpbA==?name"},  // clipboard write
        {"a\rb\nc\td\x7f"
         "e",
         "a?b?c?d?e"},
        {"\xc2\x9b"
         "31m",
         "?31m"},  // CSI as UTF-8 U+009B
        {"\x9b"
         "31m",
         "?31m"},                // CSI as a lone 8-bit byte
        {"caf\xe9", "caf\xe9"},  // Latin-1 letter, not UTF-8: kept
        {"\xce\xbb\xce\xbf\xce\xb3", "\xce\xbb\xce\xbf\xce\xb3"},  // Greek
        {"\xd0\xb6\xd1\x83", "\xd0\xb6\xd1\x83"},                  // Cyrillic
        {"\xe5\xb8\xb3\xe7\xb0\xbf", "\xe5\xb8\xb3\xe7\xb0\xbf"},  // Japanese
        {"\xc2\xa0nbsp", "\xc2\xa0nbsp"},                          // U+00A0 is no control character
        {"cut\xe5\xb8", "cut\xe5\xb8"},  // a cut sequence keeps its bytes above 0x9F
        {"cut\xe2\x80", "cut\xe2?"},     // ... and a lone 0x80 is shown as "?"
    };
    for (const auto& each : cases) EXPECT_EQ(ShownText(each.given), each.shown) << each.given;
}

}  // namespace
