// The UTF-8 decoder, repair and cut.
#include "base/utf8.h"

#include <cstdint>

namespace {

// The length of a sequence that lead begins and the range of its second byte; length
// 0 when lead begins no sequence.
struct Lead {
    int length;
    uint8_t low;
    uint8_t high;
    char32_t bits;
};

Lead LeadOf(uint8_t byte) {
    if (byte < 0x80) return {1, 0, 0, byte};
    if (byte >= 0xC2 && byte <= 0xDF) return {2, 0x80, 0xBF, static_cast<char32_t>(byte & 0x1F)};
    if (byte == 0xE0) return {3, 0xA0, 0xBF, 0};
    if (byte == 0xED) return {3, 0x80, 0x9F, 0x0D};  // no surrogates
    if (byte >= 0xE1 && byte <= 0xEF) return {3, 0x80, 0xBF, static_cast<char32_t>(byte & 0x0F)};
    if (byte == 0xF0) return {4, 0x90, 0xBF, 0};
    if (byte >= 0xF1 && byte <= 0xF3) return {4, 0x80, 0xBF, static_cast<char32_t>(byte & 0x07)};
    if (byte == 0xF4) return {4, 0x80, 0x8F, 0x04};  // nothing past U+10FFFF
    return {0, 0, 0, 0};
}

}  // namespace

char32_t Utf8Next(std::string_view text, size_t* at) {
    const Lead lead = LeadOf(static_cast<uint8_t>(text[*at]));
    if (lead.length == 0) {
        ++*at;
        return UTF8_REPLACEMENT;
    }
    char32_t value = lead.bits;
    for (int i = 1; i < lead.length; ++i) {
        if (*at + i >= text.size()) {
            *at += i;
            return UTF8_REPLACEMENT;
        }
        auto byte = static_cast<uint8_t>(text[*at + i]);
        if (byte < (i == 1 ? lead.low : 0x80) || byte > (i == 1 ? lead.high : 0xBF)) {
            *at += i;
            return UTF8_REPLACEMENT;
        }
        value = value << 6 | (byte & 0x3F);
    }
    *at += lead.length;
    return value;
}

void Utf8Append(std::string* out, char32_t character) {
    if (character < 0x80) {
        out->push_back(static_cast<char>(character));
    } else if (character < 0x800) {
        out->push_back(static_cast<char>(0xC0 | character >> 6));
        out->push_back(static_cast<char>(0x80 | (character & 0x3F)));
    } else if (character < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | character >> 12));
        out->push_back(static_cast<char>(0x80 | ((character >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (character & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | character >> 18));
        out->push_back(static_cast<char>(0x80 | ((character >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((character >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (character & 0x3F)));
    }
}

bool IsUtf8(std::string_view bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        if (static_cast<uint8_t>(bytes[at]) < 0x80) {
            ++at;
            continue;
        }
        size_t start = at;
        if (Utf8Next(bytes, &at) == UTF8_REPLACEMENT &&
            bytes.substr(start, at - start) != "\xEF\xBF\xBD")
            return false;
    }
    return true;
}

std::string RepairUtf8(std::string_view bytes) {
    if (IsUtf8(bytes)) return std::string(bytes);
    std::string text;
    text.reserve(bytes.size() + 8);
    size_t at = 0;
    while (at < bytes.size()) {
        size_t start = at;
        char32_t character = Utf8Next(bytes, &at);
        if (character == UTF8_REPLACEMENT)
            Utf8Append(&text, UTF8_REPLACEMENT);
        else
            text.append(bytes.substr(start, at - start));
    }
    return text;
}

size_t Utf8CutLength(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    size_t at = 0, end = 0;
    while (at < text.size()) {
        Utf8Next(text, &at);
        if (at > maxBytes) break;
        end = at;
    }
    return end;
}

size_t DisplayWidth(std::string_view text) {
    size_t columns = 0, at = 0;
    while (at < text.size()) columns += static_cast<size_t>(DisplayColumns(Utf8Next(text, &at)));
    return columns;
}
