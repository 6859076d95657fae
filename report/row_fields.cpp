// Rows as fields: the "|" splitter every form uses and the text of number columns.
#include <cstdlib>
#include <cstring>

#include "base/utf8.h"
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

std::string CellUtf8(std::string_view text, bool controlsAsQuestionMarks) {
    std::string shown;
    shown.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        size_t start = at;
        char32_t character = Utf8Next(text, &at);
        if (controlsAsQuestionMarks && IsControlCharacter(character))
            shown += '?';
        else if (character == UTF8_REPLACEMENT)
            Utf8Append(&shown, UTF8_REPLACEMENT);
        else
            shown.append(text.substr(start, at - start));
    }
    return shown;
}
