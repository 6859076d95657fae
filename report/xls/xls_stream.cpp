// The workbook stream: the global part (fonts, cell formats, the sheet index and the
// shared strings), then one part per sheet with its cells.
#include <algorithm>

#include "report/xls/xls_book_parts.h"
#include "report/xls/xls_records.h"
#include "report/xls/xls_text.h"

namespace xls {

namespace {

constexpr uint16_t kBiff8 = 0x0600;
constexpr uint16_t kGlobalsPart = 0x0005, kWorksheetPart = 0x0010;
constexpr uint16_t kUtf16CodePage = 1200;
// A stream shorter than this would be kept in the container's small-block area, which
// some readers do not look in for the workbook; it is padded with zero bytes instead.
constexpr size_t kSmallestStream = 4096;

void Bof(RecordWriter& records, uint16_t part) {
    records.Begin(kBof);
    records.U16(kBiff8);
    records.U16(part);
    records.U16(0x0DBB);  // build and year of the writing application, as readers expect
    records.U16(0x07CC);
    records.U32(0);  // file history flags
    records.U32(6);  // lowest version that can read every record
    records.End();
}

// Readers that apply the formats want at least the fonts 0 to 3 and 5 (there is no
// font 4), fifteen style formats and one cell format. The sixth font (index 6) is the
// bold one of the second cell format.
constexpr uint16_t kBoldFont = 6;

void FontsAndFormats(RecordWriter& records) {
    for (int i = 0; i < 6; ++i) {
        records.Begin(kFont);
        records.U16(200);                  // 10 points, in twentieths
        records.U16(i == 5 ? 0x0001 : 0);  // bold (as readers look for it besides the weight)
        records.U16(0x7FFF);               // the window text colour
        records.U16(i == 5 ? 700 : 400);   // weight: bold or normal
        records.U16(0);                    // neither superscript nor subscript
        records.U8(0);                     // not underlined
        records.U8(0);                     // family
        records.U8(0);                     // character set
        records.U8(0);
        records.Bytes(PackShortText(u"Arial"));
        records.End();
    }
    for (int i = 0; i <= kBoldCellFormat; ++i) {
        bool style = i < kPlainCellFormat;
        bool bold = i == kBoldCellFormat;
        records.Begin(kXf);
        records.U16(bold ? kBoldFont : 0);
        records.U16(0);                        // the "General" number format
        records.U16(style ? 0xFFF5 : 0x0001);  // locked; a style has no parent style
        records.U8(0x20);                      // aligned at the bottom
        records.U8(0);                         // no rotation
        records.U8(0);                         // no indent
        records.U8(bold ? 0x08 : 0);           // the font is the cell's own, not the style's
        records.U32(0);                        // no borders
        records.U32(0);
        records.U16(0x20C0);  // the window's foreground and background colours
        records.End();
    }
    records.Begin(kStyle);
    records.U16(0x8000);  // built-in style on format 0
    records.U8(0);        // "Normal"
    records.U8(0xFF);
    records.End();
}

// The shared strings, cut into a first record and continuation records of at most
// 8224 data bytes; a string header never straddles two records, and where the
// characters of a string go on in the next record it begins with the option byte again.
// The index record after it points into every eighth (or more) string.
void SharedStrings(RecordWriter& records, const XlsBook& book) {
    const size_t count = book.stringStarts.size();
    const size_t perBucket = std::max<size_t>(8, (count + 127) / 128);
    struct Bucket {
        uint32_t position;
        uint16_t offset;
    };
    std::vector<Bucket> buckets;

    records.Begin(kSst);
    records.U32(static_cast<uint32_t>(count));
    records.U32(static_cast<uint32_t>(count));
    for (size_t i = 0; i < count; ++i) {
        size_t start = book.stringStarts[i];
        size_t end = i + 1 < count ? book.stringStarts[i + 1] : book.strings.size();
        std::string_view packed(book.strings.data() + start, end - start);
        const bool wide = packed[2] & 1;
        const size_t unit = wide ? 2 : 1;
        std::string_view characters = packed.substr(3);
        if (records.Room() < 3 + (characters.empty() ? 0 : unit)) {
            records.End();
            records.Begin(kContinue);
        }
        if (i % perBucket == 0)
            buckets.push_back({static_cast<uint32_t>(records.Position()),
                               static_cast<uint16_t>(records.Position() - records.RecordStart())});
        records.Bytes(packed.substr(0, 3));
        while (!characters.empty()) {
            size_t fits = std::min(characters.size(), records.Room() / unit * unit);
            records.Bytes(characters.substr(0, fits));
            characters.remove_prefix(fits);
            if (characters.empty()) break;
            records.End();
            records.Begin(kContinue);
            records.U8(wide ? 1 : 0);
        }
    }
    records.End();

    records.Begin(kExtSst);
    records.U16(static_cast<uint16_t>(perBucket));
    for (const Bucket& bucket : buckets) {
        records.U32(bucket.position);
        records.U16(bucket.offset);
        records.U16(0);
    }
    records.End();
}

// The records of a sheet before and after its cells.
std::string SheetHead(const XlsSheet& sheet) {
    std::string head;
    RecordWriter records(&head);
    Bof(records, kWorksheetPart);
    for (const auto& [column, width] : sheet.columnWidths) {
        records.Begin(kColInfo);
        records.U16(static_cast<uint16_t>(column));  // first and last column of the range
        records.U16(static_cast<uint16_t>(column));
        records.U16(width);             // in 1/256 of a character
        records.U16(kPlainCellFormat);  // the format of the column's empty cells
        records.U16(0x0002);            // visible; the width is the user's, not the default
        records.U16(0);
        records.End();
    }
    records.Begin(kDimensions);
    records.U32(sheet.any ? sheet.firstRow : 0);
    records.U32(sheet.any ? sheet.lastRow + 1 : 0);
    records.U16(static_cast<uint16_t>(sheet.any ? sheet.firstColumn : 0));
    records.U16(static_cast<uint16_t>(sheet.any ? sheet.lastColumn + 1 : 0));
    records.U16(0);
    records.End();
    return head;
}

std::string SheetTail(const XlsSheet& sheet, bool first) {
    std::string tail;
    RecordWriter records(&tail);
    records.Begin(kWindow2);
    // Grid lines, headings, zeros, automatic grid colour, outline symbols; the first
    // sheet is the selected and shown one. Frozen rows are frozen panes without a split
    // that stays when the freeze is lifted.
    const uint16_t frozen = sheet.frozenRows != 0 ? 0x0108 : 0;
    records.U16(static_cast<uint16_t>((first ? 0x06B6 : 0x00B6) | frozen));
    records.U16(0);   // top row shown
    records.U16(0);   // left column shown
    records.U16(64);  // grid colour
    records.U16(0);
    records.U16(0);  // zoom factors: the defaults
    records.U16(0);
    records.U32(0);
    records.End();
    if (sheet.frozenRows != 0) {
        records.Begin(kPane);
        records.U16(0);                                        // no columns frozen
        records.U16(static_cast<uint16_t>(sheet.frozenRows));  // rows frozen
        records.U16(static_cast<uint16_t>(sheet.frozenRows));  // first row of the lower pane
        records.U16(0);                                        // its first column
        records.U8(2);  // the active pane: the lower left, where the rows scroll
        records.U8(0);
        records.End();
    }
    records.Record(kEof, {});
    return tail;
}

}  // namespace

bool WriteWorkbookStream(const XlsBook& book, const std::function<bool(std::string_view)>& write) {
    // A workbook needs one sheet to be opened at all.
    XlsSheet blank{.book = const_cast<XlsBook*>(&book), .name = u"Sheet1"};
    std::vector<const XlsSheet*> sheets;
    for (const auto& sheet : book.sheets) sheets.push_back(sheet.get());
    if (sheets.empty()) sheets.push_back(&blank);

    std::string globals;
    RecordWriter records(&globals);
    Bof(records, kGlobalsPart);
    records.Begin(kCodePage);
    records.U16(kUtf16CodePage);
    records.End();
    records.Begin(kWindow1);
    records.U16(0);  // window position and size, in twips
    records.U16(0);
    records.U16(0x4000);
    records.U16(0x2000);
    records.U16(0x0038);  // scroll bars and sheet tabs shown
    records.U16(0);       // the selected sheet
    records.U16(0);       // the first sheet tab shown
    records.U16(1);       // sheets selected
    records.U16(600);     // width of the tab area, in thousandths
    records.End();
    FontsAndFormats(records);
    std::vector<size_t> offsetFields;
    for (const XlsSheet* sheet : sheets) {
        records.Begin(kBoundSheet);
        offsetFields.push_back(records.Position());
        records.U32(0);  // where the sheet's part begins: filled in below
        records.U8(0);   // visible
        records.U8(0);   // a worksheet
        records.Bytes(PackShortText(sheet->name));
        records.End();
    }
    SharedStrings(records, book);
    records.Record(kEof, {});

    std::vector<std::string> heads, tails;
    size_t position = globals.size();
    for (size_t i = 0; i < sheets.size(); ++i) {
        Patch32(&globals, offsetFields[i], static_cast<uint32_t>(position));
        heads.push_back(SheetHead(*sheets[i]));
        tails.push_back(SheetTail(*sheets[i], i == 0));
        position += heads[i].size() + sheets[i]->cells.size() + tails[i].size();
    }

    if (!write(globals)) return false;
    for (size_t i = 0; i < sheets.size(); ++i)
        if (!write(heads[i]) || !write(sheets[i]->cells) || !write(tails[i])) return false;
    if (position < kSmallestStream && !write(std::string(kSmallestStream - position, '\0')))
        return false;
    return true;
}

}  // namespace xls
