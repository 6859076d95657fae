// The end-of-program notification: a JSON body posted to an incoming webhook.
#pragma once
#include "frame/program_context.h"

// Seconds a webhook may take, so that a dead one cannot hold a batch run.
constexpr long NOTIFICATION_CONNECT_TIMEOUT = 5;
constexpr long NOTIFICATION_TIMEOUT = 10;

// The indented JSON body for a run that ended with status after the given time;
// the caller frees it with cJSON_free(). None when memory runs out.
char* BuildNotificationBody(const ProgramContext* context, int status, unsigned minutes,
                            unsigned seconds);
// Sends the notification as configured by the ZYMBSLACK variables (step 5 of Complete).
void SendEndNotification(ProgramContext* context, int status, unsigned minutes, unsigned seconds);
