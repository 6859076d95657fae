// Counts, sizes, durations, time texts, blank trimming, printable copies, name lookup.
#include "base/value_format.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

char* FormatCount(uint64_t value, char* buffer, size_t length, int flags) {
    if (length == 0) return buffer;
    memset(buffer, 0, length);
    if (value == 0) {
        snprintf(buffer, length, "%s", flags == 0 ? "0" : " ");
    } else if ((flags & COUNT_PLAIN) != 0) {
        snprintf(buffer, length, "%llu", static_cast<unsigned long long>(value));
    } else if ((flags & COUNT_SIZE) != 0) {
        float size = static_cast<float>(value);
        if (value >= (1ULL << 30))
            snprintf(buffer, length, "%.2f GB", static_cast<double>(size / 1073741824.0f));
        else if (value >= (1ULL << 20))
            snprintf(buffer, length, "%.2f MB", static_cast<double>(size / 1048576.0f));
        else
            snprintf(buffer, length, "%.2f Bytes", static_cast<double>(size));
    } else {
        unsigned groups[7];
        int count = 0;
        for (uint64_t rest = value; rest != 0; rest /= 1000)
            groups[count++] = static_cast<unsigned>(rest % 1000);
        char text[32];
        int at = snprintf(text, sizeof text, "%u", groups[count - 1]);
        for (int i = count - 2; i >= 0; --i)
            at += snprintf(text + at, sizeof text - static_cast<size_t>(at), ",%3.3u", groups[i]);
        snprintf(buffer, length, "%s", text);
    }
    return buffer;
}

const char* FormatCount(uint64_t value, int flags) {
    static char shared[128];
    return FormatCount(value, shared, sizeof shared, flags);
}

const char* FormatDuration(uint64_t seconds) {
    static char shared[64];
    unsigned long long days = seconds / 86400, rest = seconds % 86400;
    unsigned long long hours = rest / 3600, minutes = rest % 3600 / 60, secs = rest % 60;
    if (days != 0)
        snprintf(shared, sizeof shared, "D%llu:%.2llu:%.2llu:%.2llu", days, hours, minutes, secs);
    else if (hours != 0)
        snprintf(shared, sizeof shared, "H%llu:%.2llu:%.2llu", hours, minutes, secs);
    else if (minutes != 0)
        snprintf(shared, sizeof shared, "M%llu:%.2llu", minutes, secs);
    else
        snprintf(shared, sizeof shared, "S%llu", secs);
    return shared;
}

char* FormatLocalTime(time_t when, const char* format, char* buffer, size_t length) {
    struct tm local;
    if (when == 0)
        snprintf(buffer, length, "Not-Set");
    else if (localtime_r(&when, &local) == nullptr || strftime(buffer, length, format, &local) == 0)
        snprintf(buffer, length, "**ERROR**");
    return buffer;
}

const char* FormatTimeText(time_t when) {
    static char shared[128];
    return FormatLocalTime(when, "%A, %B %d, %Y - %H:%M:%S (%Z)", shared, sizeof shared);
}

std::string VFormatString(const char* format, va_list arguments) {
    va_list again;
    va_copy(again, arguments);
    const int length = vsnprintf(nullptr, 0, format, arguments);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

std::string FormatString(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = VFormatString(format, arguments);
    va_end(arguments);
    return text;
}

const char* MarkupEntity(char c) {
    switch (c) {
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        case '"':
            return "&quot;";
        case '\'':
            return "&apos;";
        default:
            return nullptr;
    }
}

std::string MarkupEscaped(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        const char* entity = MarkupEntity(c);
        if (entity != nullptr)
            result += entity;
        else
            result += c;
    }
    return result;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char* TrimBlanks(char* text) {
    auto isBlank = [](char c) {
        unsigned char byte = static_cast<unsigned char>(c);
        return byte >= 1 && byte <= 32;
    };
    size_t start = 0;
    while (isBlank(text[start])) ++start;
    size_t length = strlen(text + start);
    memmove(text, text + start, length + 1);
    while (length > 0 && isBlank(text[length - 1])) --length;
    text[length] = 0;
    return text;
}

char* MakePrintable(const char* bytes, size_t count) {
    char* copy = static_cast<char*>(calloc(count * 2 + 1, 1));
    if (copy == nullptr) return nullptr;
    char* at = copy;
    for (size_t i = 0; i < count && bytes[i] != 0; ++i) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (byte >= 0x20 && byte <= 0x7E) {
            *at++ = static_cast<char>(byte);
        } else {
            *at++ = "0123456789ABCDEF"[byte >> 4];
            *at++ = "0123456789ABCDEF"[byte & 15];
        }
    }
    return copy;
}

int LookupName(const NameValue* table, const char* name, int* value) {
    size_t length = strlen(name);
    for (; table->name != nullptr && table->name[0] != 0; ++table) {
        if (strlen(table->name) != length) continue;
        size_t i = 0;
        while (i < length && toupper(static_cast<unsigned char>(table->name[i])) ==
                                 toupper(static_cast<unsigned char>(name[i])))
            ++i;
        if (i == length) {
            *value = table->value;
            return 1;
        }
    }
    return 0;
}
