// Finding the DejaVu fonts, and fonts for what they lack, through fontconfig, and loading
// them with the PDF library.
#include "report/pdf_fonts.h"

#include <fontconfig/fontconfig.h>

#include <cstring>
#include <mutex>
#include <string>

#include "base/utf8.h"
#include "report/pdf_draw.h"

namespace {

struct FontFile {
    std::string file;
    int index = 0;                 // the face in a font collection
    FcCharSet* charset = nullptr;  // the characters the font holds (kept for the program)
};

// What the program looks up once: the fonts installed do not change while it runs.
struct InstalledFonts {
    FontFile regular, bold, mono;
    std::vector<FontFile> others;  // TrueType fonts, the closest to DejaVu Sans first
};

bool IsTrueType(FcPattern* font, FontFile* out) {
    FcChar8* format = nullptr;
    FcChar8* file = nullptr;
    FcCharSet* charset = nullptr;
    int index = 0;
    if (FcPatternGetString(font, FC_FONTFORMAT, 0, &format) != FcResultMatch ||
        strcmp(reinterpret_cast<const char*>(format), "TrueType") != 0 ||
        FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch ||
        FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) != FcResultMatch)
        return false;
    FcPatternGetInteger(font, FC_INDEX, 0, &index);
    out->file = reinterpret_cast<const char*>(file);
    out->index = index;
    out->charset = FcCharSetCopy(charset);
    return true;
}

// The font fontconfig gives for pattern, only when it is of family (the library always
// offers some other font when the one asked for is not installed) and TrueType.
FontFile Find(FcConfig* config, const char* pattern, const char* family) {
    FontFile found;
    FcPattern* wanted = FcNameParse(reinterpret_cast<const FcChar8*>(pattern));
    if (wanted == nullptr) return found;
    FcConfigSubstitute(config, wanted, FcMatchPattern);
    FcDefaultSubstitute(wanted);
    FcResult result = FcResultNoMatch;
    FcPattern* font = FcFontMatch(config, wanted, &result);
    FcPatternDestroy(wanted);
    if (font == nullptr) return found;
    FcChar8* name = nullptr;
    if (FcPatternGetString(font, FC_FAMILY, 0, &name) == FcResultMatch &&
        strcmp(reinterpret_cast<const char*>(name), family) == 0)
        IsTrueType(font, &found);
    FcPatternDestroy(font);
    return found;
}

// Every TrueType font, sorted by how close it is to DejaVu Sans.
std::vector<FontFile> Others(FcConfig* config) {
    std::vector<FontFile> others;
    FcPattern* wanted = FcNameParse(reinterpret_cast<const FcChar8*>("DejaVu Sans"));
    if (wanted == nullptr) return others;
    FcConfigSubstitute(config, wanted, FcMatchPattern);
    FcDefaultSubstitute(wanted);
    FcResult result = FcResultNoMatch;
    FcFontSet* fonts = FcFontSort(config, wanted, FcFalse, nullptr, &result);
    FcPatternDestroy(wanted);
    if (fonts == nullptr) return others;
    for (int i = 0; i < fonts->nfont; ++i) {
        FontFile font;
        if (IsTrueType(fonts->fonts[i], &font)) others.push_back(font);
    }
    FcFontSetDestroy(fonts);
    return others;
}

const InstalledFonts& Installed() {
    static InstalledFonts fonts;
    static std::once_flag once;
    std::call_once(once, [] {
        FcConfig* config = FcInitLoadConfigAndFonts();
        if (config == nullptr) return;
        fonts.regular = Find(config, "DejaVu Sans:style=Book", "DejaVu Sans");
        fonts.bold = Find(config, "DejaVu Sans:style=Bold", "DejaVu Sans");
        fonts.mono = Find(config, "DejaVu Sans Mono:style=Book", "DejaVu Sans Mono");
        fonts.others = Others(config);
        FcConfigDestroy(config);
    });
    return fonts;
}

HPDF_Font Load(HPDF_Doc document, const FontFile& font) {
    const char* name =
        font.index == 0 && font.file.ends_with(".ttf")
            ? HPDF_LoadTTFontFromFile(document, font.file.c_str(), HPDF_TRUE)
            : HPDF_LoadTTFontFromFile2(document, font.file.c_str(),
                                       static_cast<HPDF_UINT>(font.index), HPDF_TRUE);
    return name != nullptr ? HPDF_GetFont(document, name, "UTF-8") : nullptr;
}

