// UTF-8 text, read one character at a time: the one decoder behind every place that
// repairs, measures, cuts or converts text (the reports' cells, the PDF's fonts, the
// workbook's strings).
//
// Ill-formed input counts as U+FFFD, once per maximal ill-formed piece as the Unicode
// standard recommends and common decoders do: a lead byte with the continuation bytes
// that were valid so far counts once when the sequence stops short; a byte that can
// begin nothing (80..BF alone, C0, C1, F5..FF) counts once per byte. Overlong forms,
// surrogates (ED A0..BF) and values above U+10FFFF are ill-formed.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

constexpr char32_t UTF8_REPLACEMENT = 0xFFFD;

// The character that begins at *at (before the end of text), advancing *at past it; U+FFFD
// for an ill-formed piece, with *at past that piece.
char32_t Utf8Next(std::string_view text, size_t* at);

// Appends the UTF-8 form of character (a scalar value) to out.
void Utf8Append(std::string* out, char32_t character);

// The text with every ill-formed piece replaced by U+FFFD (EF BF BD). Well-formed text,
// ASCII included, comes back unchanged.
std::string RepairUtf8(std::string_view bytes);

// Whether the text is well-formed UTF-8.
bool IsUtf8(std::string_view bytes);

// The length of the longest start of text, at most maxBytes long, that ends at a
// character boundary: a cut there never leaves part of a character behind.
size_t Utf8CutLength(std::string_view text, size_t maxBytes);

// The columns a character takes on a terminal: 0 for combining marks and other
// zero-width characters, 2 for East Asian wide and full-width characters, 1 otherwise.
// Control characters count 1 (the reports show them as "?").
int DisplayColumns(char32_t character);

// The columns of a whole text.
size_t DisplayWidth(std::string_view text);

// Whether a character is a C0 or C1 control character or DEL, which a report never
// writes as it is (it could move a terminal's cursor or start an escape sequence).
inline bool IsControlCharacter(char32_t character) {
    return character < 0x20 || (character >= 0x7F && character < 0xA0);
}
