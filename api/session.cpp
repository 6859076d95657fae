// Session initialisation and termination: the cipher keys, the API log and
// the statistics reported when the session ends.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "api/api_log.h"
#include "api/codes.h"
#include "api/connect.h"
#include "api/exchange.h"
#include "api/logon.h"
#include "api/transport.h"
#include "base/value_format.h"
#include "platform/new_file.h"

namespace {

const char* Grouped(uint64_t value, char* buffer, size_t length) {
    return FormatCount(value, buffer, length, 0);
}

void ReportStatistics(ZYMB10APISession* session) {
    char number[64];
    const time_t now = time(nullptr);
    const uint64_t seconds =
        session->connectTime == 0 || now < static_cast<time_t>(session->connectTime)
            ? 0
            : static_cast<uint64_t>(now - session->connectTime);
    ApiReport(session, MSG_INFO, "Closing connection to Corvantix Server");
    ApiReport(session, MSG_INFO, "Session Statistics:");
    ApiReport(session, MSG_INFO, "\tSeconds Connected: %s",
              Grouped(seconds, number, sizeof number));
    ApiReport(session, MSG_INFO, "\tQueries Completed: %s",
              Grouped(session->queriesCompleted, number, sizeof number));
    ApiReport(session, MSG_INFO, "\t       Bytes Sent: %s",
              Grouped(session->bytesSent, number, sizeof number));
    ApiReport(session, MSG_INFO, "\t   Bytes Received: %s",
              Grouped(session->bytesReceived, number, sizeof number));
    ApiReport(session, MSG_INFO, "-");
    ApiReport(session, MSG_INFO,
              "Return Code Statistics ------------------------------------------------");
    ApiReport(session, MSG_INFO, "%-60s %10s", "Message", "Total");
    for (unsigned code = 0; code < 256; ++code) {
        if (session->resultCounters[code] == 0) continue;
        const char* message = ResultMessageText(code);
        // A message longer than the column is cut to 59 characters.
        const int shown = strlen(message) > 60 ? 59 : 60;
        ApiReport(session, MSG_INFO, "%-60.*s %10s", shown, message,
                  Grouped(session->resultCounters[code], number, sizeof number));
    }
    ApiReport(session, MSG_INFO,
              "-----------------------------------------------------------------------");
    ApiReport(session, MSG_INFO, "-");
}

}  // namespace

int ZYMB10API_Init(ZYMB10APISession* session) {
    memset(session, 0, sizeof *session);
    session->clientLevel = API_CLIENT_LEVEL;
    session->connectTimeout = API_CONNECT_TIMEOUT;
    session->receiveTimeout = API_RECEIVE_TIMEOUT;
    session->cipherReady = XNPCipher_SetUp(&session->cipher) == 1;
    session->statisticsOwner = session;

    const char* logDirectory = getenv("ZYMBAPILOGDIR");
    if (logDirectory != nullptr) {
        char name[4096];
        snprintf(name, sizeof name, "%s/ZYMBAPILOG-%6.6u.txt", logDirectory,
                 static_cast<unsigned>(getpid()));
        // The trace holds the requests: a new file for its owner, never through a link.
        int fd = Platform_CreateNewFile(name, sizeof name, 0640);
        if (fd >= 0 && (session->apiLog = fdopen(fd, "w")) == nullptr) close(fd);
        ApiLogLine(session, "%s (API Version=%s %s)\n", "ZYMB10API_Init", __DATE__, __TIME__);
    }
    return 1;
}

int ZYMB10API_Term(ZYMB10APISession* session) {
    XNPTCPClient_Shutdown(session);
    ReportStatistics(session);
    XNPTCPClient_Close(session);
    if (session->apiLog != nullptr) {
        ApiLogLine(session, "%s\n", "ZYMB10API_Term");
        fclose(session->apiLog);
        session->apiLog = nullptr;
    }
    return 1;
}
