// Request reading and reply sending for the development server.
#include "devserver/server_wire.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "api/compression.h"
#include "api/exchange.h"
#include "platform/io.h"

namespace {

struct FreeBytes {
    void operator()(uint8_t* bytes) const { free(bytes); }
};

// Compresses whatever it is given, even when that makes it longer.
std::vector<uint8_t> ForceCompress(const std::vector<uint8_t>& plain) {
    uLongf length = compressBound(plain.size());
    std::vector<uint8_t> out(length);
    compress2(out.data(), &length, plain.data(), plain.size(), 9);
    out.resize(length);
    return out;
}

bool SendPart(int socket, const uint8_t* data, size_t length, size_t* bytesSent) {
    const ssize_t sent = SendAll(socket, data, length);
    if (sent > 0) *bytesSent += static_cast<size_t>(sent);
    return sent == static_cast<ssize_t>(length);
}

}  // namespace

ReadOutcome ReadRequest(int socket, const XNPCipherBlock& cipher, IncomingRequest* request,
                        std::string* why) {
    uint8_t header[REQUEST_HEADER_SIZE];
    const ssize_t got = ReceiveExact(socket, header, sizeof header);
    if (got == 0) return ReadOutcome::Closed;
    if (got != static_cast<ssize_t>(sizeof header)) {
        *why = "connection closed inside a request header";
        return ReadOutcome::Broken;
    }
    ReadRequestHeader(header, &request->header, &request->totalLength);
    const uint64_t payloadBytes = uint64_t{request->header.Length} + request->header.PadCount;
    if (request->totalLength != REQUEST_HEADER_SIZE + payloadBytes ||
        request->totalLength > REQUEST_LENGTH_LIMIT) {
        *why = "request length " + std::to_string(request->totalLength) +
               " does not match its payload";
        return ReadOutcome::Broken;
    }
    std::vector<uint8_t> wire(payloadBytes);
    if (payloadBytes > 0 &&
        ReceiveExact(socket, wire.data(), payloadBytes) != static_cast<ssize_t>(payloadBytes)) {
        *why = "connection closed inside a request payload";
        return ReadOutcome::Broken;
    }
    if (request->header.Flags & REQUEST_FLAG_ENCIPHERED) {
        uint8_t* plain = nullptr;
        if (!PayloadCipher_Decrypt(&cipher, wire.data(), static_cast<uint32_t>(wire.size()),
                                   &plain)) {
            *why = "enciphered payload that does not decipher";
            return ReadOutcome::BadPayload;
        }
        std::unique_ptr<uint8_t, FreeBytes> owner(plain);
        wire.assign(plain, plain + request->header.Length);
    } else {
        wire.resize(request->header.Length);
    }
    if (request->header.Expansion != 0) {
        const uint64_t inflated = uint64_t{request->header.Length} + request->header.Expansion;
        if (inflated > REQUEST_LENGTH_LIMIT) {
            *why = "compressed payload too large";
            return ReadOutcome::BadPayload;
        }
        std::vector<uint8_t> plain(inflated);
        if (!InflatePayload(wire.data(), static_cast<uint32_t>(wire.size()), plain.data(),
                            static_cast<uint32_t>(inflated))) {
            *why = "compressed payload that does not inflate";
            return ReadOutcome::BadPayload;
        }
        wire.swap(plain);
    }
    request->payload.swap(wire);
    return ReadOutcome::Request;
}

bool SendReply(int socket, const Reply& reply, const ReplyStyle& style,
               const XNPCipherBlock& cipher, const std::vector<Fault>& faults, size_t* bytesSent) {
    *bytesSent = 0;
    ZYMB10APIResponse header = {};
    header.RC = reply.rc;
    header.Feedback = reply.feedback;
    header.FormatLevel = style.cipher ? 4 : 3;
    header.MiliSecs = style.milliseconds;
    header.Length = reply.itemLength;
    header.Count = reply.count;
    header.Avail = reply.avail;

    std::vector<uint8_t> plain = reply.payload;
    std::vector<uint8_t> wire;
    if (HasFault(faults, FaultKind::BadCompression)) {
        wire.assign(16, 0xA5);  // not a zlib stream
        header.Expansion = plain.size() > 100 ? static_cast<uint32_t>(plain.size()) : 100;
    } else if (HasFault(faults, FaultKind::WrongExpansion)) {
        if (plain.empty()) plain.assign(100, 0);
        wire = ForceCompress(plain);
        header.Expansion = static_cast<uint32_t>(plain.size() - wire.size() + 1);
    } else {
        wire = plain;
        if (style.compress && !reply.packed) {
            std::vector<uint8_t> compressed(plain.size());
            const uint32_t length = CompressPayload(
                plain.data(), static_cast<uint32_t>(plain.size()), compressed.data());
            if (length > 0) {
                compressed.resize(length);
                header.Expansion = static_cast<uint32_t>(plain.size() - length);
                wire.swap(compressed);
            }
        }
    }
    header.PayloadLength = static_cast<uint32_t>(wire.size());
    if (style.cipher && !wire.empty()) {
        uint8_t* enciphered = nullptr;
        uint32_t padded = 0;
        if (PayloadCipher_Encrypt(&cipher, wire.data(), static_cast<uint32_t>(wire.size()),
                                  &enciphered, &padded)) {
            header.PadCount = static_cast<uint8_t>(padded - wire.size());
            wire.assign(enciphered, enciphered + padded);
            free(enciphered);
        }
    }
    header.TotalLength = static_cast<uint32_t>(RESPONSE_HEADER_SIZE + wire.size());

    if (HasFault(faults, FaultKind::BadPayloadLength)) header.PayloadLength += 1000;
    if (HasFault(faults, FaultKind::BadCount)) {
        if (header.Length == 0) header.Length = 1;
        header.Count = static_cast<uint32_t>(plain.size() / header.Length + 1);
    }
    bool closeAfter = false;
    size_t headerBytes = RESPONSE_HEADER_SIZE;
    size_t payloadBytes = wire.size();
    if (HasFault(faults, FaultKind::ShortLength)) {
        header.TotalLength = 43;
        payloadBytes = 0;
        closeAfter = true;
    }
    if (HasFault(faults, FaultKind::HugeLength)) {
        header.TotalLength = 0xFFFFFFF0u;
        payloadBytes = 0;
        closeAfter = true;
    }
    if (HasFault(faults, FaultKind::CloseMidPayload)) {
        if (wire.size() < 2) header.TotalLength += 100;
        payloadBytes = wire.size() / 2;
        closeAfter = true;
    }
    if (HasFault(faults, FaultKind::CloseMidHeader)) {
        headerBytes = 20;
        payloadBytes = 0;
        closeAfter = true;
    }

    uint8_t encoded[RESPONSE_HEADER_SIZE];
    WriteResponseHeader(encoded, header);
    // Header and payload leave in one send: a payload sent after a small header would wait
    // for the client's delayed acknowledgement of it (Nagle), some 40 ms per reply.
    std::vector<uint8_t> message(encoded, encoded + headerBytes);
    message.insert(message.end(), wire.begin(),
                   wire.begin() + static_cast<ptrdiff_t>(payloadBytes));
    if (!SendPart(socket, message.data(), message.size(), bytesSent)) return false;
    return !closeAfter;
}
