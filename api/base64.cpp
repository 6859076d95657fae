// Base64 encoding of arbitrary bytes, by OpenSSL.
#include "api/base64.h"

#include <openssl/evp.h>

#include <climits>
#include <cstdlib>

char* XNPBase64Encode(const void* bytes, size_t length) {
    if (length == 0 || length > INT_MAX / 4 * 3) return nullptr;
    char* text = static_cast<char*>(malloc((length + 2) / 3 * 4 + 1));
    if (text == nullptr) return nullptr;
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text),
                    static_cast<const unsigned char*>(bytes), static_cast<int>(length));
    return text;
}
