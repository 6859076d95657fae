// Formatting a message for a sink.
#include "base/message_sink.h"

#include <cstdio>

void VSinkMessage(const MessageSink& sink, int level, unsigned number, const char* format,
                  va_list arguments) {
    if (sink.write == nullptr) return;
    char text[MESSAGE_TEXT_LIMIT + 1];
    vsnprintf(text, sizeof text, format, arguments);
    sink.write(sink.owner, level, number, text);
}

void SinkMessage(const MessageSink& sink, int level, unsigned number, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    VSinkMessage(sink, level, number, format, arguments);
    va_end(arguments);
}
