// Inside the workbook writer: the book and sheet records shared by the cell writer
// (xls_book.cpp) and the saver (xls_save.cpp).
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "report/xls/xls_book.h"

typedef struct _GsfOutput GsfOutput;

struct XlsSheet {
    XlsBook* book;
    std::u16string name;
    std::string cells;  // cell records in the order they were written
    uint32_t firstRow = 0, lastRow = 0, firstColumn = 0, lastColumn = 0;  // when any
    bool any = false;
    std::map<uint32_t, uint16_t> columnWidths;  // in 1/256 of a character
    uint32_t frozenRows = 0;
};

namespace xls {
// The cell formats the cells refer to: the plain one and the one with the bold font.
constexpr uint16_t kPlainCellFormat = 15;
constexpr uint16_t kBoldCellFormat = 16;
}  // namespace xls

struct XlsBook {
    std::vector<std::unique_ptr<XlsSheet>> sheets;
    std::string strings;                 // the shared strings, packed, one after another
    std::vector<uint32_t> stringStarts;  // where each begins in strings
    std::string error;
    GsfOutput* saved = nullptr;  // the last save to memory
};

namespace xls {

// Hands the whole workbook stream to write, piece by piece; stops at the first piece
// that write refuses and then returns false.
bool WriteWorkbookStream(const XlsBook& book, const std::function<bool(std::string_view)>& write);

}  // namespace xls
