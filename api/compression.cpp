// Compression of message payloads with zlib's one-shot calls.
#include "api/compression.h"

#include <zlib.h>

uint32_t CompressPayload(const uint8_t* data, uint32_t length, uint8_t* out) {
    if (length <= COMPRESSION_THRESHOLD) return 0;
    uLongf compressedLength = length;
    if (compress2(out, &compressedLength, data, length, 9) != Z_OK) return 0;
    return compressedLength < length ? static_cast<uint32_t>(compressedLength) : 0;
}

bool InflatePayload(const uint8_t* data, uint32_t length, uint8_t* out, uint32_t expectedLength) {
    uLongf inflatedLength = expectedLength;
    uLong consumed = length;
    // uncompress2 also reports how much input it used; trailing bytes after the stream
    // are tolerated, a short or damaged stream is not.
    if (uncompress2(out, &inflatedLength, data, &consumed) != Z_OK) return false;
    return inflatedLength == expectedLength;
}
