// Control characters of texts from elsewhere replaced before they reach a terminal.
#include "base/shown_text.h"

#include <cstdint>

#include "base/utf8.h"

std::string ShownText(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t start = at;
        const char32_t character = Utf8Next(text, &at);
        if (character != UTF8_REPLACEMENT || text.substr(start, at - start) == "\xEF\xBF\xBD") {
            shown += IsControlCharacter(character) ? std::string_view("?")
                                                   : text.substr(start, at - start);
            continue;
        }
        // Not UTF-8: each byte is kept (a Latin-1 letter shows as it is), but a lone C1
        // byte is a control character on an 8-bit terminal.
        for (size_t i = start; i < at; ++i) {
            const auto byte = static_cast<uint8_t>(text[i]);
            shown += byte >= 0x80 && byte <= 0x9F ? '?' : static_cast<char>(byte);
        }
    }
    return shown;
}
