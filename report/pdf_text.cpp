// UTF-8 to the Windows Latin-1 encoding of the PDF's standard fonts.
#include "report/pdf_text.h"

#include <cstdint>

#include "report/utf8_repair.h"

namespace {

// The characters of bytes 80 to 9F; 0 where the encoding has none.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char ByteOf(char32_t character) {
    if (character >= 0x20 && character < 0x7F) return static_cast<char>(character);
    if (character >= 0xA0 && character <= 0xFF) return static_cast<char>(character);
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] != 0 && kHighControls[i] == character)
            return static_cast<char>(0x80 + i);
    return '?';
}

bool IsPlain(std::string_view text) {
    for (char byte : text)
        if (static_cast<uint8_t>(byte) < 0x20 || static_cast<uint8_t>(byte) >= 0x7F) return false;
    return true;
}

}  // namespace

std::string ToWinAnsi(std::string_view utf8) {
    if (IsPlain(utf8)) return std::string(utf8);
    // Well-formed from here on: every ill-formed piece is one U+FFFD, which shows as "?".
    const std::string text = RepairUtf8(utf8);
    std::string shown;
    shown.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        auto lead = static_cast<uint8_t>(text[at]);
        int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t character = length == 1   ? lead
                             : length == 2 ? lead & 0x1F
                             : length == 3 ? lead & 0x0F
                                           : lead & 0x07;
        for (int i = 1; i < length; ++i)
            character = (character << 6) | (static_cast<uint8_t>(text[at + i]) & 0x3F);
        shown += ByteOf(character);
        at += length;
    }
    return shown;
}
