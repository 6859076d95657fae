// The development server's side of the wire: reading a request (deciphered and inflated
// as its header announces) and sending a reply (compressed and enciphered as the server
// is set up), with the faults of the request applied on the way out.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "api/cipher.h"
#include "api/logon.h"
#include "api/session.h"
#include "devserver/faults.h"

// Largest request payload the server takes, as declared on the wire and once inflated.
// Requests are small (a logon block is 620 bytes, a section request 20); the largest a
// client sends is a Kerberos token, which the client itself keeps to SSO_TOKEN_LIMIT. A
// request that declares more closes the connection before anything is read for it.
constexpr uint32_t REQUEST_PAYLOAD_LIMIT = SSO_TOKEN_LIMIT;

struct IncomingRequest {
    ZYMB10APIRequest header;  // as on the wire; Length is the plain payload length
    uint32_t totalLength = 0;
    std::vector<uint8_t> payload;  // deciphered and inflated
};

// What a handler answers; the wire form is made by SendReply.
struct Reply {
    uint8_t rc = 0;
    uint8_t feedback = 0;
    uint32_t itemLength = 0;
    uint32_t count = 0;
    uint32_t avail = 0;
    std::vector<uint8_t> payload;
    bool packed = false;  // the payload is compressed data already: never deflated again
};

enum class ReadOutcome {
    Request,     // a request arrived
    Closed,      // the client closed between requests
    Broken,      // a header that cannot be followed, or a close inside a message
    BadPayload,  // complete, but its payload does not decipher or inflate
    Idle,        // the socket's receive time-out passed without a byte
};

// Reads one request; the payload is taken as it arrives, never more than
// REQUEST_PAYLOAD_LIMIT. why tells the log what went wrong for Broken and BadPayload.
ReadOutcome ReadRequest(int socket, const XNPCipherBlock& cipher, IncomingRequest* request,
                        std::string* why);

struct ReplyStyle {
    bool cipher;    // format level 4 and enciphered payloads, else level 3 and plain
    bool compress;  // compress payloads over 64 bytes when that makes them shorter
    uint32_t milliseconds;
};

// Sends the reply. False when the connection is to be closed (a fault said so, or the
// client is gone). bytesSent receives what went out.
bool SendReply(int socket, const Reply& reply, const ReplyStyle& style,
               const XNPCipherBlock& cipher, const std::vector<Fault>& faults, size_t* bytesSent);
