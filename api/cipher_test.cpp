// The payload cipher: the published AES-256 example, the key rules and the padding.
#include "api/cipher.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Hex(const char* text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; text[i] && text[i + 1]; i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(text + i, 2), nullptr, 16)));
    }
    return bytes;
}

const char* kFipsKey = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
const char* kFipsPlain = "00112233445566778899aabbccddeeff";
const char* kFipsCipher = "8ea2b7ca516745bfeafc49904b496089";

}  // namespace

TEST(Cipher, Aes256ExampleOnBothHalvesOfAUnit) {
    XNPCipherMode mode = {1, {}};
    XNPCipherKey encipher;
    XNPCipherKey decipher;
    ASSERT_EQ(XNPCipher_MakeKey(&encipher, XNP_ENCIPHER, kFipsKey), 1);
    ASSERT_EQ(XNPCipher_MakeKey(&decipher, XNP_DECIPHER, kFipsKey), 1);
    EXPECT_EQ(encipher.rounds, 14);
    EXPECT_EQ(encipher.keyBits, 256);

    std::vector<uint8_t> unit = Hex(kFipsPlain);
    unit.insert(unit.end(), unit.begin(), unit.end());
    std::vector<uint8_t> expected = Hex(kFipsCipher);
    expected.insert(expected.end(), expected.begin(), expected.end());
    uint8_t out[32];
    ASSERT_EQ(XNPCipher_EncryptUnit(&mode, &encipher, unit.data(), out), 256);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 32), expected);  // no chaining between halves

    uint8_t back[32];
    ASSERT_EQ(XNPCipher_DecryptUnit(&mode, &decipher, out, back), 256);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 32), unit);
}

TEST(Cipher, KeyAndUnitRefusals) {
    XNPCipherKey key;
    EXPECT_EQ(XNPCipher_MakeKey(nullptr, 0, kFipsKey), -3);
    EXPECT_EQ(XNPCipher_MakeKey(&key, 2, kFipsKey), -1);
    EXPECT_EQ(XNPCipher_MakeKey(&key, 0, "00G1"), -2);
    EXPECT_EQ(XNPCipher_MakeKey(&key, 0, "ABCDEFabcdef"), 1);

    XNPCipherMode mode = {1, {}};
    XNPCipherKey decipher;
    ASSERT_EQ(XNPCipher_MakeKey(&decipher, XNP_DECIPHER, kFipsKey), 1);
    uint8_t unit[32] = {};
    uint8_t out[32];
    EXPECT_EQ(XNPCipher_EncryptUnit(&mode, &decipher, unit, out), -5);
    EXPECT_EQ(XNPCipher_EncryptUnit(nullptr, &key, unit, out), -5);
    EXPECT_EQ(XNPCipher_DecryptUnit(&mode, &key, unit, out), -5);  // an encipher instance
    EXPECT_EQ(XNPCipher_DecryptUnit(&mode, nullptr, unit, out), -5);
}

TEST(Cipher, PayloadsArePaddedToWholeUnitsWithZeros) {
    XNPCipherBlock block;
    ASSERT_EQ(XNPCipher_SetUp(&block), 1);
    EXPECT_EQ(strlen(XNP_CIPHER_KEY_TEXT), 64u);

    uint8_t* out = nullptr;
    uint32_t outLength = 0;
    const uint8_t none[1] = {};
    EXPECT_FALSE(PayloadCipher_Encrypt(&block, none, 0, &out, &outLength));

    const struct {
        uint32_t length;
        uint32_t padded;
    } cases[] = {{1, 32}, {5, 32}, {32, 32}, {33, 64}, {65000, 65024}};
    for (const auto& c : cases) {
        std::vector<uint8_t> data(c.length);
        for (uint32_t i = 0; i < c.length; ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
        ASSERT_TRUE(PayloadCipher_Encrypt(&block, data.data(), c.length, &out, &outLength));
        EXPECT_EQ(outLength, c.padded) << c.length;
        uint8_t* plain = nullptr;
        ASSERT_TRUE(PayloadCipher_Decrypt(&block, out, outLength, &plain));
        EXPECT_EQ(memcmp(plain, data.data(), c.length), 0) << c.length;
        for (uint32_t i = c.length; i < c.padded; ++i) EXPECT_EQ(plain[i], 0) << c.length;
        free(out);
        free(plain);
    }
}

TEST(Cipher, DecipherLeavesATrailingPartialUnitZero) {
    XNPCipherBlock block;
    ASSERT_EQ(XNPCipher_SetUp(&block), 1);
    uint8_t* out = nullptr;
    uint32_t outLength = 0;
    const uint8_t data[40] = {1, 2, 3};
    ASSERT_TRUE(PayloadCipher_Encrypt(&block, data, 32, &out, &outLength));
    std::vector<uint8_t> received(out, out + 32);
    received.resize(40, 0xAA);  // eight bytes that are no whole unit
    free(out);
    uint8_t* plain = nullptr;
    ASSERT_TRUE(PayloadCipher_Decrypt(&block, received.data(), 40, &plain));
    EXPECT_EQ(plain[2], 3);
    for (int i = 32; i < 40; ++i) EXPECT_EQ(plain[i], 0);
    // In place, as the exchange deciphers: the same bytes, and nothing allocated.
    std::vector<uint8_t> inPlace = received;
    uint8_t* target = inPlace.data();
    ASSERT_TRUE(PayloadCipher_Decrypt(&block, inPlace.data(), 40, &target));
    EXPECT_EQ(target, inPlace.data());
    EXPECT_EQ(std::vector<uint8_t>(plain, plain + 40), inPlace);
    free(plain);
    plain = nullptr;
    EXPECT_FALSE(PayloadCipher_Decrypt(&block, received.data(), 0, &plain));
}
