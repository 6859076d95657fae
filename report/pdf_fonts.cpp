// Finding the DejaVu fonts through fontconfig and loading them with the PDF library.
#include "report/pdf_fonts.h"

#include <fontconfig/fontconfig.h>
#include <hpdf.h>

#include <cstring>
#include <mutex>
#include <string>

#include "report/pdf_draw.h"

namespace {

struct FontFiles {
    std::string regular, bold, mono;
};

// The file of the font fontconfig gives for pattern, only when it is of family (the
// library always offers some other font when the one asked for is not installed) and a
// TrueType file of its own (not a collection, which the PDF library cannot take).
std::string FontFile(FcConfig* config, const char* pattern, const char* family) {
    FcPattern* wanted = FcNameParse(reinterpret_cast<const FcChar8*>(pattern));
    if (wanted == nullptr) return "";
    FcConfigSubstitute(config, wanted, FcMatchPattern);
    FcDefaultSubstitute(wanted);
    FcResult result = FcResultNoMatch;
    FcPattern* found = FcFontMatch(config, wanted, &result);
    FcPatternDestroy(wanted);
    if (found == nullptr) return "";
    std::string file;
    FcChar8* value = nullptr;
    FcChar8* format = nullptr;
    if (FcPatternGetString(found, FC_FAMILY, 0, &value) == FcResultMatch &&
        strcmp(reinterpret_cast<const char*>(value), family) == 0 &&
        FcPatternGetString(found, FC_FONTFORMAT, 0, &format) == FcResultMatch &&
        strcmp(reinterpret_cast<const char*>(format), "TrueType") == 0 &&
        FcPatternGetString(found, FC_FILE, 0, &value) == FcResultMatch) {
        file = reinterpret_cast<const char*>(value);
        if (file.size() < 4 || strcasecmp(file.c_str() + file.size() - 4, ".ttf") != 0)
            file.clear();
    }
    FcPatternDestroy(found);
    return file;
}

// Asked once per program: the fonts installed do not change while it runs.
const FontFiles& InstalledFonts() {
    static FontFiles files;
    static std::once_flag once;
    std::call_once(once, [] {
        FcConfig* config = FcInitLoadConfigAndFonts();
        if (config == nullptr) return;
        files.regular = FontFile(config, "DejaVu Sans:style=Book", "DejaVu Sans");
        files.bold = FontFile(config, "DejaVu Sans:style=Bold", "DejaVu Sans");
        files.mono = FontFile(config, "DejaVu Sans Mono:style=Book", "DejaVu Sans Mono");
        FcConfigDestroy(config);
    });
    return files;
}

HPDF_Font LoadFont(HPDF_Doc document, const std::string& file) {
    const char* name = HPDF_LoadTTFontFromFile(document, file.c_str(), HPDF_TRUE);
    return name != nullptr ? HPDF_GetFont(document, name, "UTF-8") : nullptr;
}

}  // namespace

bool Pdf_LoadUnicodeFonts(ReportPdf* pdf) {
    const FontFiles& files = InstalledFonts();
    if (files.regular.empty() || files.bold.empty() || files.mono.empty()) return false;
    HPDF_Doc document = DocumentOf(pdf);
    // A font the library cannot read is no error of the report: the standard fonts serve.
    pdf->quiet = true;
    bool loaded = HPDF_UseUTFEncodings(document) == HPDF_OK;
    HPDF_Font regular = loaded ? LoadFont(document, files.regular) : nullptr;
    HPDF_Font bold = regular != nullptr ? LoadFont(document, files.bold) : nullptr;
    HPDF_Font mono = bold != nullptr ? LoadFont(document, files.mono) : nullptr;
    pdf->quiet = false;
    if (mono == nullptr) return false;
    pdf->regularFont = regular;
    pdf->boldFont = bold;
    pdf->monoFont = mono;
    pdf->unicode = true;
    return true;
}
