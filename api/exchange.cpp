// The message exchange: builds the request message (compressed, then enciphered when the
// server asked for it), sends it, and reads back one response into a single allocation,
// deciphered and inflated, checking every length the server declares.
#include "api/exchange.h"

#include <openssl/crypto.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "api/api_log.h"
#include "api/byte_order.h"
#include "api/codes.h"
#include "api/compression.h"
#include "api/transport.h"
#include "platform/io.h"

namespace {

struct FreeBytes {
    void operator()(void* bytes) const { free(bytes); }
};
using Bytes = std::unique_ptr<uint8_t, FreeBytes>;

ZYMB10APIResponse* FailureResponse(uint8_t rc) {
    auto* response = static_cast<ZYMB10APIResponse*>(calloc(1, RESPONSE_RECORD_SIZE));
    if (response != nullptr) {
        response->RC = rc;
        response->Payload = reinterpret_cast<uint8_t*>(response) + RESPONSE_RECORD_SIZE;
    }
    return response;
}

// The stream can no longer be followed: stop using the connection.
ZYMB10APIResponse* LostStream(ZYMB10APISession* session) {
    XNPTCPClient_Shutdown(session);
    return FailureResponse(RC_RECEIVE_FAILED);
}

bool TimedOut(ssize_t result) {
    return result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

// A receive that did not complete. One that timed out says so, and leaves the stream,
// whose position is now unknown.
ZYMB10APIResponse* ReceiveFailed(ZYMB10APISession* session, ssize_t received) {
    if (!TimedOut(received)) return FailureResponse(RC_RECEIVE_FAILED);
    ApiReport(session, MSG_ERROR, "Receive timed out: no data from the server for %u seconds",
              session->receiveTimeout);
    return LostStream(session);
}

void CountReceived(ZYMB10APISession* session, ssize_t received) {
    if (received > 0) session->bytesReceived += static_cast<uint32_t>(received);
}

// Sends the request as the exchange has prepared it. False when nothing could be sent.
bool SendMessage(ZYMB10APISession* session, const ZYMB10APIRequest& request,
                 const uint8_t* payload) {
    const uint64_t payloadBytes = uint64_t{request.Length} + request.PadCount;
    const uint64_t total = REQUEST_HEADER_SIZE + payloadBytes;
    if (total > UINT32_MAX || (payloadBytes > 0 && payload == nullptr)) return false;
    Bytes message(static_cast<uint8_t*>(malloc(total)));
    if (!message) return false;
    WriteRequestHeader(message.get(), request, static_cast<uint32_t>(total));
    if (payloadBytes > 0) memcpy(message.get() + REQUEST_HEADER_SIZE, payload, payloadBytes);
    const ssize_t sent = SendAll(session->socket, message.get(), total);
    const bool timedOut = TimedOut(sent);
    // A logon request holds the password or its digest; no copy outlives the send.
    OPENSSL_cleanse(message.get(), total);
    if (timedOut)
        ApiReport(session, MSG_ERROR, "Send timed out: the server took no data for %u seconds",
                  session->receiveTimeout);
    if (sent <= 0) return false;
    session->bytesSent += static_cast<uint32_t>(sent);
    return true;
}

// Reads one response message; a failure response when it is not received completely.
ZYMB10APIResponse* ReceiveMessage(ZYMB10APISession* session) {
    uint8_t header[RESPONSE_HEADER_SIZE];
    ssize_t received = ReceiveExact(session->socket, header, 4);
    CountReceived(session, received);
    if (received != 4) return ReceiveFailed(session, received);
    const uint32_t total = LoadBigEndian32(header);
    if (total < RESPONSE_HEADER_SIZE || total > RESPONSE_LENGTH_LIMIT) {
        return LostStream(session);
    }
    received = ReceiveExact(session->socket, header + 4, RESPONSE_HEADER_SIZE - 4);
    CountReceived(session, received);
    if (received != RESPONSE_HEADER_SIZE - 4) return ReceiveFailed(session, received);

    const uint32_t payloadBytes = total - RESPONSE_HEADER_SIZE;
    auto* response =
        static_cast<ZYMB10APIResponse*>(malloc(RESPONSE_RECORD_SIZE + size_t{payloadBytes}));
    if (response == nullptr) return LostStream(session);
    ReadResponseHeader(header, response);
    response->Payload = reinterpret_cast<uint8_t*>(response) + RESPONSE_RECORD_SIZE;
    if (payloadBytes > 0) {
        received = ReceiveExact(session->socket, response->Payload, payloadBytes);
        CountReceived(session, received);
        if (received != static_cast<ssize_t>(payloadBytes)) {
            free(response);
            return ReceiveFailed(session, received);
        }
    }
    return response;
}

// Deciphers in place. False when the payload cannot be read back: enciphered payloads
// come in whole 32-byte units, and a payload left enciphered must not pass for plain.
bool Decipher(ZYMB10APISession* session, ZYMB10APIResponse* response) {
    const uint64_t enciphered = uint64_t{response->PayloadLength} + response->PadCount;
    if (response->PayloadLength == 0) return true;
    if (enciphered % XNP_CIPHER_UNIT != 0 || !session->cipherReady) return false;
    // Deciphered where it arrived; a decipher routine that insists on a buffer of its
    // own still works.
    uint8_t* plain = response->Payload;
    if (!PayloadCipher_Decrypt(&session->cipher, response->Payload,
                               static_cast<uint32_t>(enciphered), &plain))
        return false;
    if (plain != response->Payload) {
        memcpy(response->Payload, plain, response->PayloadLength);
        free(plain);
    }
    return true;
}

// Replaces the response by one holding the inflated payload. None when it does not
// inflate to exactly the announced length; the old response is released either way.
ZYMB10APIResponse* Inflate(ZYMB10APIResponse* response) {
    const uint64_t inflated = uint64_t{response->PayloadLength} + response->Expansion;
    Bytes old(reinterpret_cast<uint8_t*>(response));
    if (inflated + RESPONSE_RECORD_SIZE > RESPONSE_LENGTH_LIMIT) return nullptr;
    auto* bigger = static_cast<ZYMB10APIResponse*>(malloc(RESPONSE_RECORD_SIZE + inflated));
    if (bigger == nullptr) return nullptr;
    memcpy(bigger, response, RESPONSE_RECORD_SIZE);
    bigger->Payload = reinterpret_cast<uint8_t*>(bigger) + RESPONSE_RECORD_SIZE;
    if (!InflatePayload(response->Payload, response->PayloadLength, bigger->Payload,
                        static_cast<uint32_t>(inflated))) {
        free(bigger);
        return nullptr;
    }
    bigger->PayloadLength = static_cast<uint32_t>(inflated);
    bigger->TotalLength = static_cast<uint32_t>(inflated + RESPONSE_RECORD_SIZE);
    bigger->Expansion = 0;
    return bigger;
}

}  // namespace

void WriteRequestHeader(uint8_t* header, const ZYMB10APIRequest& request, uint32_t totalLength) {
    StoreBigEndian32(header, totalLength);
    header[4] = request.Function;
    header[5] = request.PadCount;
    header[6] = request.ClientLevel;
    header[7] = request.FormatLevel;
    StoreBigEndian32(header + 8, request.Flags);
    StoreBigEndian32(header + 12, request.OptArgs);
    StoreBigEndian32(header + 16, request.Length);
    StoreBigEndian32(header + 20, request.Expansion);
    StoreBigEndian32(header + 24, 0);
}

void ReadRequestHeader(const uint8_t* header, ZYMB10APIRequest* request, uint32_t* totalLength) {
    *totalLength = LoadBigEndian32(header);
    request->TotalLength = *totalLength;
    request->Function = header[4];
    request->PadCount = header[5];
    request->ClientLevel = header[6];
    request->FormatLevel = header[7];
    request->Flags = LoadBigEndian32(header + 8);
    request->OptArgs = LoadBigEndian32(header + 12);
    request->Length = LoadBigEndian32(header + 16);
    request->Expansion = LoadBigEndian32(header + 20);
    request->Payload = nullptr;
}

void WriteResponseHeader(uint8_t* header, const ZYMB10APIResponse& response) {
    StoreBigEndian32(header, response.TotalLength);
    header[4] = response.RC;
    header[5] = response.Feedback;
    header[6] = response.PadCount;
    header[7] = response.FormatLevel;
    StoreBigEndian32(header + 8, response.MiliSecs);
    StoreBigEndian32(header + 12, response.Length);
    StoreBigEndian32(header + 16, response.Avail);
    StoreBigEndian32(header + 20, response.Count);
    StoreBigEndian32(header + 24, response.ReservedA);
    StoreBigEndian32(header + 28, response.ReservedB);
    StoreBigEndian32(header + 32, response.PayloadLength);
    StoreBigEndian32(header + 36, response.Expansion);
    StoreBigEndian32(header + 40, 0);
}

void ReadResponseHeader(const uint8_t* header, ZYMB10APIResponse* response) {
    response->TotalLength = LoadBigEndian32(header);
    response->RC = header[4];
    response->Feedback = header[5];
    response->PadCount = header[6];
    response->FormatLevel = header[7];
    response->MiliSecs = LoadBigEndian32(header + 8);
    response->Length = LoadBigEndian32(header + 12);
    response->Avail = LoadBigEndian32(header + 16);
    response->Count = LoadBigEndian32(header + 20);
    response->ReservedA = LoadBigEndian32(header + 24);
    response->ReservedB = LoadBigEndian32(header + 28);
    response->PayloadLength = LoadBigEndian32(header + 32);
    response->Expansion = LoadBigEndian32(header + 36);
}

ZYMB10APIResponse* XNPTCPClient_Exchange(ZYMB10APISession* session, ZYMB10APIRequest* request) {
    const ZYMB10APIRequest callerRequest = *request;
    request->Flags |= REQUEST_FLAG_ALWAYS;
    request->ClientLevel = session->clientLevel;
    request->Expansion = 0;
    request->PadCount = 0;

    const uint8_t* payload = static_cast<const uint8_t*>(request->Payload);
    Bytes compressed;
    if (request->Length > COMPRESSION_THRESHOLD && payload != nullptr) {
        compressed.reset(static_cast<uint8_t*>(malloc(request->Length)));
        const uint32_t length =
            compressed ? CompressPayload(payload, request->Length, compressed.get()) : 0;
        if (length > 0) {
            request->Expansion = request->Length - length;
            request->Length = length;
            payload = compressed.get();
        }
    }
    Bytes enciphered;
    if ((session->stateFlags & SESSION_CIPHER_ACTIVE) && session->cipherReady &&
        request->Length > 0 && payload != nullptr) {
        uint8_t* output = nullptr;
        uint32_t paddedLength = 0;
        if (PayloadCipher_Encrypt(&session->cipher, payload, request->Length, &output,
                                  &paddedLength)) {
            enciphered.reset(output);
            payload = output;
            request->Flags |= REQUEST_FLAG_ENCIPHERED;
            request->PadCount = static_cast<uint8_t>(paddedLength - request->Length);
        }
    }
    const bool sent = SendMessage(session, *request, payload);
    if (compressed) OPENSSL_cleanse(compressed.get(), callerRequest.Length);
    if (enciphered)
        OPENSSL_cleanse(enciphered.get(), uint32_t{request->Length} + request->PadCount);
    *request = callerRequest;
    if (!sent) return FailureResponse(RC_SEND_FAILED);

    ZYMB10APIResponse* response = ReceiveMessage(session);
    if (response == nullptr || response->TotalLength == 0) return response;  // failure record

    if (response->FormatLevel > API_FORMAT_LEVEL) {
        session->stateFlags |= SESSION_CIPHER_ACTIVE;
    } else {
        session->stateFlags &= ~SESSION_CIPHER_ACTIVE;
    }
    const uint64_t arrived = response->TotalLength - RESPONSE_HEADER_SIZE;
    if (uint64_t{response->PayloadLength} + response->PadCount > arrived ||
        ((session->stateFlags & SESSION_CIPHER_ACTIVE) && !Decipher(session, response))) {
        free(response);
        return FailureResponse(RC_RECEIVE_FAILED);
    }
    if (response->Expansion != 0) {
        response = Inflate(response);
        if (response == nullptr) return FailureResponse(RC_RECEIVE_FAILED);
    }
    if (uint64_t{response->Count} * response->Length > response->PayloadLength) {
        free(response);
        return FailureResponse(RC_RECEIVE_FAILED);
    }

    session->queriesCompleted++;
    ZYMB10API_CountResult(session->statisticsOwner, response);
    return response;
}

ZYMB10APIResponse* ZYMB10API_Send(ZYMB10APISession* session, ZYMB10APIRequest* request) {
    request->FormatLevel = API_FORMAT_LEVEL;
    ApiLogLine(session, "%s: Function(%s) Length(%u) Flags(%u) OptArgs(%u)\n", "ZYMB10API_Send",
               FunctionNameText(request->Function), request->Length, request->Flags,
               request->OptArgs);
    ZYMB10APIResponse* response = XNPTCPClient_Exchange(session, request);
    if (response == nullptr) return nullptr;
    ApiLogLine(session, "%s: RC(%s) Feedback(%u) MiliSecs(%u) Avail(%u) Count(%u) Length(%u)\n",
               "ZYMB10API_Send", ResultMessageText(response->RC), response->Feedback,
               response->MiliSecs, response->Avail, response->Count, response->Length);
    if (response->RC != RC_OK && (session->options & API_REPORT_FAILING_RESULTS)) {
        ApiReport(session, MSG_ERROR, "Function %s returned (%u:%u) %s",
                  FunctionNameText(request->Function), response->RC, response->Feedback,
                  ResultMessageText(response->RC));
    }
    return response;
}

uint8_t ZYMB10API_FreeResponse(ZYMB10APIResponse* response) {
    if (response == nullptr) return RC_RECEIVE_FAILED;
    const uint8_t rc = response->RC;
    free(response);
    return rc;
}

void ZYMB10API_CountResult(ZYMB10APISession* session, const ZYMB10APIResponse* response) {
    if (session != nullptr && response != nullptr) session->resultCounters[response->RC]++;
}
