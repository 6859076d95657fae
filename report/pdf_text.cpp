// Text for the PDF's fonts: UTF-8 for the embedded Unicode fonts, the Windows Latin-1
// encoding for the standard fonts, and texts cut to fit a width.
#include "report/pdf_text.h"

#include <cstdint>
#include <vector>

#include "base/utf8.h"
#include "report/pdf_draw.h"

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

constexpr char kEllipsisUtf8[] = "\u2026";
constexpr char kEllipsisWinAnsi[] = "\x85";

}  // namespace

std::string ToWinAnsi(std::string_view utf8) {
    if (IsPlain(utf8)) return std::string(utf8);
    std::string shown;
    shown.reserve(utf8.size());
    size_t at = 0;
    while (at < utf8.size()) shown += ByteOf(Utf8Next(utf8, &at));  // U+FFFD shows as "?"
    return shown;
}

std::string ShownText(const ReportPdf* pdf, std::string_view utf8) {
    if (!pdf->unicode) return ToWinAnsi(utf8);
    if (IsPlain(utf8)) return std::string(utf8);
    std::string shown;
    shown.reserve(utf8.size());
    size_t at = 0;
    while (at < utf8.size()) {
        char32_t character = Utf8Next(utf8, &at);
        if (IsControlCharacter(character))
            shown += '?';
        else
            Utf8Append(&shown, character);
    }
    return shown;
}

std::string FitText(ReportPdf* pdf, HPDF_Page page, std::string shown, float width) {
    if (TextWidthOf(pdf, page, shown) <= width) return shown;
    const char* ellipsis = pdf->unicode ? kEllipsisUtf8 : kEllipsisWinAnsi;
    // The places a cut may fall: after each character (each byte for WinAnsi).
    std::vector<size_t> ends;
    for (size_t at = 0; at < shown.size();) {
        if (pdf->unicode)
            Utf8Next(shown, &at);
        else
            ++at;
        ends.push_back(at);
    }
    // The longest start that fits with the ellipsis after it: widths grow with the
    // length, so a binary search finds it.
    size_t low = 0, high = ends.size();  // low characters fit; more than high do not
    std::string candidate;
    while (low < high) {
        size_t middle = (low + high + 1) / 2;
        candidate.assign(shown, 0, ends[middle - 1]);
        candidate += ellipsis;
        if (TextWidthOf(pdf, page, candidate) <= width)
            low = middle;
        else
            high = middle - 1;
    }
    if (low == 0) return TextWidthOf(pdf, page, ellipsis) <= width ? ellipsis : "";
    std::string fitted(shown, 0, ends[low - 1]);
    // No blank just before the ellipsis.
    while (!fitted.empty() && fitted.back() == ' ') fitted.pop_back();
    return fitted + ellipsis;
}

void ShowInColumn(ReportPdf* pdf, HPDF_Page page, float x, float y, const std::string& shown,
                  float room, bool right) {
    const float width = TextWidthOf(pdf, page, shown);
    if (width <= room) {
        ShowTextAt(pdf, page, right ? x + room - width : x, y, shown);
        return;
    }
    if (!right || room <= 0) {
        ShowTextAt(pdf, page, x, y, FitText(pdf, page, shown, room));
        return;
    }
    // The squeeze is part of the page's text state: it is undone after this text.
    HPDF_Page_SetHorizontalScalling(page, 100 * room / width);
    ShowTextAt(pdf, page, x, y, shown);
    HPDF_Page_SetHorizontalScalling(page, 100);
}
