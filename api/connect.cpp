// The session's connect operations: route choice, API log lines and messages.
#include "api/connect.h"

#include <netdb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "api/api_log.h"
#include "api/codes.h"
#include "api/transport.h"

namespace {

void ReportFailure(ZYMB10APISession* session) {
    if (session->resolutionError != 0) {
        ApiReport(session, MSG_ERROR, "Resolution of hostname failed: %s",
                  gai_strerror(session->resolutionError));
    } else if (session->socketError == ETIMEDOUT && session->connectTimeout != 0) {
        ApiReport(session, MSG_ERROR, "Connection to server failed: timed out after %u seconds",
                  session->connectTimeout);
    } else {
        // The system's words and the address tried, so the user knows what to fix. A
        // proxy that refused the tunnel leaves no system error, only the address.
        if (session->socketError != 0)
            ApiReport(session, MSG_ERROR, "Connection to server failed: WSAError(%d) (%s, %s)",
                      session->socketError, strerror(session->socketError), session->triedAddress);
        else
            ApiReport(session, MSG_ERROR, "Connection to server failed: WSAError(0) (%s)",
                      session->triedAddress);
    }
}

}  // namespace

int ZYMB10API_Connect(ZYMB10APISession* session, const char* host, const char* port) {
    const ZYMB10APIProxy& proxy = session->proxy;
    if (proxy.host != nullptr) {
        const char* user = proxy.user != nullptr ? proxy.user : "";
        if (user[0] != '\0' && proxy.password == nullptr) return RC_AUTHORIZATION_FAILURE;
        return ZYMB10API_ConnectViaProxy(session, host, port, proxy.host,
                                         proxy.port != nullptr ? proxy.port : "", user,
                                         proxy.password != nullptr ? proxy.password : "");
    }

    ApiLogLine(session, "%s: Server(%s) Port(%s)\n", "ZYMB10API_Connect", host, port);
    if (XNPTCPClient_Connect(session, host, port)) {
        ApiReport(session, MSG_INFO, "Connection to server (%s) successful", session->peerAddress);
        ApiLogLine(session, "%s: Connection OK IP(%s)\n", "ZYMB10API_Connect",
                   session->peerAddress);
        return RC_OK;
    }
    ApiLogLine(session, "%s: Connection Failed\n", "ZYMB10API_Connect");
    ReportFailure(session);
    return RC_CONNECTION_FAILED;
}

int ZYMB10API_ConnectViaProxy(ZYMB10APISession* session, const char* host, const char* port,
                              const char* proxyHost, const char* proxyPort, const char* user,
                              const char* password) {
    ApiLogLine(session, "%s\n", "ZYMB10API_ConnectViaProxy");
    if (XNPTCPClient_ConnectViaProxy(session, host, port, proxyHost, proxyPort, user, password,
                                     session->apiLog)) {
        ApiReport(session, MSG_INFO, "Connection to server (%s) successful", session->peerAddress);
        ApiLogLine(session, "%s: Connection to server (%s) successful\n",
                   "ZYMB10API_ConnectViaProxy", session->peerAddress);
        return RC_OK;
    }
    if (session->resolutionError != 0) {
        ApiLogLine(session, "%s: Resolution of hostname failed(%s)\n", "ZYMB10API_ConnectViaProxy",
                   gai_strerror(session->resolutionError));
    } else {
        ApiLogLine(session, "%s: Connection to server failed WSAError(%d)\n",
                   "ZYMB10API_ConnectViaProxy", session->socketError);
    }
    ReportFailure(session);
    return RC_CONNECTION_FAILED;
}
