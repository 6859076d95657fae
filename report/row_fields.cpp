// Rows as fields: the "|" splitter every form uses and the text of number columns.
#include <cstdlib>
#include <cstring>

#include "base/value_format.h"
#include "report/report_form.h"

size_t SplitRow(char* row, char** fields, size_t capacity) {
    size_t count = 0;
    char* at = row;
    while (count < capacity) {
        while (*at == '|') ++at;
        if (*at == 0) break;
        fields[count++] = at;
        while (*at != 0 && *at != '|') ++at;
        if (*at == 0) break;
        *at++ = 0;
    }
    return count;
}

const char* CellText(const ReportColumn& column, const char* field, char (&buffer)[64]) {
    if ((column.flags & COLUMN_NUMBER) == 0 || field[0] == '?') return field;
    char digits[65];
    snprintf(digits, sizeof digits, "%s", field);  // only the first 64 characters count
    auto value = static_cast<uint64_t>(strtoll(digits, nullptr, 10));
    return FormatCount(value, buffer, sizeof buffer,
                       (column.flags & COLUMN_PLAIN) ? COUNT_PLAIN : 0);
}