// The characters the document's font holds; none for a font that is not one of ours.
const FcCharSet* CharsetOf(const ReportPdf* pdf, HPDF_Font font) {
    const InstalledFonts& fonts = Installed();
    if (font == pdf->regularFont) return fonts.regular.charset;
    if (font == pdf->boldFont) return fonts.bold.charset;
    if (font == pdf->monoFont) return fonts.mono.charset;
    return nullptr;
}

// The font that draws a character font lacks, loaded into the document when first
// needed; none when no installed font has it (or it cannot be loaded).
HPDF_Font FindFallback(ReportPdf* pdf, char32_t character) {
    for (const FontFile& font : Installed().others) {
        if (!FcCharSetHasChar(font.charset, character)) continue;
        const std::string key = font.file + "#" + std::to_string(font.index);
        auto loaded = pdf->fallbackFonts.find(key);
        if (loaded != pdf->fallbackFonts.end()) return static_cast<HPDF_Font>(loaded->second);
        pdf->quiet = true;
        HPDF_Font handle = Load(DocumentOf(pdf), font);
        pdf->quiet = false;
        pdf->fallbackFonts[key] = handle;  // also a font that failed: it is not tried again
        if (handle != nullptr) return handle;
    }
    return nullptr;
}

// The same, asked once per character and document.
HPDF_Font FallbackFor(ReportPdf* pdf, char32_t character) {
    auto known = pdf->fontForCharacter.find(character);
    if (known != pdf->fontForCharacter.end()) return static_cast<HPDF_Font>(known->second);
    HPDF_Font font = FindFallback(pdf, character);
    pdf->fontForCharacter.emplace(character, font);
    return font;
}

}  // namespace

bool Pdf_LoadUnicodeFonts(ReportPdf* pdf) {
    const InstalledFonts& fonts = Installed();
    if (fonts.regular.charset == nullptr || fonts.bold.charset == nullptr ||
        fonts.mono.charset == nullptr)
        return false;
    HPDF_Doc document = DocumentOf(pdf);
    // A font the library cannot read is no error of the report: the standard fonts serve.
    pdf->quiet = true;
    bool loaded = HPDF_UseUTFEncodings(document) == HPDF_OK;
    HPDF_Font regular = loaded ? Load(document, fonts.regular) : nullptr;
    HPDF_Font bold = regular != nullptr ? Load(document, fonts.bold) : nullptr;
    HPDF_Font mono = bold != nullptr ? Load(document, fonts.mono) : nullptr;
    pdf->quiet = false;
    if (mono == nullptr) return false;
    pdf->regularFont = regular;
    pdf->boldFont = bold;
    pdf->monoFont = mono;
    pdf->unicode = true;
    return true;
}

std::vector<PdfRun> Pdf_FontRuns(ReportPdf* pdf, HPDF_Font font, const std::string& shown) {
    const FcCharSet* charset = pdf->unicode ? CharsetOf(pdf, font) : nullptr;
    bool plain = true;
    for (char byte : shown) plain = plain && static_cast<unsigned char>(byte) < 0x80;
    if (charset == nullptr || plain) return {{font, shown}};
    std::vector<PdfRun> runs;
    size_t at = 0;
    while (at < shown.size()) {
        size_t start = at;
        char32_t character = Utf8Next(shown, &at);
        // The library's UTF-8 encoder stops at U+FFFF and drops what lies beyond (emoji,
        // rare ideographs) without a trace: such a character shows as the replacement mark.
        std::string_view bytes = std::string_view(shown).substr(start, at - start);
        if (character > 0xFFFF) {
            character = UTF8_REPLACEMENT;
            bytes = "\xEF\xBF\xBD";
        }
        HPDF_Font drawing = font;
        if (!FcCharSetHasChar(const_cast<FcCharSet*>(charset), character)) {
            HPDF_Font other = FallbackFor(pdf, character);
            if (other != nullptr) drawing = other;
        }
        if (runs.empty() || runs.back().font != drawing) runs.push_back({drawing, ""});
        runs.back().text.append(bytes);
    }
    return runs;
}
