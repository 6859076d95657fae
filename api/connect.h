// Choosing the route to the server: direct, or through the proxy the caller set in the
// session, and reporting the outcome.
#pragma once
#include "api/session.h"

// Result codes: 0 connected, 23 proxy password not available (a proxy user without a
// password; nothing is connected), 24 connection failed.
int ZYMB10API_Connect(ZYMB10APISession* session, const char* host, const char* port);
// 0 connected through the proxy, 24 failed.
int ZYMB10API_ConnectViaProxy(ZYMB10APISession* session, const char* host, const char* port,
                              const char* proxyHost, const char* proxyPort, const char* user,
                              const char* password);
