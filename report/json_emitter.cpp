// The JSON form: an array with one object per section, each holding its rows as
// objects of strings keyed by the rewritten headings. Built in memory, printed at close.
// Every text goes through RepairUtf8, so the document stays valid JSON whatever bytes
// a file name holds.
#include <algorithm>
#include <string>

#include "base/value_format.h"
#include "report/report_form.h"
#include "report/utf8_repair.h"

namespace {

// Adds a string member; an item that cannot be made is dropped.
void AddString(cJSON* object, const char* key, const char* value) {
    cJSON* item = cJSON_CreateString(RepairUtf8(value).c_str());
    if (item == nullptr) return;
    if (!cJSON_AddItemToObject(object, RepairUtf8(key).c_str(), item)) cJSON_Delete(item);
}

void BeginSection(Report* report, void (*)(Report*), const char* title, const char*) {
    cJSON* section = cJSON_CreateObject();
    if (section == nullptr) return;
    AddString(section, "title", title);
    AddString(section, "creation_time", SectionTimeText(report));
    if (report->reportId != 0) cJSON_AddNumberToObject(section, "report_id", report->reportId);
    cJSON* records = cJSON_AddArrayToObject(section, "records");
    if (records == nullptr || !cJSON_AddItemToArray(report->jsonRoot, section)) {
        cJSON_Delete(section);
        return;
    }
    report->jsonSection = section;
    report->jsonRecords = records;
}

void WriteRow(Report* report, char** fields, size_t count) {
    if (report->jsonRecords == nullptr) return;  // rows before the first section
    cJSON* record = cJSON_CreateObject();
    if (record == nullptr) return;
    for (uint32_t i = 0; i < report->columnCount; ++i) {
        const ReportColumn& column = report->columns[i];
        if (column.flags & COLUMN_HIDDEN) continue;
        AddString(record, column.heading, i < count ? TrimBlanks(fields[i]) : "");
    }
    if (!cJSON_AddItemToArray(report->jsonRecords, record)) cJSON_Delete(record);
}

void Close(Report* report) {
    if (report->jsonRoot == nullptr) return;
    char* text = cJSON_Print(report->jsonRoot);
    if (text == nullptr) return;
    fputs(text, report->out);
    cJSON_free(text);
}

}  // namespace

const ReportForm JsonForm = {
    .setUp =
        [](Report* report) {
            if (report->flags & REPORT_CGI) WriteCgiHeader("Content-Type: application/json;\n");
        },
    .beginSection = BeginSection,
    .writeRow = WriteRow,
    .endTable = nullptr,
    .writeRule = nullptr,
    .writeHeading = nullptr,
    .close = Close,
};
