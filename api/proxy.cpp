// The HTTP CONNECT handshake that turns a connection to a proxy into a tunnel to the
// server. After a "200" status line and the header lines, the socket carries the server
// protocol unchanged.
#include <fnmatch.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api/base64.h"
#include "api/transport.h"
#include "platform/io.h"

namespace {

constexpr size_t kRequestLimit = 1024;  // the CONNECT request, terminator included

void Trace(FILE* trace, const char* text) {
    if (trace == nullptr) return;
    fprintf(trace, "%s: %s\n", "XNPTCPClient_ConnectViaProxy", text);
    fflush(trace);
}

// The request as the API log shows it: the proxy credentials are only Base64, as good
// as the password itself, so the log carries a mask in their place.
void TraceRequest(FILE* trace, const char* request) {
    if (trace == nullptr) return;
    static const char kField[] = "Proxy-Authorization: Basic ";
    const char* field = strstr(request, kField);
    if (field == nullptr) return Trace(trace, request);
    const char* credentials = field + sizeof kField - 1;
    const char* lineEnd = strstr(credentials, "\r\n");
    if (lineEnd == nullptr) lineEnd = credentials + strlen(credentials);
    std::string shown(request, credentials);
    shown += "******";
    shown += lineEnd;
    Trace(trace, shown.c_str());
}

// Builds the CONNECT request; false when it would not fit, which no sane host name does.
bool BuildRequest(char* request, const char* host, const char* port, const char* user,
                  const char* password) {
    size_t used = static_cast<size_t>(
        snprintf(request, kRequestLimit, "CONNECT %s:%s HTTP/1.0\r\n", host, port));
    if (used >= kRequestLimit) return false;
    if (user[0] != '\0') {
        char credentials[kRequestLimit];
        const int length = snprintf(credentials, sizeof credentials, "%s:%s", user, password);
        if (length < 0 || static_cast<size_t>(length) >= sizeof credentials) return false;
        char* encoded = XNPBase64Encode(credentials, static_cast<size_t>(length));
        if (encoded == nullptr) return false;
        used += static_cast<size_t>(snprintf(request + used, kRequestLimit - used,
                                             "Proxy-Authorization: Basic %s\r\n", encoded));
        free(encoded);
        if (used >= kRequestLimit) return false;
    }
    used += static_cast<size_t>(
        snprintf(request + used, kRequestLimit - used, "host: %s:%s\r\n\r\n", host, port));
    return used < kRequestLimit;
}

}  // namespace

bool XNPTCPClient_ConnectViaProxy(ZYMB10APISession* session, const char* host, const char* port,
                                  const char* proxyHost, const char* proxyPort, const char* user,
                                  const char* password, FILE* trace) {
    if (!XNPTCPClient_Connect(session, proxyHost, proxyPort)) return false;

    char request[kRequestLimit];
    if (!BuildRequest(request, host, port, user ? user : "", password ? password : "")) {
        session->socketError = ENAMETOOLONG;
        XNPTCPClient_Shutdown(session);
        return false;
    }
    TraceRequest(trace, request);
    if (SendAll(session->socket, request, strlen(request)) < 0) {
        session->socketError = errno;
        return false;
    }

    char line[RECEIVE_LINE_BUFFER_SIZE];
    const int status = XNPTCPClient_ReceiveLine(session->socket, line);
    Trace(trace, line);
    if (status != RECEIVE_LINE_OK || fnmatch("HTTP* 200 *", line, 0) != 0) {
        XNPTCPClient_Shutdown(session);
        return false;
    }
    // The proxy's header lines end with an empty line; the tunnel starts behind it.
    while (XNPTCPClient_ReceiveLine(session->socket, line) == RECEIVE_LINE_OK && line[0] != '\0') {
    }
    return true;
}
