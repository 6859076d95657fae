// Date variables: the date-expression language (fixed dates, the first or last day of
// a month or year, the start of a week, today, each with offsets) and its evaluation.
#include <fnmatch.h>
#include <locale.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

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

// The years a packed date holds without wrapping, and that strftime writes as four digits.
constexpr long kFirstYear = 1;
constexpr long kLastYear = 9999;

// A packed date, or 0 with *outOfRange set when the year does not fit.
PackedDate PackChecked(long year, long month, long day, bool* outOfRange) {
    if (year < kFirstYear || year > kLastYear) {
        *outOfRange = true;
        return 0;
    }
    return PackDate(static_cast<unsigned>(year), static_cast<unsigned>(month),
                    static_cast<unsigned>(day));
}

PackedDate PackTime(time_t time, bool* outOfRange) {
    struct tm local;
    if (localtime_r(&time, &local) == nullptr) {
        *outOfRange = true;  // so far off that the calendar cannot place it
        return 0;
    }
    return PackChecked(local.tm_year + 1900L, local.tm_mon + 1, local.tm_mday, outOfRange);
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

PackedDate WithDayOffset(PackedDate date, const char* rest, bool* outOfRange) {
    if (date == 0) return 0;
    long days = ReadNumber(rest, nullptr);
    return PackTime(PackedToTime(date) + static_cast<time_t>(days) * 86400 - 3600, outOfRange);
}

}  // namespace

PackedDate ParseDateExpression(const char* dateText, time_t now, bool* outOfRange) {
    bool ignored = false;
    if (outOfRange == nullptr) outOfRange = &ignored;
    *outOfRange = false;
    if (dateText == nullptr) return 0;
    const char* rest = nullptr;
    if (fnmatch("????\\-??\\-??*", dateText, 0) == 0) {
        const char* end = nullptr;
        long year = ReadNumber(dateText, &end);
        // Each number starts one character after the previous one's end; a number that ran
        // to the end of the text leaves nothing to step over.
        long month = ReadNumber(*end != '\0' ? end + 1 : end, &end);
        long day = ReadNumber(*end != '\0' ? end + 1 : end, &end);
        return WithDayOffset(PackChecked(year, month, day, outOfRange), end, outOfRange);
    }
    if (fnmatch("[12][0-9][0-9][0-9]", dateText, 0) == 0) {
        return PackChecked(ReadNumber(dateText, nullptr), 1, 1, outOfRange);
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
        return WithDayOffset(
            PackChecked(local.tm_year + 1900L, local.tm_mon + 1, local.tm_mday, outOfRange), rest,
            outOfRange);
    }
    if (fnmatch("\\*[-+]*", dateText, 0) == 0) {
        long days = ReadNumber(dateText + 1, nullptr);
        return PackTime(now + static_cast<time_t>(days) * 86400 - 3600, outOfRange);
    }
    if (fnmatch("\\*", dateText, 0) == 0) return PackTime(now - 3600, outOfRange);
    return 0;
}

bool EvaluateDateVariable(config_setting_t* variable, time_t now, std::string* reason) {
    if (variable == nullptr || !config_setting_is_group(variable)) return true;
    const char* dateText = "*";
    const char* format = "%Y-%m-%d";
    config_setting_lookup_string(variable, "date", &dateText);
    config_setting_lookup_string(variable, "format", &format);
    bool outOfRange = false;
    PackedDate date = ParseDateExpression(dateText, now, &outOfRange);
    time_t when = date != 0 ? PackedToTime(date) : now;

    char text[128];
    struct tm local;
    bool ok = true;
    if (outOfRange) {
        snprintf(text, sizeof text, "**ERROR**");
        if (reason != nullptr)
            *reason = std::string("the date ") + dateText + " falls outside the years 1 to 9999";
        ok = false;
    } else if (when == 0) {
        snprintf(text, sizeof text, "Not-Set");
    } else if (localtime_r(&when, &local) == nullptr) {
        snprintf(text, sizeof text, "**ERROR**");
    } else if (strftime(text, sizeof text, format, &local) == 0) {
        // Nothing written: a format that gives nothing, or a text longer than fits.
        char larger[4096];
        if (*format != '\0' && strftime(larger, sizeof larger, format, &local) != 0) {
            if (reason != nullptr) {
                *reason = "the date's text is longer than " + std::to_string(sizeof text - 1) +
                          " characters";
            }
            snprintf(text, sizeof text, "**ERROR**");
            ok = false;
        } else {
            text[0] = '\0';
        }
    }
    config_setting_remove(variable, "value");
    config_setting_t* value = config_setting_add(variable, "value", CONFIG_TYPE_STRING);
    if (value != nullptr) config_setting_set_string(value, text);
    return ok;
}
