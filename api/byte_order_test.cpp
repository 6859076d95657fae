// Field access at byte offsets in both byte orders.
#include "api/byte_order.h"

#include <gtest/gtest.h>

TEST(ByteOrder, BigEndianPutsTheHighByteFirst) {
    uint8_t bytes[4];
    StoreBigEndian32(bytes, 0x11223344);
    EXPECT_EQ(bytes[0], 0x11);
    EXPECT_EQ(bytes[3], 0x44);
    EXPECT_EQ(LoadBigEndian32(bytes), 0x11223344u);
    StoreBigEndian16(bytes, 0xABCD);
    EXPECT_EQ(bytes[0], 0xAB);
    EXPECT_EQ(LoadBigEndian16(bytes), 0xABCD);
}

TEST(ByteOrder, LittleEndianPutsTheLowByteFirst) {
    uint8_t bytes[8];
    StoreLittleEndian32(bytes, 0xFDE8);  // 65000
    EXPECT_EQ(bytes[0], 0xE8);
    EXPECT_EQ(bytes[1], 0xFD);
    EXPECT_EQ(bytes[3], 0x00);
    StoreLittleEndian64(bytes, 0x0102030405060708ull);
    EXPECT_EQ(bytes[0], 0x08);
    EXPECT_EQ(bytes[7], 0x01);
    EXPECT_EQ(LoadLittleEndian64(bytes), 0x0102030405060708ull);
    const uint8_t top[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(LoadLittleEndian32(top), 0xFFFFFFFFu);
    EXPECT_EQ(LoadBigEndian32(top), 0xFFFFFFFFu);
}
