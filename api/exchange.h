// One request out, one response back: the wire form, compression, the payload cipher,
// counters and tracing of the message exchange.
//
// Nothing the server sends is trusted. A response is refused, and replaced by a failure
// response with RC 15 "Received failed", when
//   - its declared total length is below 44 or above RESPONSE_LENGTH_LIMIT (refused
//     before anything is allocated; the connection is shut down, as the stream can no
//     longer be followed),
//   - fewer bytes arrive than it declares,
//   - PayloadLength + PadCount exceeds the payload bytes that arrived,
//   - a compressed payload does not inflate, or inflates to another length than
//     PayloadLength + Expansion, or would exceed RESPONSE_LENGTH_LIMIT,
//   - Count x Length exceeds the (inflated) payload.
// A send that fails gives a failure response with RC 25. Failure responses are zeroed
// 48-byte records carrying only the RC; they are not counted as completed queries.
#pragma once
#include <cstdint>

#include "api/session.h"

constexpr uint32_t REQUEST_HEADER_SIZE = 28;
constexpr uint32_t RESPONSE_HEADER_SIZE = 44;
constexpr uint32_t RESPONSE_RECORD_SIZE = sizeof(ZYMB10APIResponse);
// Largest response (header and payload, also after inflation) the client accepts:
// 64 MiB, far above a 65000-byte section or a list of many thousand 432-byte items.
constexpr uint32_t RESPONSE_LENGTH_LIMIT = 64u << 20;

// Wire form of the headers, shared with the development server. Request fields are
// written as given (the exchange has already set its own bits); totalLength is the
// whole message length.
void WriteRequestHeader(uint8_t* header, const ZYMB10APIRequest& request, uint32_t totalLength);
void ReadRequestHeader(const uint8_t* header, ZYMB10APIRequest* request, uint32_t* totalLength);
void WriteResponseHeader(uint8_t* header, const ZYMB10APIResponse& response);
// Fills every field of the response record from a 44-byte header except Payload.
void ReadResponseHeader(const uint8_t* header, ZYMB10APIResponse* response);

// Sends a request: traces the request and its result to the API log, reports a failing
// result when the session asks for it, and returns the response, which belongs to the
// caller. Sets the request's FormatLevel to 3; the rest of the request is left as it was.
ZYMB10APIResponse* ZYMB10API_Send(ZYMB10APISession* session, ZYMB10APIRequest* request);
// One exchange without tracing. None only when not even the 48-byte
// failure record can be allocated.
ZYMB10APIResponse* XNPTCPClient_Exchange(ZYMB10APISession* session, ZYMB10APIRequest* request);
// Releases a response; returns its RC (15 for none).
uint8_t ZYMB10API_FreeResponse(ZYMB10APIResponse* response);
// Counts one more completed response with this RC.
void ZYMB10API_CountResult(ZYMB10APISession* session, const ZYMB10APIResponse* response);
