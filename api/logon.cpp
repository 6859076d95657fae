// Logon with user and password, the previous-logon report, the server identity and the
// inheritance of another user's access.
#include "api/logon.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "api/api_log.h"
#include "api/byte_order.h"
#include "api/codes.h"
#include "api/exchange.h"
#include "api/transport.h"
#include "base/shown_text.h"
#include "base/value_format.h"

namespace {

// The standard offset from UTC in units of 10 minutes, east positive; 0 for a zone
// without daylight-saving rules, as the server has always been told.
int8_t TimeZoneUnits() {
    tzset();
    if (daylight == 0) return 0;
    const long biasMinutes = timezone / 60;  // UTC minus local standard time
    return static_cast<int8_t>(biasMinutes / -10);
}

void CopyText(uint8_t* field, size_t width, const char* text) {
    const size_t length = strnlen(text, width);
    memcpy(field, text, length);
}

void ReportLastLogon(ZYMB10APISession* session, const uint8_t* record) {
    const time_t when = LoadBigEndian32(record + USER_RECORD_LAST_LOGON);
    char timeText[128];
    FormatLocalTime(when, "%A, %B %d, %Y - %H:%M:%S", timeText, sizeof timeText);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    memcpy(&address.sin_addr, record + USER_RECORD_ADDRESS, 4);
    char dotted[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address.sin_addr, dotted, sizeof dotted);
    char host[NI_MAXHOST];
    char from[sizeof dotted + NI_MAXHOST + 4];
    if (getnameinfo(reinterpret_cast<sockaddr*>(&address), sizeof address, host, sizeof host,
                    nullptr, 0, NI_NAMEREQD) == 0) {
        snprintf(from, sizeof from, "%s (%s)", dotted, host);
    } else {
        snprintf(from, sizeof from, "%s", dotted);
    }
    // A name from the resolver is a text from elsewhere, as the server's are.
    ApiReport(session, MSG_INFO, "Last Logon was at %s from %s", timeText, ShownText(from).c_str());
}

int InheritAccess(ZYMB10APISession* session, const uint8_t* userRecord, const char* fromUser) {
    if ((userRecord[USER_RECORD_FLAGS] & USER_RECORD_INHERITABLE) == 0) {
        ApiReport(session, MSG_ERROR, "This user does not allow access inheretence");
        return RC_OK;
    }
    uint8_t userId[16] = {};
    CopyText(userId, sizeof userId, fromUser);
    ZYMB10APIRequest request = {};
    request.TotalLength = 48;
    request.Function = FUNCTION_INHERIT_ACCESS;
    request.Length = sizeof userId;
    request.Payload = userId;
    ZYMB10APIResponse* response = ZYMB10API_Send(session, &request);
    const int rc = response ? response->RC : RC_RECEIVE_FAILED;
    if (rc == RC_OK) {
        ApiReport(session, MSG_NOTICE, "This User has now inheritted the access of User-ID: %s",
                  fromUser);
    } else {
        ApiReport(session, MSG_ERROR, "Failed to inherit the access of User-ID: %s", fromUser);
    }
    ZYMB10API_FreeResponse(response);
    return rc;
}

}  // namespace

namespace {
// The digest is as good as the password to the server: it lives only in the caller's
// buffer, and the work copy is cleansed.
void ComputePasswordDigest(const char* password, uint8_t (&digest)[16]) {
    memset(digest, 0, sizeof digest);
    if (password == nullptr) password = "";
    const size_t length = strlen(password);
    // Only upper-case digits spell a digest; anything else is a password to be hashed.
    bool spelled = length == 32;
    for (size_t i = 0; spelled && i < length; ++i) {
        spelled = HexDigitValue(password[i]) >= 0 && !(password[i] >= 'a' && password[i] <= 'f');
    }
    if (spelled) {
        for (size_t i = 0; i < 16; ++i) {
            digest[i] = static_cast<uint8_t>(HexDigitValue(password[2 * i]) << 4 |
                                             HexDigitValue(password[2 * i + 1]));
        }
        return;
    }
    unsigned int digestLength = 0;
    uint8_t computed[EVP_MAX_MD_SIZE];
    if (EVP_Digest(password, length, computed, &digestLength, EVP_md5(), nullptr) == 1 &&
        digestLength == sizeof digest) {
        memcpy(digest, computed, sizeof digest);
    }
    OPENSSL_cleanse(computed, sizeof computed);
}
}  // namespace

const uint8_t* ZYMB10API_PasswordDigest(const char* password) {
    static uint8_t digest[16];
    ComputePasswordDigest(password, digest);
    return digest;
}

