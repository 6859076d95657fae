// Logging on to the server: Kerberos single sign-on or user and password (normally sent
// as an MD5 digest), the previous-logon report, the server's identity and the optional
// inheritance of another user's access.
#pragma once
#include <cstdint>

#include "api/session.h"

constexpr uint32_t LOGON_BLOCK_SIZE = 620;
constexpr uint32_t USER_RECORD_SIZE = 64;
constexpr uint32_t SERVER_IDENTITY_LIMIT = 1128;
constexpr uint32_t LOGON_FLAG_PLAIN = 0x20;
// The user record the logon answers with: the previous logon's time (big-endian) and
// IPv4 address, the flag byte and the user ID (16 bytes).
constexpr uint32_t USER_RECORD_LAST_LOGON = 0, USER_RECORD_ADDRESS = 8;
constexpr uint32_t USER_RECORD_FLAGS = 17, USER_RECORD_USER = 20;
constexpr uint8_t USER_RECORD_INHERITABLE = 0x08;  // bit of the flag byte
// The "ID-Server" reply: the server's name (20 bytes) at this offset.
constexpr uint32_t SERVER_NAME_OFFSET = 20, SERVER_NAME_SIZE = 20;
// Largest Kerberos token either side of a "List-SSO" exchange may carry. Tickets with
// large authorisation data stay well below it; a reply token above it is refused.
constexpr uint32_t SSO_TOKEN_LIMIT = 64 * 1024;

// Offsets in the logon block.
constexpr uint32_t LOGON_PROGRAM_ID = 4;
constexpr uint32_t LOGON_CLIENT_LEVEL = 6;
constexpr uint32_t LOGON_TIME_ZONE = 7;
constexpr uint32_t LOGON_USER_ID = 8;  // 16 bytes
constexpr uint32_t LOGON_DIGEST = 24;  // 16 bytes
constexpr uint32_t LOGON_FLAGS = 40;
constexpr uint32_t LOGON_PRINCIPAL = 44;        // 320 bytes
constexpr uint32_t LOGON_PLAIN_PASSWORD = 364;  // 256 bytes

// 0 logged on; 121 single sign-on failed; otherwise the server's result for the logon or
// for the inheritance request. userRecord, when given, receives the 64-byte user record.
int ZYMB10API_Logon(ZYMB10APISession* session, const char* user, const char* password,
                    uint16_t programId, uint8_t* userRecord);
// Kerberos single sign-on through "List-SSO" exchanges with the default credentials of
// the user's ticket cache; true when the server accepted the user. target is a Kerberos
// principal name; none (or empty) derives "corvantix/HOST" from the peer address.
bool ZYMB10API_SingleSignOn(ZYMB10APISession* session, const char* target);
// The 16 bytes that stand for a password: the bytes spelled by exactly 32 upper-case
// hexadecimal digits, else the password's MD5 digest. A static buffer overwritten by
// the next call.
const uint8_t* ZYMB10API_PasswordDigest(const char* password);
