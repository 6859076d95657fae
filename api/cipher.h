// The payload cipher: AES-256 in electronic code book mode over 32-byte units (two
// independent 16-byte blocks each), zero-padded to whole units. One fixed key is shared
// by every client and the development server; the header never travels enciphered.
#pragma once
#include <cstddef>
#include <cstdint>

// The shared key: 64 upper-case hexadecimal digits.
extern const char XNP_CIPHER_KEY_TEXT[];

constexpr size_t XNP_CIPHER_UNIT = 32;  // bytes per cipher unit
constexpr int XNP_CIPHER_BITS = 256;

enum XNPCipherDirection : uint8_t {
    XNP_ENCIPHER = 0,
    XNP_DECIPHER = 1,
};

// One key instance. The block function builds its key schedule from the key bytes for
// each payload, so the instance keeps the key itself rather than a schedule of its own.
struct XNPCipherKey {
    uint8_t direction;     // XNP_ENCIPHER or XNP_DECIPHER
    int32_t keyBits;       // always 256
    char keyText[65];      // up to 64 hexadecimal digits and a terminating zero
    int32_t rounds;        // 14 for a 256-bit key
    uint8_t keyBytes[32];  // the key the digits spell
};

struct XNPCipherMode {
    uint8_t mode;               // 1: electronic code book, the only mode used
    uint8_t initialVector[16];  // all zero; not used in this mode
};

// The cipher part of a session: both key instances and the mode, set up together.
struct XNPCipherBlock {
    XNPCipherKey encipherKey;
    XNPCipherKey decipherKey;
    XNPCipherMode mode;
};

// 1 on success; -3 no key instance; -1 direction other than 0 or 1; -2 a character of
// the key text is not a hexadecimal digit (upper or lower case are both accepted).
int XNPCipher_MakeKey(XNPCipherKey* key, int direction, const char* keyText);
// Enciphers one 32-byte unit. 256 (bits processed), or -5 when the mode or key is
// missing or the key is a decipher instance.
int XNPCipher_EncryptUnit(const XNPCipherMode* mode, const XNPCipherKey* key, const uint8_t* input,
                          uint8_t* output);
// Deciphers one 32-byte unit. 256, or -5 when the mode or key is missing or the key is
// an encipher instance.
int XNPCipher_DecryptUnit(const XNPCipherMode* mode, const XNPCipherKey* key, const uint8_t* input,
                          uint8_t* output);

// Builds both key instances from the shared key and sets the mode. 1 on success, else 0
// (the block is then unusable and the session enciphers nothing).
int XNPCipher_SetUp(XNPCipherBlock* cipher);

// Enciphers length bytes into a new zero-padded buffer of whole units (*output, freed by
// the caller with free()) whose size goes to *outputLength. False for length 0 or when
// the block function fails; nothing is allocated then.
bool PayloadCipher_Encrypt(const XNPCipherBlock* cipher, const uint8_t* data, uint32_t length,
                           uint8_t** output, uint32_t* outputLength);
// Deciphers the whole units of length bytes into a new buffer of the same length (freed
// by the caller with free()); a trailing part shorter than a unit stays zero. A caller that
// sets *output before the call (to data itself, for one) gets the plain bytes there
// instead, and nothing is allocated. False for length 0 or when the block function fails.
bool PayloadCipher_Decrypt(const XNPCipherBlock* cipher, const uint8_t* data, uint32_t length,
                           uint8_t** output);