int ZYMB10API_Logon(ZYMB10APISession* session, const char* user, const char* password,
                    uint16_t programId, uint8_t* userRecord) {
    ApiReport(session, MSG_INFO, "Logging on to Corvantix Server");
    // The switch holds for every session, with a message sink or without one.
    if (!(session->options & API_PLAIN_PASSWORD) && getenv("ZYMBNOMD5") != nullptr) {
        session->options |= API_PLAIN_PASSWORD;
    }
    const char* kerberos = getenv("ZYMBKERBEROS");
    bool singleSignOn = false;
    if (kerberos != nullptr || (session->options & API_SINGLE_SIGN_ON)) {
        singleSignOn = true;
        const char* target = kerberos != nullptr && strcmp(kerberos, ".") != 0 ? kerberos : nullptr;
        if (!ZYMB10API_SingleSignOn(session, target)) return RC_SINGLE_SIGN_ON_FAILED;
    }

    uint8_t block[LOGON_BLOCK_SIZE] = {};
    uint32_t logonFlags = 0;
    if (!singleSignOn) {
        if (user == nullptr) user = "";
        if (password == nullptr) password = "";
        if (strchr(user, '@') != nullptr) {
            CopyText(block + LOGON_PRINCIPAL, 320, user);
        } else {
            CopyText(block + LOGON_USER_ID, 16, user);
        }
        if (session->options & API_PLAIN_PASSWORD) {
            CopyText(block + LOGON_DIGEST, 16, password);
            CopyText(block + LOGON_PLAIN_PASSWORD, 256, password);
            logonFlags |= LOGON_FLAG_PLAIN;
        } else {
            uint8_t digest[16];
            ComputePasswordDigest(password, digest);
            memcpy(block + LOGON_DIGEST, digest, sizeof digest);
            OPENSSL_cleanse(digest, sizeof digest);
        }
    }
    StoreBigEndian16(block + LOGON_PROGRAM_ID, programId);
    block[LOGON_CLIENT_LEVEL] = session->clientLevel;
    block[LOGON_TIME_ZONE] = static_cast<uint8_t>(TimeZoneUnits());
    StoreBigEndian32(block + LOGON_FLAGS, logonFlags);

    ZYMB10APIRequest request = {};
    request.TotalLength = 32 + LOGON_BLOCK_SIZE;
    request.Function = FUNCTION_LOGON;
    request.Flags = REQUEST_FLAG_LOGON;
    request.OptArgs = session->logonArgument;
    request.Length = LOGON_BLOCK_SIZE;
    request.Payload = block;
    ZYMB10APIResponse* response = ZYMB10API_Send(session, &request);
    OPENSSL_cleanse(block, sizeof block);
    const int rc = response ? response->RC : RC_RECEIVE_FAILED;
    if (rc != RC_OK) {
        ApiReport(session, MSG_WARNING, "Logon failed: %s", ResultMessageText(rc));
        XNPTCPClient_Shutdown(session);
        ZYMB10API_FreeResponse(response);
        return rc;
    }
    uint8_t ownRecord[USER_RECORD_SIZE] = {};
    uint8_t* record = userRecord != nullptr ? userRecord : ownRecord;
    const uint32_t recordBytes =
        response->PayloadLength < USER_RECORD_SIZE ? response->PayloadLength : USER_RECORD_SIZE;
    memset(record, 0, USER_RECORD_SIZE);
    memcpy(record, response->Payload, recordBytes);
    if (session->messageSink.write != nullptr) ReportLastLogon(session, record);
    ZYMB10API_FreeResponse(response);

    ZYMB10APIRequest identify = {};
    identify.TotalLength = 32;
    identify.Function = FUNCTION_ID_SERVER;
    ZYMB10APIResponse* identity = ZYMB10API_Send(session, &identify);
    char serverName[SERVER_NAME_SIZE + 1] = "";
    if (identity != nullptr && identity->RC == RC_OK &&
        identity->PayloadLength > SERVER_NAME_OFFSET) {
        const uint32_t kept = identity->PayloadLength < SERVER_IDENTITY_LIMIT
                                  ? identity->PayloadLength
                                  : SERVER_IDENTITY_LIMIT;
        const uint32_t nameBytes = kept - SERVER_NAME_OFFSET < SERVER_NAME_SIZE
                                       ? kept - SERVER_NAME_OFFSET
                                       : SERVER_NAME_SIZE;
        memcpy(serverName, identity->Payload + SERVER_NAME_OFFSET, nameBytes);
    }
    ZYMB10API_FreeResponse(identity);
    if (session->messageSink.write == nullptr) return RC_OK;

    ApiReport(
        session, MSG_INFO, "Welcome to Server: %s",
        ShownText(std::string_view(serverName, strnlen(serverName, SERVER_NAME_SIZE))).c_str());
    const char* inheritFrom = getenv("ZYMBUSERINHERIT");
    if (inheritFrom != nullptr) return InheritAccess(session, record, inheritFrom);
    return RC_OK;
}
