// The JSON form: an array with one object per section, each holding its rows as
// objects of strings keyed by the rewritten headings. Built in memory, printed at close.
// The form owns the document tree from Report_Init to Report_Close. Every text is
// well-formed UTF-8 (RepairUtf8), so the document stays valid JSON whatever bytes a file
// name holds.
#include <cjson/cJSON.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "base/utf8.h"
#include "base/value_format.h"
#include "report/report_form.h"

namespace {

struct JsonState {
    cJSON* root;     // one object per section
    cJSON* section;  // of the current section
    cJSON* records;  // its "records" array
};

JsonState* StateOf(Report* report) {
    return static_cast<JsonState*>(report->formState);
}

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
    JsonState* state = StateOf(report);
    cJSON* records = cJSON_AddArrayToObject(section, "records");
    if (state == nullptr || records == nullptr || !cJSON_AddItemToArray(state->root, section)) {
        cJSON_Delete(section);
        return;
    }
    state->section = section;
    state->records = records;
}

void WriteRow(Report* report, char** fields, size_t count) {
    JsonState* state = StateOf(report);
    if (state == nullptr || state->records == nullptr) return;  // rows before any section
    cJSON* record = cJSON_CreateObject();
    if (record == nullptr) return;
    for (uint32_t i = 0; i < report->columnCount; ++i) {
        const ReportColumn& column = report->columns[i];
        if (column.flags & COLUMN_HIDDEN) continue;
        AddString(record, column.heading, i < count ? TrimBlanks(fields[i]) : "");
    }
    if (!cJSON_AddItemToArray(state->records, record)) cJSON_Delete(record);
}

void Open(Report* report) {
    auto* state = static_cast<JsonState*>(calloc(1, sizeof(JsonState)));
    if (state == nullptr) return;
    state->root = cJSON_CreateArray();
    report->formState = state;
}

// The whole document, then the tree is freed. A dropped report prints nothing.
void Close(Report* report) {
    JsonState* state = StateOf(report);
    if (state == nullptr) return;
    if (report->format != REPORT_DROPPED && state->root != nullptr) {
        if (char* text = cJSON_Print(state->root)) {
            fputs(text, report->out);
            cJSON_free(text);
        }
    }
    cJSON_Delete(state->root);
    free(state);
}

}  // namespace

const ReportForm JsonForm = {
    .open = Open,
    .setUp =
        [](Report* report) {
            if (report->flags & REPORT_CGI)
                WriteCgiHeader("Content-Type: application/json; charset=utf-8\n");
        },
    .beginSection = BeginSection,
    .writeRow = WriteRow,
    .endTable = nullptr,
    .writeRule = nullptr,
    .writeHeading = nullptr,
    .close = Close,
    .setOrientation = nullptr,
    .setPageSize = nullptr,
    .setOutputPath = nullptr,
    .setLogo = nullptr,
};
