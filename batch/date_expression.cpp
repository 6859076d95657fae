// Date variables: the date-expression language (fixed dates, the first or last day of
// a month or year, the start of a week, today, each with offsets) and its evaluation.
#include <fnmatch.h>
#include <locale.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "batch/variable_store.h"

namespace {

// A decimal number as the date text writes it, truncated to an integer. Read in the C
// locale whatever locale the window set, and bounded so that no text can overflow it.
long ReadNumber(const char* text, const char** end) {
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    char* stop = nullptr;
    double value = strtod_l(text, &stop, cLocale);
    if (end != nullptr) *end = stop;
    if (std::isnan(value)) return 0;
    if (value > 1e7) return 10000000;
    if (value < -1e7) return -10000000;
    return static_cast<long>(value);
}

PackedDate PackTime(time_t time) {
    struct tm local;
    if (localtime_r(&time, &local) == nullptr) return 0;
    return PackDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

// The packed date at 01:00:01, standard time; the hour keeps daylight-saving shifts of
// the arithmetic below away from midnight.
time_t PackedToTime(PackedDate date) {
    struct tm local = {};
    local.tm_year = static_cast<int>(PackedYear(date)) - 1900;
    local.tm_mon = static_cast<int>(PackedMonth(date)) - 1;
    local.tm_mday = static_cast<int>(PackedDay(date));
    local.tm_hour = 1;
    local.tm_min = 0;
    local.tm_sec = 1;
    local.tm_isdst = 0;
    return mktime(&local);
}

PackedDate WithDayOffset(PackedDate date, const char* rest) {
    long days = ReadNumber(rest, nullptr);
    return PackTime(PackedToTime(date) + static_cast<time_t>(days) * 86400 - 3600);
}

}  // namespace

PackedDate ParseDateSpec(const char* dateText, time_t now) {
    if (dateText == nullptr) return 0;
    const char* rest = nullptr;
    if (fnmatch("????\\-??\\-??*", dateText, 0) == 0) {
        const char* end = nullptr;
        long year = ReadNumber(dateText, &end);
        // Each number starts one character after the previous one's end; a number that ran
        // to the end of the text leaves nothing to step over.
        long month = ReadNumber(*end != '\0' ? end + 1 : end, &end);
        long day = ReadNumber(*end != '\0' ? end + 1 : end, &end);
        return WithDayOffset(PackDate(year, month, day), end);
    }
    if (fnmatch("[12][0-9][0-9][0-9]", dateText, 0) == 0) {
        return PackDate(ReadNumber(dateText, nullptr), 1, 1);
    }
    bool relative = false;
    char letter = dateText[0];
    static const char* const kRelative[] = {"M[-+]*", "m[-+]*", "Y[-+]*", "y[-+]*", "W[-+]*"};
    for (const char* pattern : kRelative) {
        if (fnmatch(pattern, dateText, 0) == 0) relative = true;
    }
    if (relative) {
        long count = ReadNumber(dateText + 1, &rest);
        struct tm local;
        if (localtime_r(&now, &local) == nullptr) return 0;
        local.tm_hour = 12;  // the time of day does not matter; noon keeps clear of shifts
        local.tm_min = 0;
        local.tm_sec = 0;
        local.tm_isdst = -1;
        switch (letter) {
            case 'M':
                local.tm_mday = 1;
                local.tm_mon += static_cast<int>(count);
                break;
            case 'm':
                local.tm_mday = 0;
                local.tm_mon += static_cast<int>(count) + 1;
                break;
            case 'Y':
                local.tm_mday = 1;
                local.tm_mon = 0;
                local.tm_year += static_cast<int>(count);
                break;
            case 'y':
                local.tm_mday = 0;
                local.tm_mon = 0;
                local.tm_year += static_cast<int>(count) + 1;
                break;
            case 'W':
                local.tm_mday += static_cast<int>(count) * 7 - local.tm_wday;
                break;
        }
        time_t moved = mktime(&local);
        if (moved == static_cast<time_t>(-1)) return 0;
        return WithDayOffset(PackDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday), rest);
    }
    if (fnmatch("\\*[-+]*", dateText, 0) == 0) {
        long days = ReadNumber(dateText + 1, nullptr);
        return PackTime(now + static_cast<time_t>(days) * 86400 - 3600);
    }
    if (fnmatch("\\*", dateText, 0) == 0) return PackTime(now - 3600);
    return 0;
}

void EvaluateDateVariable(config_setting_t* variable, time_t now) {
    if (variable == nullptr || !config_setting_is_group(variable)) return;
    const char* dateText = "*";
    const char* format = "%Y-%m-%d";
    config_setting_lookup_string(variable, "date", &dateText);
    config_setting_lookup_string(variable, "format", &format);
    PackedDate date = ParseDateSpec(dateText, now);
    time_t when = date != 0 ? PackedToTime(date) : now;

    char text[128];
    struct tm local;
    if (when == 0) {
        snprintf(text, sizeof text, "Not-Set");
    } else if (localtime_r(&when, &local) == nullptr) {
        snprintf(text, sizeof text, "**ERROR**");
    } else if (strftime(text, sizeof text, format, &local) == 0) {
        text[0] = '\0';  // a format that gives nothing, or more than fits
    }
    config_setting_remove(variable, "value");
    config_setting_t* value = config_setting_add(variable, "value", CONFIG_TYPE_STRING);
    if (value != nullptr) config_setting_set_string(value, text);
}
