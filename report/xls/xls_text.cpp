// UTF-8 to UTF-16 and the packed string forms of the workbook format.
#include "report/xls/xls_text.h"

#include <algorithm>

#include "base/utf8.h"

namespace xls {

namespace {

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
        char32_t point = Utf8Next(utf8, &at);
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
