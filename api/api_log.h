// How the session operations speak: lines to the API log (each with the local time in
// front) and messages to the session's message sink. Both stay silent when the session
// has no log or no sink.
#pragma once
#include "api/session.h"
#include "base/message_sink.h"

// Writes "%H:%M:%S: " and the formatted text to the API log, if the session has one.
void ApiLogLine(ZYMB10APISession* session, const char* format, ...) ZYMB_PRINTF(2, 3);
// Reports through the session's message sink with message number 0.
void ApiReport(ZYMB10APISession* session, int level, const char* format, ...) ZYMB_PRINTF(3, 4);
