// AES-256 over 32-byte units with the block function of libcrypto. Each payload runs
// through one cipher context; the units are independent, so a payload is simply the
// code book applied block by block.
#include "api/cipher.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/value_format.h"

const char XNP_CIPHER_KEY_TEXT[] =
    "A8183D587A601310C902153FF899D42BD0B1742D0F300EC19ED3488EB22025A2";

namespace {

struct ContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

// Runs whole units through the block function; input and output may be the same buffer.
bool CipherUnits(const XNPCipherKey* key, const uint8_t* input, uint8_t* output, size_t units) {
    std::unique_ptr<EVP_CIPHER_CTX, ContextFree> context(EVP_CIPHER_CTX_new());
    if (!context) return false;
    const int encipher = key->direction == XNP_ENCIPHER ? 1 : 0;
    if (EVP_CipherInit_ex(context.get(), EVP_aes_256_ecb(), nullptr, key->keyBytes, nullptr,
                          encipher) != 1) {
        return false;
    }
    EVP_CIPHER_CTX_set_padding(context.get(), 0);
    size_t done = 0;
    const size_t total = units * XNP_CIPHER_UNIT;
    while (done < total) {
        // EVP counts in int; feed large payloads in slices.
        const size_t slice = total - done > (1u << 30) ? (1u << 30) : total - done;
        int written = 0;
        if (EVP_CipherUpdate(context.get(), output + done, &written, input + done,
                             static_cast<int>(slice)) != 1 ||
            static_cast<size_t>(written) != slice) {
            return false;
        }
        done += slice;
    }
    return true;
}

bool UnitUsable(const XNPCipherMode* mode, const XNPCipherKey* key, uint8_t direction) {
    return mode != nullptr && key != nullptr && key->direction == direction;
}

}  // namespace

int XNPCipher_MakeKey(XNPCipherKey* key, int direction, const char* keyText) {
    if (key == nullptr) return -3;
    if (direction != XNP_ENCIPHER && direction != XNP_DECIPHER) return -1;
    memset(key, 0, sizeof *key);
    key->direction = static_cast<uint8_t>(direction);
    key->keyBits = XNP_CIPHER_BITS;
    snprintf(key->keyText, sizeof key->keyText, "%s", keyText ? keyText : "");
    for (size_t i = 0; key->keyText[i] != '\0'; ++i) {
        const int value = HexDigitValue(key->keyText[i]);
        if (value < 0) return -2;
        key->keyBytes[i / 2] |= static_cast<uint8_t>(i % 2 == 0 ? value << 4 : value);
    }
    key->rounds = 14;
    return 1;
}

int XNPCipher_EncryptUnit(const XNPCipherMode* mode, const XNPCipherKey* key, const uint8_t* input,
                          uint8_t* output) {
    if (!UnitUsable(mode, key, XNP_ENCIPHER)) return -5;
    return CipherUnits(key, input, output, 1) ? XNP_CIPHER_BITS : -5;
}

int XNPCipher_DecryptUnit(const XNPCipherMode* mode, const XNPCipherKey* key, const uint8_t* input,
                          uint8_t* output) {
    if (!UnitUsable(mode, key, XNP_DECIPHER)) return -5;
    return CipherUnits(key, input, output, 1) ? XNP_CIPHER_BITS : -5;
}

int XNPCipher_SetUp(XNPCipherBlock* cipher) {
    if (XNPCipher_MakeKey(&cipher->decipherKey, XNP_DECIPHER, XNP_CIPHER_KEY_TEXT) != 1 ||
        XNPCipher_MakeKey(&cipher->encipherKey, XNP_ENCIPHER, XNP_CIPHER_KEY_TEXT) != 1) {
        return 0;
    }
    cipher->mode.mode = 1;
    memset(cipher->mode.initialVector, 0, sizeof cipher->mode.initialVector);
    return 1;
}

bool PayloadCipher_Encrypt(const XNPCipherBlock* cipher, const uint8_t* data, uint32_t length,
                           uint8_t** output, uint32_t* outputLength) {
    if (length == 0 || cipher == nullptr || cipher->mode.mode != 1) return false;
    const uint64_t padded =
        (uint64_t{length} + XNP_CIPHER_UNIT - 1) / XNP_CIPHER_UNIT * XNP_CIPHER_UNIT;
    if (padded > UINT32_MAX) return false;
    uint8_t* buffer = static_cast<uint8_t*>(calloc(padded, 1));
    if (buffer == nullptr) return false;
    memcpy(buffer, data, length);
    if (!CipherUnits(&cipher->encipherKey, buffer, buffer, padded / XNP_CIPHER_UNIT)) {
        free(buffer);
        return false;
    }
    *output = buffer;
    *outputLength = static_cast<uint32_t>(padded);
    return true;
}

bool PayloadCipher_Decrypt(const XNPCipherBlock* cipher, const uint8_t* data, uint32_t length,
                           uint8_t** output) {
    if (length == 0 || cipher == nullptr || cipher->mode.mode != 1) return false;
    if (*output != nullptr) {
        const size_t whole = length / XNP_CIPHER_UNIT * XNP_CIPHER_UNIT;
        if (!CipherUnits(&cipher->decipherKey, data, *output, length / XNP_CIPHER_UNIT))
            return false;
        memset(*output + whole, 0, length - whole);
        return true;
    }
    uint8_t* buffer = static_cast<uint8_t*>(calloc(length, 1));
    if (buffer == nullptr) return false;
    if (!CipherUnits(&cipher->decipherKey, data, buffer, length / XNP_CIPHER_UNIT)) {
        free(buffer);
        return false;
    }
    *output = buffer;
    return true;
}
