// Payload compression: zlib at level 9 for request payloads over 64 bytes, and the
// exact inflation of compressed response payloads.
#pragma once
#include <cstdint>

// Payloads of this many bytes or fewer are never compressed.
constexpr uint32_t COMPRESSION_THRESHOLD = 64;

// Compresses length bytes into out (length bytes of room). Returns the compressed length
// when compression succeeded and made the payload strictly shorter, else 0 (send plain).
// Payloads of COMPRESSION_THRESHOLD bytes or fewer give 0.
uint32_t CompressPayload(const uint8_t* data, uint32_t length, uint8_t* out);

// Inflates length bytes into out, which has room for exactly expectedLength bytes. True
// only when the data inflates completely to exactly expectedLength bytes.
bool InflatePayload(const uint8_t* data, uint32_t length, uint8_t* out, uint32_t expectedLength);
