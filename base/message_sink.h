// Where a library that must not print on its own sends its messages: a level, a message
// number and the formatted text. The program decides what a message becomes (the frame's
// log, a test's list); a sink with no write operation drops every message.
#pragma once
#include <cstdarg>
#include <cstddef>

#define ZYMB_PRINTF(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))

enum MessageLevel {
    MSG_ERROR = 0,    // E
    MSG_WARNING = 1,  // W
    MSG_NOTICE = 2,   // I
    MSG_INFO = 3,     // N
    MSG_DEBUG = 4,    // D
};

constexpr size_t MESSAGE_TEXT_LIMIT = 511;  // characters of formatted message text

struct MessageSink {
    void* owner;  // passed back to write untouched
    void (*write)(void* owner, int level, unsigned number, const char* text);
};

// Formats the text (cut to MESSAGE_TEXT_LIMIT characters) and writes it to the sink;
// nothing happens when the sink has no write operation.
void SinkMessage(const MessageSink& sink, int level, unsigned number, const char* format, ...)
    ZYMB_PRINTF(4, 5);
void VSinkMessage(const MessageSink& sink, int level, unsigned number, const char* format,
                  va_list arguments) ZYMB_PRINTF(4, 0);
