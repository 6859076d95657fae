// Base64 encoding of arbitrary bytes.
#include "api/base64.h"

#include <cstdint>
#include <cstdlib>

char* XNPBase64Encode(const void* bytes, size_t length) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (length == 0) return nullptr;
    const uint8_t* in = static_cast<const uint8_t*>(bytes);
    char* text = static_cast<char*>(malloc((length + 2) / 3 * 4 + 1));
    if (text == nullptr) return nullptr;
    char* out = text;
    for (size_t i = 0; i < length; i += 3) {
        const size_t left = length - i;
        const uint32_t group = uint32_t{in[i]} << 16 | (left > 1 ? uint32_t{in[i + 1]} << 8 : 0) |
                               (left > 2 ? uint32_t{in[i + 2]} : 0);
        *out++ = kAlphabet[group >> 18 & 63];
        *out++ = kAlphabet[group >> 12 & 63];
        *out++ = left > 1 ? kAlphabet[group >> 6 & 63] : '=';
        *out++ = left > 2 ? kAlphabet[group & 63] : '=';
    }
    *out = '\0';
    return text;
}
