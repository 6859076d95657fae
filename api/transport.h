// The TCP transport of a session: one IPv4 connection to the server, made directly or
// through an HTTP CONNECT proxy; whole-buffer sends and receives are platform/io.h.
// No time-outs are set: a peer that neither answers nor closes blocks the caller.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdio>

#include "api/session.h"

constexpr size_t RECEIVE_LINE_BUFFER_SIZE = 1024;

enum ReceiveLineResult {
    RECEIVE_LINE_OK = 1,
    RECEIVE_LINE_FAILED = 2,   // read error or end of stream before a newline
    RECEIVE_LINE_TOO_LONG = 3  // no newline within 1023 bytes
};

// Creates the socket, resolves host and port (first IPv4 address only) and connects.
// On success resets the byte and query counters, sets the connect time and the peer
// address. On failure the resolution error or the socket error tells why.
bool XNPTCPClient_Connect(ZYMB10APISession* session, const char* host, const char* port);
// Connects to the proxy and asks it with CONNECT for a tunnel to host:port, with Basic
// credentials when user is not empty. The request and the status line are written to
// trace when one is given. True once the proxy answered a status line "HTTP* 200 *".
bool XNPTCPClient_ConnectViaProxy(ZYMB10APISession* session, const char* host, const char* port,
                                  const char* proxyHost, const char* proxyPort, const char* user,
                                  const char* password, FILE* trace);
// Reads one line into a RECEIVE_LINE_BUFFER_SIZE buffer, without its line end.
int XNPTCPClient_ReceiveLine(int socket, char* buffer);
// Shuts down both directions; the socket stays allocated.
void XNPTCPClient_Shutdown(ZYMB10APISession* session);
// Shuts down and closes the socket; does nothing when none was ever created.
void XNPTCPClient_Close(ZYMB10APISession* session);
