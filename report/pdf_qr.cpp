// The QR symbol of a PDF page, drawn module by module so that it needs no image.
#include <qrcodegen.h>

#include <cstdint>

#include "report/pdf_draw.h"

void Pdf_DrawQrCode(HPDF_Page page, const char* text, float x, float y, float size) {
    HPDF_Page_SetLineWidth(page, 1);
    HPDF_Page_SetRGBStroke(page, 1, 1, 1);
    HPDF_Page_SetRGBFill(page, 1, 1, 1);
    HPDF_Page_Rectangle(page, x, y, size, size);
    HPDF_Page_Fill(page);

    uint8_t symbol[qrcodegen_BUFFER_LEN_MAX];
    uint8_t scratch[qrcodegen_BUFFER_LEN_MAX];
    int modules = 0;
    if (qrcodegen_encodeText(text, scratch, symbol, qrcodegen_Ecc_MEDIUM, qrcodegen_VERSION_MIN,
                             qrcodegen_VERSION_MAX, qrcodegen_Mask_AUTO, true))
        modules = qrcodegen_getSize(symbol);
    if (modules > 0) {
        // Modules of a fractional size fill the square whatever the version; whole points
        // would leave large symbols with modules of no size at all.
        const float inner = size - 10;
        const float module = inner / static_cast<float>(modules);
        const float margin = (inner - static_cast<float>(modules) * module) / 2;
        bool dark = false;  // the fill is white from the square
        for (int row = 0; row < modules; ++row) {
            for (int column = 0; column < modules; ++column) {
                bool moduleDark = qrcodegen_getModule(symbol, column, row);
                // The fill changes only where the colour does: same page, fewer bytes.
                if (moduleDark != dark) {
                    float grey = moduleDark ? 0.0f : 1.0f;
                    HPDF_Page_SetRGBFill(page, grey, grey, grey);
                    dark = moduleDark;
                }
                HPDF_Page_Rectangle(page, x + 5 + margin + static_cast<float>(column) * module,
                                    y + 5 + margin + static_cast<float>(modules - 1 - row) * module,
                                    module, module);
                HPDF_Page_Fill(page);
            }
        }
    }
    HPDF_Page_SetRGBFill(page, 0, 0, 0);
}
