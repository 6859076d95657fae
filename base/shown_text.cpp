// Control characters of texts from elsewhere replaced before they reach a terminal.
#include "base/shown_text.h"

#include <cstdint>

namespace {

// The length of the well-formed UTF-8 sequence at text[at], or 0 when there is none.
size_t SequenceLength(std::string_view text, size_t at) {
    const auto lead = static_cast<uint8_t>(text[at]);
    size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                    : lead >= 0xE0                 ? 3
                    : lead >= 0xC2 && lead <= 0xDF ? 2
                                                   : 0;
    if (lead > 0xF4) length = 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<uint8_t>(text[at + i]) & 0xC0) != 0x80) return 0;
    return length;
}

}  // namespace

std::string ShownText(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const auto byte = static_cast<uint8_t>(text[at]);
        if (byte < 0x20 || byte == 0x7F) {
            shown += '?';
            ++at;
            continue;
        }
        if (byte < 0x80) {
            shown += static_cast<char>(byte);
            ++at;
            continue;
        }
        const size_t length = SequenceLength(text, at);
        if (length == 0) {
            // Not UTF-8: a lone C1 byte is a control character on an 8-bit terminal.
            shown += byte <= 0x9F ? '?' : static_cast<char>(byte);
            ++at;
            continue;
        }
        // U+0080 to U+009F are C2 80 to C2 9F.
        if (length == 2 && byte == 0xC2 && static_cast<uint8_t>(text[at + 1]) <= 0x9F)
            shown += '?';
        else
            shown.append(text.substr(at, length));
        at += length;
    }
    return shown;
}
