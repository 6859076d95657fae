// Small helpers that turn values into text for logs and reports.
// Helpers that return a shared buffer return the same one on every call: the text is
// valid until the next call, so a caller that needs two results copies the first.
// Nothing here fails or logs: texts are cut to their buffers.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

constexpr int COUNT_PLAIN = 0x02;  // "%llu", no grouping
constexpr int COUNT_SIZE = 0x04;   // bytes as GB, MB or Bytes

#define VALUE_PRINTF(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))

// The printf text of the arguments, as long as it needs to be.
std::string FormatString(const char* format, ...) VALUE_PRINTF(1, 2);
std::string VFormatString(const char* format, va_list arguments) VALUE_PRINTF(1, 0);

// Writes the text into buffer (cut to length - 1 characters) and returns buffer.
char* FormatCount(uint64_t value, char* buffer, size_t length, int flags);
// Shared 128-byte buffer.
const char* FormatCount(uint64_t value, int flags);
// "S59", "M1:01", "H1:01:01", "D1:01:01:01". Shared 64-byte buffer.
const char* FormatDuration(uint64_t seconds);
// The local time in the strftime format, written into buffer (cut to length - 1): "Not-Set"
// for 0, "**ERROR**" when it cannot be converted. Returns buffer.
char* FormatLocalTime(time_t when, const char* format, char* buffer, size_t length);
// FormatLocalTime with "%A, %B %d, %Y - %H:%M:%S (%Z)". Shared 128-byte buffer.
const char* FormatTimeText(time_t when);
// Removes bytes 1 to 32 at both ends, in place; returns text.
char* TrimBlanks(char* text);
// A new text (count * 2 + 1 bytes, the caller frees it with free()) where every byte
// outside 0x20..0x7E becomes two upper-case hexadecimal digits; stops at a zero byte.
// None when memory runs out.
char* MakePrintable(const char* bytes, size_t count);

// The HTML and XML entity that stands for c (&amp; &lt; &gt; &quot; &apos;), or none when
// c stands for itself.
const char* MarkupEntity(char c);
// text with every such character replaced by its entity.
std::string MarkupEscaped(std::string_view text);

// The value of a hexadecimal digit (either case), or -1 for any other character.
int HexDigitValue(char c);

struct NameValue {
    const char* name;
    int value;
};
// Looks a name up ignoring case in a table ended by an entry with no name.
int LookupName(const NameValue* table, const char* name, int* value);
