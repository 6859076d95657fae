// The server API client's records: the session (one connection to the Corvantix server
// and its state), the request a caller fills and the response the exchange allocates.
// The operations are plain functions that take the session: ZYMB10API_Connect, _Logon,
// _Send and _Term here and in connect.h, logon.h and exchange.h; the file operations in
// file_transfer.h.
//
// Ownership: the session owns its socket, its API log file and its key instances. The
// caller owns each request and its argument block; every response belongs to the caller
// of ZYMB10API_Send, who releases it with ZYMB10API_FreeResponse (or free()).
//
// Results are the API's result codes (0 = "Request OK", codes.h) unless an operation
// says otherwise; a failure is reported once, to the message sink, where it is detected.
#pragma once
#include <cstdint>
#include <cstdio>

#include "api/cipher.h"
#include "base/message_sink.h"

struct ZYMB10APISession;

// Session options set by the caller.
constexpr uint32_t API_REPORT_FAILING_RESULTS = 0x1;  // report every result code but 0
constexpr uint32_t API_PLAIN_PASSWORD = 0x2;          // send the password as text
constexpr uint32_t API_SINGLE_SIGN_ON = 0x4;          // log on with Kerberos

// Session state flags.
constexpr uint32_t SESSION_CIPHER_ACTIVE = 0x4;  // the last response switched the cipher on

constexpr uint8_t API_CLIENT_LEVEL = 100;
// Defaults that suit a slow wide-area link: a server that stops answering never holds a
// run for ever.
constexpr uint32_t API_CONNECT_TIMEOUT = 30;
constexpr uint32_t API_RECEIVE_TIMEOUT = 300;
constexpr uint8_t API_FORMAT_LEVEL = 3;  // what requests carry; responses above it encipher

// Request flag bits.
constexpr uint32_t REQUEST_FLAG_LOGON = 0x80;
constexpr uint32_t REQUEST_FLAG_ALWAYS = 0x2000 | 0x4000;  // set on every request
constexpr uint32_t REQUEST_FLAG_ENCIPHERED = 0x8000;

// Filled by the caller. After ZYMB10API_Send returns the request is exactly as the caller
// left it except FormatLevel, which holds 3, so it may be changed and sent again.
struct ZYMB10APIRequest {
    uint32_t TotalLength;  // 32 + Length by convention; the wire length is computed
    uint8_t Function;      // function code
    uint8_t PadCount;      // set by the exchange while sending; callers leave 0
    uint8_t ClientLevel;   // set by the exchange while sending
    uint8_t FormatLevel;   // set to 3 by ZYMB10API_Send
    uint32_t Flags;        // the caller's own bits; the exchange adds its own while sending
    uint32_t OptArgs;      // a function-specific number
    uint32_t Length;       // bytes of the argument block; 0 = none
    uint32_t Expansion;    // set by the exchange while sending; callers leave 0
    const void* Payload;   // the argument block, Length bytes
};

// One allocation: this 48-byte record immediately followed by the payload bytes.
struct ZYMB10APIResponse {
    uint32_t TotalLength;  // bytes received (header and payload); 48 + payload if inflated
    uint8_t RC;            // result code; 0 = "Request OK"
    uint8_t Feedback;      // secondary code, meaning by function
    uint8_t PadCount;      // cipher padding that followed the payload on the wire
    uint8_t FormatLevel;   // above 3: the server enciphers payloads
    uint32_t MiliSecs;     // a duration reported by the server
    uint32_t Length;       // bytes of one item of a list payload
    uint32_t Avail;        // a count reported alongside Count; not interpreted
    uint32_t Count;        // items in this payload; Count * Length fits in the payload
    uint32_t ReservedA;
    uint32_t ReservedB;
    uint32_t PayloadLength;  // bytes of the payload behind the record
    uint32_t Expansion;      // 0 once the payload is inflated
    uint8_t* Payload;        // the bytes right behind this record
};
static_assert(sizeof(ZYMB10APIResponse) == 48, "the response record is 48 bytes");

// The proxy a session connects through, set by the caller after init. The texts belong
// to the caller and stay valid until the connect returns.
struct ZYMB10APIProxy {
    const char* host;  // none = connect directly
    const char* port;
    const char* user;      // none or "" = no credentials are sent
    const char* password;  // none while user is set: the caller could not get it
};

struct ZYMB10APISession {
    // Transport state.
    int socket;               // 0 before the first connect; -1 after close
    int32_t resolutionError;  // result of the last name resolution; 0 = resolved
    int32_t socketError;      // errno of the last failed connect
    char peerAddress[32];     // numeric IPv4 text of the connected (or proxy) address
    char triedAddress[48];    // "address:port" of the last connect tried, for its failure
    uint8_t clientLevel;      // 100
    uint32_t stateFlags;      // SESSION_CIPHER_ACTIVE
    XNPCipherBlock cipher;    // encipher key, decipher key, cipher mode
    bool cipherReady;         // the keys were set up: payloads can be enciphered
    uint32_t connectTime;     // seconds since 1970 of the TCP connect; 0 = never connected
    uint32_t queriesCompleted;
    uint32_t bytesSent;
    uint32_t bytesReceived;
    ZYMB10APISession* statisticsOwner;  // whose result counters each response counts in
    MessageSink messageSink;            // set by the caller after init; no write operation = silent
    ZYMB10APIProxy proxy;               // set by the caller after init; no host = direct
    FILE* apiLog;                       // open when ZYMBAPILOGDIR was set at init
    uint32_t options;                   // API_REPORT_FAILING_RESULTS, API_PLAIN_PASSWORD, ...
    uint32_t logonArgument;             // OptArgs of the logon request
    // Time-outs in seconds, set by init and changeable by the caller before the connect;
    // 0 waits forever. A receive (or send) times out when no byte moves for that long.
    uint32_t connectTimeout;  // API_CONNECT_TIMEOUT
    uint32_t receiveTimeout;  // API_RECEIVE_TIMEOUT
    uint32_t resultCounters[256];
};

// The first call on a session: clears it, sets up the cipher and opens the API log when
// ZYMBAPILOGDIR is set. Returns 1.
int ZYMB10API_Init(ZYMB10APISession* session);
// The last call: shuts down, reports the statistics to the message sink, closes the
// socket and the API log. Safe in every state. Returns 1.
int ZYMB10API_Term(ZYMB10APISession* session);
