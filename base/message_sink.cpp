// Formatting a message for a sink.
#include "base/message_sink.h"

#include <cstdarg>
#include <cstdio>

void SinkMessage(const MessageSink& sink, int level, unsigned number, const char* format, ...) {
    if (sink.write == nullptr) return;
    char text[MESSAGE_TEXT_LIMIT + 1];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    sink.write(sink.owner, level, number, text);
}
