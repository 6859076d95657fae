// Choosing the route to the server: direct, or through the proxy that ZYMBSERVERPROXY
// names (user:password@host:port, each part optional), and reporting the outcome.
#pragma once
#include "api/session.h"

// Result codes: 0 connected, 23 proxy password not available, 24 connection failed.
// The proxy setting is only read when the session has a message sink (it needs the
// sink's GetPassword for the proxy password).
int ZYMB10API_Connect(ZYMB10APISession* session, const char* host, const char* port);
// 0 connected through the proxy, 24 failed.
int ZYMB10API_ConnectViaProxy(ZYMB10APISession* session, const char* host, const char* port,
                              const char* proxyHost, const char* proxyPort, const char* user,
                              const char* password);
