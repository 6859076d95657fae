// The API log and the message sink of a session.
#include "api/api_log.h"

#include <cstdarg>
#include <ctime>

void ApiLogLine(ZYMB10APISession* session, const char* format, ...) {
    if (session->apiLog == nullptr) return;
    char stamp[16] = "";
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) != nullptr) strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    fprintf(session->apiLog, "%s: ", stamp);
    va_list arguments;
    va_start(arguments, format);
    vfprintf(session->apiLog, format, arguments);
    va_end(arguments);
    fflush(session->apiLog);
}

void ApiReport(ZYMB10APISession* session, int level, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    VSinkMessage(session->messageSink, level, 0, format, arguments);
    va_end(arguments);
}
