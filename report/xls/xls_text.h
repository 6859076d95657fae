// Text as the workbook format stores it: UTF-8 turned into UTF-16 and packed as the
// format's Unicode strings (a character count, an option byte, then the characters).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace xls {

// The UTF-16 form of UTF-8 text, at most maxUnits units long. What is not UTF-8 (stray
// continuation bytes, cut or overlong sequences, surrogates, values past U+10FFFF)
// becomes U+FFFD, once per maximal ill-formed piece as common decoders do. A cut never
// splits a character, nor a surrogate pair.
std::u16string Utf16FromUtf8(std::string_view utf8, size_t maxUnits);

// The packed form: the character count (16 bits), the option byte and the characters,
// one byte each when every unit fits in 8 bits, else two (little-endian).
std::string PackText(const std::u16string& text);

// The same with an 8-bit count, as sheet names and font names are stored.
std::string PackShortText(const std::u16string& text);

}  // namespace xls
