// UTF-8 to UTF-16 and the packed string forms of the workbook format.
#include "report/xls_text.h"

#include <algorithm>

namespace xls {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// One code point from text at *at, advancing *at; U+FFFD when the bytes there do not
// begin a well-formed sequence.
char32_t NextCodePoint(std::string_view text, size_t* at) {
    auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    uint8_t lead = byte(*at);
    if (lead < 0x80) {
        ++*at;
        return lead;
    }
    int length;
    char32_t value;
    uint8_t low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        ++*at;
        return kReplacement;
    }
    // A sequence cut short or broken off counts once: the lead and the continuation
    // bytes that were valid so far become one U+FFFD.
    for (int i = 1; i < length; ++i) {
        if (*at + i >= text.size()) {
            *at += i;
            return kReplacement;
        }
        uint8_t next = byte(*at + i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) {
            *at += i;
            return kReplacement;
        }
        value = value << 6 | (next & 0x3F);
    }
    *at += length;
    return value;
}

std::string Pack(const std::u16string& text, bool shortCount) {
    bool wide = false;
    for (char16_t unit : text) wide = wide || unit > 0xFF;
    std::string packed;
    packed.reserve(3 + text.size() * (wide ? 2 : 1));
    packed += static_cast<char>(text.size() & 0xFF);
    if (!shortCount) packed += static_cast<char>(text.size() >> 8);
    packed += static_cast<char>(wide ? 1 : 0);
    for (char16_t unit : text) {
        packed += static_cast<char>(unit & 0xFF);
        if (wide) packed += static_cast<char>(unit >> 8);
    }
    return packed;
}

}  // namespace

std::u16string Utf16FromUtf8(std::string_view utf8, size_t maxUnits) {
    std::u16string text;
    text.reserve(std::min(utf8.size(), maxUnits));
    size_t at = 0;
    while (at < utf8.size()) {
        char32_t point = NextCodePoint(utf8, &at);
        if (point < 0x10000) {
            if (text.size() + 1 > maxUnits) break;
            text += static_cast<char16_t>(point);
        } else {
            if (text.size() + 2 > maxUnits) break;
            point -= 0x10000;
            text += static_cast<char16_t>(0xD800 + (point >> 10));
            text += static_cast<char16_t>(0xDC00 + (point & 0x3FF));
        }
    }
    return text;
}

std::string PackText(const std::u16string& text) {
    return Pack(text, false);
}

std::string PackShortText(const std::u16string& text) {
    return Pack(text, true);
}

}  // namespace xls
